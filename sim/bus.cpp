#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <numbers>
#include <thread>

#include "device/transfer.h"
#include "sim/sim.h"

namespace vossim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int64_t FRAME_NANOS = 100000;
constexpr std::size_t MAX_EVENTS = 4096;
constexpr ULONG DEFAULT_TIMEOUT_MS = 500;
// Frames generated at once when the instant pace refills the queue.
constexpr std::uint64_t INSTANT_BATCH_FRAMES = 512;
constexpr std::size_t RING_MASK = RECEIVE_QUEUE_BYTES - 1;
static_assert((RECEIVE_QUEUE_BYTES & RING_MASK) == 0 && RECEIVE_QUEUE_BYTES % FRAME_BYTES == 0);

struct ReversedBytes {
    std::array<std::uint8_t, 256> table{};
    ReversedBytes() {
        for (unsigned i = 0; i < 256; ++i) table[i] = ReverseBits(static_cast<std::uint8_t>(i));
    }
};
const ReversedBytes& Reversed() {
    static const ReversedBytes reversed;
    return reversed;
}

std::uint64_t SplitMix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double SignalVolts(const Signal& signal, std::uint64_t index) {
    if (signal.wave == Waveform::Dc) return signal.offset;
    if (signal.wave == Waveform::Noise) {
        const double unit = static_cast<double>(SplitMix(signal.seed ^ SplitMix(index)) >> 11) * 0x1.0p-53;
        return signal.offset + signal.amplitude * (2.0 * unit - 1.0);
    }
    constexpr double FRAME_SECONDS = 1.0 / LOGGER_FRAME_RATE;
    const double cycles = signal.frequency * FRAME_SECONDS * static_cast<double>(index);
    const double phase = cycles - std::floor(cycles);
    double shape = 0.0;
    switch (signal.wave) {
    case Waveform::Sine: shape = std::sin(2.0 * std::numbers::pi * phase); break;
    case Waveform::Square: shape = phase < 0.5 ? 1.0 : -1.0; break;
    case Waveform::Triangle: shape = phase < 0.5 ? 4.0 * phase - 1.0 : 3.0 - 4.0 * phase; break;
    case Waveform::Sawtooth: shape = 2.0 * phase - 1.0; break;
    default: break;
    }
    return signal.offset + signal.amplitude * shape;
}

// What the bus passes on to every device: the pace and the USB link.
struct Link {
    Pace pace = Pace::Realtime;
    UsbLink usb;
};

// Runtime state of one device on the bus.
struct Device {
    explicit Device(const SimDevice& config) : cfg(config), ring(RECEIVE_QUEUE_BYTES) {
        const Conversion conversion = ComputeConversion(cfg.calibration.data());
        shift = cfg.resolution == RESOLUTION_12_BIT ? 4 : 0;
        maxCode = cfg.resolution == RESOLUTION_12_BIT ? 4095.0 : 65535.0;
        for (int c = 0; c < 4; ++c) {
            inverseGain[c] = 1.0 / conversion.gain[c];
            offset[c] = conversion.offset[c];
        }
        frameLimit = std::min(cfg.stallAfter, cfg.unplugAfter);
        if (!cfg.script.empty() && cfg.scriptStalls) frameLimit = std::min<std::uint64_t>(frameLimit, cfg.script.size());
    }

    SimDevice cfg;
    double inverseGain[4] = {};
    double offset[4] = {};
    int shift = 0;
    double maxCode = 0;
    std::uint64_t frameLimit = NEVER;

    // The receive queue; its newest `chipBytes` bytes are still in the chip.
    std::vector<std::uint8_t> ring;
    std::size_t head = 0;
    std::size_t size = 0;
    std::size_t chipBytes = 0;
    std::size_t trickleVisible = 0;
    Clock::time_point lastPacket{};    // the chip's latency timer restarts here
    Clock::time_point chipSince{};     // arrival of the oldest byte in the chip

    bool started = false;  // start byte seen, no stop byte since
    bool active = false;   // started since plugged in: frames flow while the timeline is below Limit()
    std::uint64_t sendEnd = NEVER;  // frames of this stream in all, once the stop byte set it
    Clock::time_point start{};
    std::uint64_t timeline = 0;  // frames the logger has sent since the start, lost ones included
    std::uint64_t bytesSinceStart = 0;
    bool disconnected = false;
    bool unplugged = false;
    bool held = false;  // the host stall of this stream is over
    ULONG readTimeoutMs = DEFAULT_TIMEOUT_MS;
    std::array<std::uint32_t, static_cast<std::size_t>(Call::Count)> calls{};
    DeviceStats stats;

    void Event(std::string text) {
        if (stats.events.size() < MAX_EVENTS) stats.events.push_back(std::move(text));
    }

    bool Tracing() const { return stats.calls.size() < MAX_EVENTS; }
    void Trace(std::string text) {
        if (Tracing()) stats.calls.push_back(std::move(text));
    }

    std::uint64_t Limit() const { return std::min(frameLimit, sendEnd); }

    // Frames the logger's crystal has sent in `elapsed` since the start.
    std::uint64_t FramesIn(Clock::duration elapsed) const {
        const std::int64_t nanos = std::chrono::nanoseconds(elapsed).count();
        if (cfg.clockPpm == 0) return static_cast<std::uint64_t>(nanos / FRAME_NANOS);
        return static_cast<std::uint64_t>(static_cast<double>(nanos) * (1.0 + cfg.clockPpm * 1e-6) / FRAME_NANOS);
    }
    // When frame `index` (0-based) has been sent.
    Clock::time_point FrameEnd(std::uint64_t index) const {
        const auto nanos = static_cast<std::int64_t>(index + 1) * FRAME_NANOS;
        if (cfg.clockPpm == 0) return start + std::chrono::nanoseconds(nanos);
        return start + std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<double>(nanos) / (1.0 + cfg.clockPpm * 1e-6)));
    }

    void MakeFrame(std::uint64_t index, std::uint8_t* out) const {
        if (!cfg.script.empty()) {
            const auto& frame = cfg.script[std::min<std::uint64_t>(index, cfg.script.size() - 1)];
            std::memcpy(out, frame.data(), frame.size());
            return;
        }
        const auto& reversed = Reversed().table;
        for (int c = 0; c < 4; ++c) {
            const double volts = SignalVolts(cfg.channels[c], index);
            double code = (volts - offset[c]) * inverseGain[c];
            if (!(code >= 0.0)) code = 0.0;
            if (code > maxCode) code = maxCode;
            const unsigned word = static_cast<unsigned>(code + 0.5) << shift;
            out[2 * c] = reversed[word >> 8 & 0xFF];
            out[2 * c + 1] = reversed[word & 0xFF];
        }
    }

    // Frame `timeline` into the queue, or lost at a full one; advances the timeline.
    bool SendFrame() {
        const std::uint64_t index = timeline++;
        if (RECEIVE_QUEUE_BYTES - size < FRAME_BYTES) {
            stats.overruns++;
            return false;
        }
        std::uint8_t frame[FRAME_BYTES];
        MakeFrame(index, frame);
        const std::size_t tail = (head + size) & RING_MASK;
        const std::size_t first = std::min<std::size_t>(FRAME_BYTES, RECEIVE_QUEUE_BYTES - tail);
        std::memcpy(&ring[tail], frame, first);
        std::memcpy(&ring[0], frame + first, FRAME_BYTES - first);
        size += FRAME_BYTES;
        stats.framesSent++;
        if (!started) stats.framesAfterStop++;
        return true;
    }

    // Hands the bytes waiting in the chip over when its latency timer, which
    // restarts with every packet and fires every period after it, fired by `now`.
    void FlushChip(Clock::time_point now, const UsbLink& usb) {
        if (chipBytes == 0) return;
        const Clock::duration latency = std::chrono::milliseconds(usb.latencyMs);
        Clock::time_point fire = lastPacket + latency;
        if (latency.count() > 0 && chipSince > fire) {
            fire += latency * ((chipSince - fire + latency - Clock::duration(1)) / latency);
        }
        if (fire > now) return;
        chipBytes = 0;
        lastPacket = fire;
    }

    // Bytes of a frame just queued pass through the chip in whole packets.
    void IntoChip(Clock::time_point at, const UsbLink& usb) {
        if (chipBytes == 0) chipSince = at;
        chipBytes += FRAME_BYTES;
        if (chipBytes < usb.packetBytes) return;
        chipBytes %= usb.packetBytes;
        lastPacket = chipSince = at;
    }

    // Brings the receive queue up to date: at the realtime pace with every
    // frame due by now, at the instant pace with at least `wantBytes`.
    void Produce(const Link& link, std::size_t wantBytes) {
        if (!active) return;
        const std::uint64_t limit = Limit();
        if (link.pace == Pace::Realtime) {
            const auto now = Clock::now();
            const bool packets = link.usb.packetBytes != 0;
            const auto due = std::min(FramesIn(now - start), limit);
            while (timeline < due) {
                const auto at = FrameEnd(timeline);
                if (packets) FlushChip(at, link.usb);
                if (SendFrame() && packets) IntoChip(at, link.usb);
            }
            if (packets) FlushChip(now, link.usb);
            return;
        }
        if (size >= wantBytes || timeline >= limit) return;
        const std::uint64_t needed = (wantBytes - size + FRAME_BYTES - 1) / FRAME_BYTES;
        const std::uint64_t room = (RECEIVE_QUEUE_BYTES - size) / FRAME_BYTES;
        PushInstant(std::min({std::max(needed, INSTANT_BATCH_FRAMES), room, limit - timeline}));
    }

    void PushInstant(std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i) SendFrame();
    }

    void StartCommand(Clock::time_point now) {
        started = active = true;
        start = now;
        if (chipBytes == 0) lastPacket = now;
        timeline = 0;
        held = false;
        sendEnd = NEVER;
        bytesSinceStart = 0;
        stats.framesSent = 0;
        stats.framesAfterStop = 0;
    }

    // The logger stops, but the frames of the next `inFlightMs` are on their way.
    void StopCommand(const Link& link) {
        Produce(link, 0);
        started = false;
        const std::uint64_t inFlight = std::uint64_t{cfg.inFlightMs} * LOGGER_FRAME_RATE / 1000;
        sendEnd = std::min(Limit(), timeline + inFlight);
        if (link.pace == Pace::Instant) {
            const std::uint64_t room = (RECEIVE_QUEUE_BYTES - size) / FRAME_BYTES;
            PushInstant(std::min(room, Limit() - timeline));
        }
    }

    // Time passes for the device; a logger that has sent its last frame before
    // an unplug leaves the bus (at the instant pace once those were read).
    void Refresh(const Link& link) {
        if (link.pace == Pace::Realtime) Produce(link, 0);
        if (unplugged || !active || timeline < cfg.unplugAfter) return;
        if (link.pace == Pace::Instant && size != 0) return;
        unplugged = true;
        started = active = false;
        ClearReceive();
    }

    std::size_t HostBytes() const { return size - chipBytes; }
    std::size_t Visible() const { return cfg.trickle ? std::min(trickleVisible, HostBytes()) : HostBytes(); }

    void Pop(std::uint8_t* out, std::size_t count) {
        const std::size_t first = std::min(count, RECEIVE_QUEUE_BYTES - head);
        std::memcpy(out, &ring[head], first);
        std::memcpy(out + first, &ring[0], count - first);
        head = (head + count) & RING_MASK;
        size -= count;
        trickleVisible -= std::min(trickleVisible, count);
        stats.bytesRead += count;
        bytesSinceStart += count;
        if (bytesSinceStart / FRAME_BYTES >= cfg.disconnectAfter) disconnected = true;
    }

    void ClearReceive() {
        head = size = chipBytes = trickleVisible = 0;
    }

    // Purging the receive side empties the driver's queue and the chip; frames
    // still on their way after a stop byte arrive later.
    void PurgeReceive(const Link& link) {
        Produce(link, 0);
        stats.inFlightAtPurge = active && !started ? Limit() - timeline : 0;
        ClearReceive();
    }

    // Counts the call and returns an injected status, if one applies.
    FT_STATUS Inject(Call call, bool* shortTransfer = nullptr) {
        const std::uint32_t made = calls[static_cast<std::size_t>(call)]++;
        const CallFault& fault = cfg.Fault(call);
        if (!fault.Active() || made < fault.after) return FT_OK;
        if (fault.times != 0 && made - fault.after >= fault.times) return FT_OK;
        if (fault.status != FT_OK) return fault.status;
        if (shortTransfer != nullptr) *shortTransfer = fault.shortTransfer;
        return FT_OK;
    }
};

struct Bus {
    Link link;
    FT_STATUS listStatus = FT_OK;
    std::vector<std::unique_ptr<Device>> devices;
    // Open handles and their device index; a few at most, so searched linearly.
    std::vector<std::pair<std::uintptr_t, std::size_t>> handles;

    auto FindHandle(FT_HANDLE handle) {
        const auto id = reinterpret_cast<std::uintptr_t>(handle);
        return std::find_if(handles.begin(), handles.end(), [id](const auto& entry) { return entry.first == id; });
    }
    std::uintptr_t nextHandle = 0x1000;

    // Indices of the devices still on the bus.
    std::vector<std::size_t> Present() {
        std::vector<std::size_t> present;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            devices[i]->Refresh(link);
            if (!devices[i]->unplugged) present.push_back(i);
        }
        return present;
    }
};

std::mutex g_mutex;
std::unique_ptr<Bus> g_bus;

std::unique_ptr<Bus> Build(const SimConfig& config) {
    auto bus = std::make_unique<Bus>();
    bus->link = Link{config.pace, config.usb};
    bus->listStatus = config.listStatus;
    for (const SimDevice& device : config.devices) bus->devices.push_back(std::make_unique<Device>(device));
    return bus;
}

Bus& TheBus() {
    if (!g_bus) g_bus = Build(DefaultConfig());
    return *g_bus;
}

Device* Find(Bus& bus, FT_HANDLE handle) {
    const auto it = bus.FindHandle(handle);
    return it == bus.handles.end() ? nullptr : bus.devices[it->second].get();
}

// `device` (that of an open handle, or null) brought up to date, for a call
// that needs it on the bus and connected; `status` says why there is none.
Device* Usable(Bus& bus, Device* device, FT_STATUS& status) {
    if (device == nullptr) {
        status = FT_INVALID_HANDLE;
        return nullptr;
    }
    device->Refresh(bus.link);
    status = device->disconnected || device->unplugged ? FT_IO_ERROR : FT_OK;
    return status == FT_OK ? device : nullptr;
}

Device* Attached(Bus& bus, FT_HANDLE handle, FT_STATUS& status) { return Usable(bus, Find(bus, handle), status); }

std::string Hex(unsigned value) {
    static const char digits[] = "0123456789abcdef";
    return {digits[value >> 4 & 0xF], digits[value & 0xF]};
}

// Attached, after recording the call on the handle's device: its name and
// either its numbers in decimal or the bytes of `data` in hex.
Device* Called(Bus& bus, FT_HANDLE handle, FT_STATUS& status, const char* name,
               std::initializer_list<unsigned long> args = {}, const std::uint8_t* data = nullptr,
               std::size_t length = 0) {
    Device* device = Find(bus, handle);
    if (device != nullptr && device->Tracing()) {
        std::string text = name;
        for (unsigned long arg : args) text += " " + std::to_string(arg);
        for (std::size_t i = 0; data != nullptr && i < length; ++i) text += " " + Hex(data[i]);
        device->Trace(std::move(text));
    }
    return Usable(bus, device, status);
}

void CopyText(const std::string& text, void* out) {
    // The driver's texts fit in 64 bytes with their terminating zero.
    const std::size_t length = std::min<std::size_t>(text.size(), 63);
    std::memcpy(out, text.data(), length);
    static_cast<char*>(out)[length] = '\0';
}

FT_STATUS ListDevices(void* arg1, void* arg2, DWORD flags) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    const std::vector<std::size_t> present = bus.Present();
    if (flags & FT_LIST_NUMBER_ONLY) {
        if (bus.listStatus != FT_OK) return bus.listStatus;
        if (arg1 == nullptr) return FT_INVALID_PARAMETER;
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(present.size());
        return FT_OK;
    }
    if (!(flags & FT_LIST_BY_INDEX)) return FT_NOT_SUPPORTED;
    const auto index = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(arg1));
    if (index >= present.size()) return FT_DEVICE_NOT_FOUND;
    if (arg2 == nullptr) return FT_INVALID_PARAMETER;
    Device& device = *bus.devices[present[index]];
    const DWORD what = flags & (FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION);
    if (what == FT_OPEN_BY_DESCRIPTION) {
        const FT_STATUS status = device.Inject(Call::ListDescription);
        if (status != FT_OK) return status;
        CopyText(device.cfg.description, arg2);
        return FT_OK;
    }
    if (what == FT_OPEN_BY_SERIAL_NUMBER) {
        const FT_STATUS status = device.Inject(Call::ListSerial);
        if (status != FT_OK) return status;
        CopyText(device.cfg.serial, arg2);
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS OpenEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    if (arg1 == nullptr || handle == nullptr) return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION) return FT_INVALID_PARAMETER;
    const char* wanted = static_cast<const char*>(arg1);
    const std::vector<std::size_t> present = bus.Present();
    const auto match = std::find_if(present.begin(), present.end(), [&](std::size_t i) {
        const SimDevice& cfg = bus.devices[i]->cfg;
        return (flags == FT_OPEN_BY_SERIAL_NUMBER ? cfg.serial : cfg.description) == wanted;
    });
    if (match == present.end()) return FT_DEVICE_NOT_FOUND;
    const std::size_t index = *match;
    Device& device = *bus.devices[index];
    device.Trace(std::string("FT_OpenEx ") + wanted + " " + std::to_string(flags));
    const FT_STATUS status = device.Inject(Call::Open);
    if (status != FT_OK) return status;
    if (device.stats.openHandles != 0) return FT_DEVICE_NOT_OPENED;
    const std::uintptr_t id = bus.nextHandle++;
    bus.handles.emplace_back(id, index);
    device.stats.opens++;
    device.stats.openHandles++;
    device.readTimeoutMs = DEFAULT_TIMEOUT_MS;
    device.Event("open");
    *handle = reinterpret_cast<FT_HANDLE>(id);
    return FT_OK;
}

// A configuration call: status checks, the injected fault and an event
// ("purge 3": the event's name and the call's arguments).
template <typename Action>
FT_STATUS Configure(FT_HANDLE handle, Call call, const char* eventName, const char* name,
                    std::initializer_list<unsigned long> args, Action action) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    FT_STATUS status;
    Device* device = Called(bus, handle, status, name, args);
    if (device == nullptr) return status;
    std::string event = eventName;
    for (const unsigned long arg : args) event += " " + std::to_string(arg);
    device->Event(event);
    status = device->Inject(call);
    if (status != FT_OK) return status;
    return action(bus, *device);
}

FT_STATUS ResetDevice(FT_HANDLE handle) {
    return Configure(handle, Call::Reset, "reset", "FT_ResetDevice", {}, [](Bus&, Device&) { return FT_OK; });
}

FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return Configure(handle, Call::Baud, "baud", "FT_SetBaudRate", {baud},
                     [baud](Bus&, Device&) { return baud == 0 ? FT_INVALID_BAUD_RATE : FT_OK; });
}

FT_STATUS Purge(FT_HANDLE handle, ULONG mask) {
    return Configure(handle, Call::Purge, "purge", "FT_Purge", {mask},
                     [mask](Bus& bus, Device& device) {
                         if (mask & FT_PURGE_RX) device.PurgeReceive(bus.link);
                         return FT_OK;
                     });
}

FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return Configure(handle, Call::Timeouts, "timeouts", "FT_SetTimeouts", {readMs, writeMs}, [readMs](Bus&, Device& device) {
                         device.readTimeoutMs = readMs;
                         return FT_OK;
                     });
}

FT_STATUS EeUaRead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead) {
    std::lock_guard lock(g_mutex);
    FT_STATUS status;
    Device* device = Called(TheBus(), handle, status, "FT_EE_UARead", {length});
    if (device == nullptr) return status;
    if (data == nullptr || bytesRead == nullptr) return FT_INVALID_PARAMETER;
    status = device->Inject(Call::EepromRead);
    if (status != FT_OK) return status;
    const DWORD count = std::min<DWORD>(length, device->cfg.eepromCount);
    for (DWORD i = 0; i < count; ++i) data[i] = i < device->cfg.calibration.size() ? device->cfg.calibration[i] : 0;
    *bytesRead = count;
    device->Event("eeprom " + std::to_string(count));
    return FT_OK;
}

FT_STATUS Write(FT_HANDLE handle, void* buffer, DWORD length, DWORD* written) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    FT_STATUS status;
    Device* device = Called(bus, handle, status, "FT_Write", {}, bytes, length);
    if (device == nullptr) return status;
    if ((buffer == nullptr && length != 0) || written == nullptr) return FT_INVALID_PARAMETER;
    bool shortTransfer = false;
    status = device->Inject(Call::Write, &shortTransfer);
    if (status != FT_OK) return status;
    const DWORD count = shortTransfer && length != 0 ? length - 1 : length;
    const auto now = Clock::now();
    for (DWORD i = 0; i < count; ++i) {
        device->Event("write " + Hex(bytes[i]));
        if (bytes[i] == COMMAND_START && !device->started) {
            device->StartCommand(now);
        } else if (bytes[i] == COMMAND_STOP && device->started) {
            device->StopCommand(bus.link);
        }
    }
    *written = count;
    return FT_OK;
}

FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD length, DWORD* received) {
    std::unique_lock lock(g_mutex);
    FT_STATUS status;
    Device* device = Called(TheBus(), handle, status, "FT_Read", {length});
    if (device == nullptr) return status;
    if ((buffer == nullptr && length != 0) || received == nullptr) return FT_INVALID_PARAMETER;
    bool shortTransfer = false;
    status = device->Inject(Call::Read, &shortTransfer);
    if (status != FT_OK) return status;
    const std::size_t wanted = shortTransfer && length != 0 ? length - 1 : length;
    device->Produce(TheBus().link, wanted);
    if (device->Visible() < wanted) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(device->readTimeoutMs);
        for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
            // Wait for more bytes without holding the bus.
            lock.unlock();
            std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(1), deadline - now));
            lock.lock();
            Bus& bus = TheBus();
            device = Attached(bus, handle, status);
            if (device == nullptr) return status;
            device->Produce(bus.link, wanted);
            if (device->Visible() >= wanted) break;
        }
    }
    const std::size_t count = std::min(device->Visible(), wanted);
    device->Pop(static_cast<std::uint8_t*>(buffer), count);
    if (count < length) device->stats.shortReads++;
    *received = static_cast<DWORD>(count);
    return FT_OK;
}

FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    std::unique_lock lock(g_mutex);
    FT_STATUS status;
    Device* device = Called(TheBus(), handle, status, "FT_GetQueueStatus");
    if (device == nullptr) return status;
    if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
    if (device->started && !device->held && device->bytesSinceStart / FRAME_BYTES >= device->cfg.holdAfter) {
        device->held = true;
        // The stalled host holds no lock: the logger's frames go on arriving, or are lost at a full queue.
        const auto holdMs = device->cfg.holdMs;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        lock.lock();
        device = Attached(TheBus(), handle, status);
        if (device == nullptr) return status;
    }
    Bus& bus = TheBus();
    device->stats.queuePolls++;
    status = device->Inject(Call::QueueStatus);
    if (status != FT_OK) return status;
    device->Produce(bus.link, FRAME_BYTES);
    if (device->cfg.trickle && device->trickleVisible < device->HostBytes()) device->trickleVisible++;
    *rxBytes = static_cast<DWORD>(device->Visible());
    return FT_OK;
}

// Releases the handle, also of a logger that has left the bus.
FT_STATUS Close(FT_HANDLE handle) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    const auto it = bus.FindHandle(handle);
    if (it == bus.handles.end()) return FT_INVALID_HANDLE;
    Device& device = *bus.devices[it->second];
    device.Trace("FT_Close");
    const FT_STATUS status = device.Inject(Call::Close);
    if (status != FT_OK) return status;
    bus.handles.erase(it);
    device.stats.openHandles--;
    device.Event("close");
    return FT_OK;
}

const D2xxApi API = {ListDevices, OpenEx, ResetDevice, SetBaudRate, Purge, SetTimeouts,
                     EeUaRead, Write, Read, GetQueueStatus, Close};

}  // namespace

void Install(const SimConfig& config) {
    auto bus = Build(config);
    std::lock_guard lock(g_mutex);
    g_bus = std::move(bus);
}

const D2xxApi& Api() { return API; }

DeviceStats Stats(std::size_t device) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    if (device >= bus.devices.size()) return {};
    const Device& state = *bus.devices[device];
    DeviceStats stats = state.stats;
    stats.streaming = state.started;
    stats.unplugged = state.unplugged;
    return stats;
}

std::uint64_t OverrunCount(std::size_t device) {
    std::lock_guard lock(g_mutex);
    Bus& bus = TheBus();
    return device < bus.devices.size() ? bus.devices[device]->stats.overruns : 0;
}

std::size_t OpenHandleCount() {
    std::lock_guard lock(g_mutex);
    return TheBus().handles.size();
}

}  // namespace vossim
