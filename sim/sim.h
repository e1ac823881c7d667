#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "device/d2xx.h"

/// A simulated bus of FTDI devices behind the D2XX function table: loggers
/// streaming synthetic signals or scripted frames, foreign devices, and
/// injected driver faults. One process-wide bus, guarded by a mutex.
namespace vossim {

/// How fast frames arrive after the start command.
enum class Pace {
    Realtime,  ///< 10000 frames per second against the monotonic clock
    Instant,   ///< frames are always waiting
};

enum class Waveform { Dc, Sine, Square, Triangle, Sawtooth, Noise };

/// One channel's signal in volts: offset + amplitude * shape(frequency * t).
/// Dc is the offset alone; Noise is uniform in +-amplitude, seeded.
struct Signal {
    Waveform wave = Waveform::Dc;
    double frequency = 0.0;  ///< Hz
    double amplitude = 0.0;  ///< volts
    double offset = 0.0;     ///< volts
    std::uint64_t seed = 1;  ///< Noise only
};

/// Driver calls whose failure can be injected.
enum class Call {
    Open, Reset, Baud, Purge, Timeouts, EepromRead, Write, Read, QueueStatus, Close,
    ListDescription, ListSerial,
    Count
};

/// An injected failure: the first `after` calls succeed, the next `times`
/// calls (all of them when 0) return `status`, or, when `status` is FT_OK and
/// `shortTransfer` is set, move one byte fewer than asked (Write, Read).
struct CallFault {
    FT_STATUS status = FT_OK;
    bool shortTransfer = false;
    std::uint32_t after = 0;
    std::uint32_t times = 0;
    bool Active() const { return status != FT_OK || shortTransfer; }
};

using Frame = std::array<std::uint8_t, 8>;
inline constexpr std::uint64_t NEVER = std::numeric_limits<std::uint64_t>::max();

/// How the USB chip hands received bytes to the driver at the realtime pace:
/// in packets of `packetBytes` payload bytes, and a partly filled packet when
/// the latency timer fires. `packetBytes` 0 hands over every frame at once.
struct UsbLink {
    std::uint32_t packetBytes = 62;  ///< a full-speed chip's 64-byte packet less its 2 status bytes
    std::uint32_t latencyMs = 16;    ///< the chip's default latency timer
};

struct SimDevice {
    std::string description = "VOS-XX";
    std::string serial;
    std::uint8_t resolution = 2;  ///< calibration resolution code: 0 = 12-bit, 2 = 16-bit
    std::array<std::uint8_t, 54> calibration{};
    std::array<Signal, 4> channels{};
    std::vector<Frame> script;  ///< when non-empty, streamed instead of the signals
    bool scriptStalls = false;  ///< after the script: stall (true) or repeat its last frame
    std::array<CallFault, static_cast<std::size_t>(Call::Count)> faults{};
    std::uint32_t eepromCount = 54;      ///< bytes the calibration read delivers
    std::uint64_t stallAfter = NEVER;     ///< frames sent after a start command, then silence
    std::uint64_t disconnectAfter = NEVER;  ///< frames read after a start, then FT_IO_ERROR
    std::uint64_t unplugAfter = NEVER;      ///< frames sent after a start, then the logger leaves the bus
    std::uint32_t inFlightMs = 3;           ///< frames keep arriving this long after the stop byte
    bool trickle = false;  ///< each queue poll reveals one more received byte
    /// The logger's crystal: frames come this many parts per million faster
    /// (positive) or slower (negative) than 10000 per second; realtime pace only.
    std::int32_t clockPpm = 0;
    /// The host stalls, as a stopped or suspended process would: the first
    /// queue poll after `holdAfter` frames were read since a start command
    /// returns only `holdMs` later, while the logger goes on sending.
    std::uint64_t holdAfter = NEVER;
    std::uint32_t holdMs = 0;

    CallFault& Fault(Call call) { return faults[static_cast<std::size_t>(call)]; }
    const CallFault& Fault(Call call) const { return faults[static_cast<std::size_t>(call)]; }
};

struct SimConfig {
    Pace pace = Pace::Realtime;
    FT_STATUS listStatus = FT_OK;  ///< status of the device-count query
    UsbLink usb;                   ///< realtime pace only
    std::vector<SimDevice> devices;
};

/// Receive queue size per device, the driver's; frames arriving at a full queue are lost.
inline constexpr std::size_t RECEIVE_QUEUE_BYTES = D2XX_RECEIVE_QUEUE_BYTES;

/// The 54-byte calibration block with the given fields.
std::array<std::uint8_t, 54> MakeCalibration(std::uint8_t resolution, double v1, double v2,
                                             const std::array<std::uint16_t, 4>& c1,
                                             const std::array<std::uint16_t, 4>& c2);
/// A logger with a typical calibration for its resolution and 0 V on every channel.
SimDevice MakeLogger(const std::string& serial, std::uint8_t resolution);
/// Two loggers, 16-bit "16001" and 12-bit "12001", each with four distinct
/// signals sweeping 0.4 V to 9.6 V at 1 Hz or faster; realtime pace.
SimConfig DefaultConfig();
/// Parses the text format of sim/README.md into `out` (starting from an empty
/// realtime bus). Bad lines are skipped and described in `*errors`; returns
/// false when there was any.
bool ParseConfig(const std::string& text, SimConfig& out, std::string* errors);
/// The bus named by the file in VOS_SIM_CONFIG, or DefaultConfig() without
/// it. Problems are reported on stderr; an unreadable file gives the default.
SimConfig ConfigFromEnvironment();

/// Replaces the process-wide bus; handles of the old bus become invalid.
void Install(const SimConfig& config);
/// The D2XX function table driving the process-wide bus.
const D2xxApi& Api();

/// What happened to one device since Install.
struct DeviceStats {
    std::uint64_t overruns = 0;     ///< frames lost at a full receive queue
    std::uint64_t framesSent = 0;   ///< frames put into the receive queue since the last start
    std::uint64_t framesAfterStop = 0;  ///< of those, frames that arrived after the stop byte
    /// Frames the logger still had to send after its stop byte when the last
    /// receive purge came: they arrive after the purge.
    std::uint64_t inFlightAtPurge = 0;
    std::uint64_t bytesRead = 0;    ///< bytes delivered by FT_Read since Install
    std::uint64_t shortReads = 0;   ///< FT_Read calls that delivered fewer bytes than asked
    std::uint64_t queuePolls = 0;   ///< FT_GetQueueStatus calls
    std::uint64_t opens = 0;
    std::uint64_t openHandles = 0;
    bool streaming = false;
    bool unplugged = false;         ///< the logger has left the bus
    /// The first 4096 of: "open", "close", each byte written ("write 53"), and
    /// each reset, baud, purge and time-out call, failed ones included ("purge 3").
    std::vector<std::string> events;
    /// The first 4096 driver calls on the device with their arguments, failed
    /// ones included: "FT_OpenEx 16001 1", "FT_ResetDevice",
    /// "FT_SetBaudRate 3000000", "FT_Purge 3", "FT_SetTimeouts 500 500",
    /// "FT_EE_UARead 54", "FT_Write 53" (the bytes in hex), "FT_GetQueueStatus",
    /// "FT_Read 8" (the length asked), "FT_Close".
    std::vector<std::string> calls;
};

DeviceStats Stats(std::size_t device);
std::uint64_t OverrunCount(std::size_t device);
/// Handles open on the whole bus.
std::size_t OpenHandleCount();

}  // namespace vossim
