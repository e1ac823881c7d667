#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "device/transfer.h"
#include "sim/sim.h"

namespace vossim {

std::array<std::uint8_t, 54> MakeCalibration(std::uint8_t resolution, double v1, double v2,
                                             const std::array<std::uint16_t, 4>& c1,
                                             const std::array<std::uint16_t, 4>& c2) {
    std::array<std::uint8_t, 54> block{};
    block[CALIBRATION_RESOLUTION_OFFSET] = resolution;
    auto putDouble = [&block](std::size_t at, double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        for (int i = 0; i < 8; ++i) block[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    };
    putDouble(CALIBRATION_V1_OFFSET, v1);
    putDouble(CALIBRATION_V2_OFFSET, v2);
    for (int c = 0; c < 4; ++c) {
        block[CALIBRATION_C1_OFFSET + 2 * c] = static_cast<std::uint8_t>(c1[c]);
        block[CALIBRATION_C1_OFFSET + 2 * c + 1] = static_cast<std::uint8_t>(c1[c] >> 8);
        block[CALIBRATION_C2_OFFSET + 2 * c] = static_cast<std::uint8_t>(c2[c]);
        block[CALIBRATION_C2_OFFSET + 2 * c + 1] = static_cast<std::uint8_t>(c2[c] >> 8);
    }
    return block;
}

namespace {

// A typical factory calibration: points at 1 V and 9 V, channels a few codes apart.
std::array<std::uint8_t, 54> TypicalCalibration(std::uint8_t resolution) {
    if (resolution == RESOLUTION_12_BIT) {
        return MakeCalibration(resolution, 1.0, 9.0, {400, 401, 402, 403}, {3600, 3599, 3598, 3597});
    }
    return MakeCalibration(resolution, 1.0, 9.0, {6400, 6403, 6406, 6409}, {57600, 57595, 57590, 57585});
}

Signal Wave(Waveform wave, double frequency, double amplitude = 4.6, double offset = 5.0) {
    return Signal{wave, frequency, amplitude, offset, 1};
}

}  // namespace

SimDevice MakeLogger(const std::string& serial, std::uint8_t resolution) {
    SimDevice device;
    device.serial = serial;
    device.resolution = resolution;
    device.calibration = TypicalCalibration(resolution);
    return device;
}

SimConfig DefaultConfig() {
    SimConfig config;
    SimDevice sixteen = MakeLogger("16001", RESOLUTION_16_BIT);
    sixteen.channels = {Wave(Waveform::Sine, 2), Wave(Waveform::Triangle, 1), Wave(Waveform::Square, 2),
                        Wave(Waveform::Sawtooth, 3)};
    SimDevice twelve = MakeLogger("12001", RESOLUTION_12_BIT);
    twelve.channels = {Wave(Waveform::Triangle, 2), Wave(Waveform::Sawtooth, 1), Wave(Waveform::Sine, 5),
                       Wave(Waveform::Square, 4)};
    config.devices = {sixteen, twelve};
    return config;
}

namespace {

struct Line {
    std::vector<std::string> words;              // words without '='
    std::map<std::string, std::string> options;  // key=value words
    std::vector<std::string> order;              // option keys in order of appearance
};

Line Split(const std::string& text) {
    Line line;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const auto equals = word.find('=');
        if (equals == std::string::npos) {
            line.words.push_back(word);
        } else {
            line.options[word.substr(0, equals)] = word.substr(equals + 1);
            line.order.push_back(word.substr(0, equals));
        }
    }
    return line;
}

template <typename T>
bool Number(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool Codes(const std::string& text, std::array<std::uint16_t, 4>& codes) {
    std::istringstream in(text);
    std::string part;
    std::size_t n = 0;
    while (std::getline(in, part, ',')) {
        if (n == 4 || !Number(part, codes[n])) return false;
        ++n;
    }
    return n == 4;
}

bool HexFrame(const std::string& text, Frame& frame) {
    if (text.size() != 16) return false;
    for (std::size_t i = 0; i < 8; ++i) {
        const auto [ptr, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, frame[i], 16);
        if (ec != std::errc() || ptr != text.data() + 2 * i + 2) return false;
    }
    return true;
}

const std::map<std::string, Call>& CallNames() {
    static const std::map<std::string, Call> names = {
        {"open", Call::Open}, {"reset", Call::Reset}, {"baud", Call::Baud}, {"purge", Call::Purge},
        {"timeouts", Call::Timeouts}, {"eeprom", Call::EepromRead}, {"write", Call::Write}, {"read", Call::Read},
        {"queue", Call::QueueStatus}, {"close", Call::Close}, {"list_description", Call::ListDescription},
        {"list_serial", Call::ListSerial}};
    return names;
}

const std::map<std::string, Waveform>& WaveNames() {
    static const std::map<std::string, Waveform> names = {
        {"dc", Waveform::Dc}, {"sine", Waveform::Sine}, {"square", Waveform::Square},
        {"triangle", Waveform::Triangle}, {"sawtooth", Waveform::Sawtooth}, {"noise", Waveform::Noise}};
    return names;
}

// Applies one line to `config`; the devices of the latest `device` line start
// at `group`. Returns an error text, empty on success; on error nothing changed.
std::string Apply(const Line& line, SimConfig& config, std::size_t& group) {
    const std::string& keyword = line.words.empty() ? std::string() : line.words[0];
    auto unknownOption = [&line](std::initializer_list<const char*> allowed) -> std::string {
        for (const std::string& key : line.order) {
            bool known = false;
            for (const char* name : allowed) known = known || key == name;
            if (!known) return "unknown option '" + key + "'";
        }
        return {};
    };
    auto option = [&line](const char* key) -> const std::string* {
        const auto it = line.options.find(key);
        return it == line.options.end() ? nullptr : &it->second;
    };

    if (keyword == "pace") {
        if (line.words.size() != 2 || !line.order.empty()) return "expected 'pace instant|realtime'";
        if (line.words[1] == "instant") config.pace = Pace::Instant;
        else if (line.words[1] == "realtime") config.pace = Pace::Realtime;
        else return "unknown pace '" + line.words[1] + "'";
        return {};
    }
    if (keyword == "bus") {
        if (auto e = unknownOption({"list_status"}); !e.empty()) return e;
        FT_STATUS status = FT_OK;
        const std::string* text = option("list_status");
        if (line.words.size() != 1 || text == nullptr || !Number(*text, status)) return "expected 'bus list_status=N'";
        config.listStatus = status;
        return {};
    }
    if (keyword == "usb") {
        if (line.words.size() == 2 && line.words[1] == "off" && line.order.empty()) {
            config.usb.packetBytes = 0;
            return {};
        }
        if (auto e = unknownOption({"packet", "latency"}); !e.empty()) return e;
        if (line.words.size() != 1 || line.order.empty()) return "expected 'usb off' or 'usb [packet=N] [latency=MS]'";
        UsbLink usb;
        const std::string* text = nullptr;
        if ((text = option("packet")) && (!Number(*text, usb.packetBytes) || usb.packetBytes == 0 || usb.packetBytes > 4096)) {
            return "packet must be 1 to 4096 bytes";
        }
        if ((text = option("latency")) && (!Number(*text, usb.latencyMs) || usb.latencyMs > 255)) {
            return "latency must be 0 to 255 ms";
        }
        config.usb = usb;
        return {};
    }
    if (keyword == "device") {
        if (auto e = unknownOption({"serial", "resolution", "description", "count"}); !e.empty()) return e;
        if (line.words.size() != 1) return "unexpected word after 'device'";
        std::uint8_t resolution = RESOLUTION_16_BIT;
        if (const std::string* text = option("resolution")) {
            if (*text == "16") resolution = RESOLUTION_16_BIT;
            else if (*text == "12") resolution = RESOLUTION_12_BIT;
            else return "resolution must be 12 or 16";
        }
        std::uint32_t count = 1;
        if (const std::string* text = option("count"); text != nullptr && (!Number(*text, count) || count == 0 || count > 4096)) {
            return "count must be 1 to 4096";
        }
        const std::string* serialText = option("serial");
        const std::string serial = serialText != nullptr ? *serialText : std::string();
        std::uint64_t first = 0;
        if (count > 1 && !Number(serial, first)) return "count needs a decimal serial";
        SimDevice device = MakeLogger(serial, resolution);
        if (const std::string* text = option("description")) device.description = *text;
        group = config.devices.size();
        for (std::uint32_t i = 0; i < count; ++i) {
            if (count > 1) device.serial = std::to_string(first + i);
            config.devices.push_back(device);
        }
        return {};
    }
    if (keyword != "calibration" && keyword != "channel" && keyword != "fault" && keyword != "script" &&
        keyword != "stop" && keyword != "clock" && keyword != "hold") {
        return keyword.empty() ? "missing keyword" : "unknown keyword '" + keyword + "'";
    }
    if (group >= config.devices.size()) return "'" + keyword + "' before any 'device' line";

    // Settings for the latest group of devices, built on a copy of its first.
    SimDevice device = config.devices[group];
    if (keyword == "calibration") {
        if (auto e = unknownOption({"resolution_code", "v1", "v2", "c1", "c2"}); !e.empty()) return e;
        if (line.words.size() != 1) return "unexpected word after 'calibration'";
        const Conversion current = ComputeConversion(device.calibration.data());
        std::uint8_t code = current.resolution;
        double v1 = 0, v2 = 0;
        std::array<std::uint16_t, 4> c1{}, c2{};
        for (int c = 0; c < 4; ++c) {
            c1[c] = static_cast<std::uint16_t>(device.calibration[CALIBRATION_C1_OFFSET + 2 * c] |
                                               device.calibration[CALIBRATION_C1_OFFSET + 2 * c + 1] << 8);
            c2[c] = static_cast<std::uint16_t>(device.calibration[CALIBRATION_C2_OFFSET + 2 * c] |
                                               device.calibration[CALIBRATION_C2_OFFSET + 2 * c + 1] << 8);
        }
        std::memcpy(&v1, &device.calibration[CALIBRATION_V1_OFFSET], 8);
        std::memcpy(&v2, &device.calibration[CALIBRATION_V2_OFFSET], 8);
        const std::string* text = nullptr;
        if ((text = option("resolution_code")) && !Number(*text, code)) return "bad resolution_code";
        if ((text = option("v1")) && !Number(*text, v1)) return "bad v1";
        if ((text = option("v2")) && !Number(*text, v2)) return "bad v2";
        if ((text = option("c1")) && !Codes(*text, c1)) return "c1 needs four codes 0-65535";
        if ((text = option("c2")) && !Codes(*text, c2)) return "c2 needs four codes 0-65535";
        device.calibration = MakeCalibration(code, v1, v2, c1, c2);
    } else if (keyword == "channel") {
        if (auto e = unknownOption({"freq", "amp", "offset", "seed"}); !e.empty()) return e;
        unsigned channel = 0;
        if (line.words.size() != 3 || !Number(line.words[1], channel) || channel > 3) {
            return "expected 'channel 0-3 <wave> ...'";
        }
        const auto wave = WaveNames().find(line.words[2]);
        if (wave == WaveNames().end()) return "unknown wave '" + line.words[2] + "'";
        Signal signal;
        signal.wave = wave->second;
        const std::string* text = nullptr;
        if ((text = option("freq")) && (!Number(*text, signal.frequency) || !std::isfinite(signal.frequency))) return "bad freq";
        if ((text = option("amp")) && (!Number(*text, signal.amplitude) || !std::isfinite(signal.amplitude))) return "bad amp";
        if ((text = option("offset")) && (!Number(*text, signal.offset) || !std::isfinite(signal.offset))) return "bad offset";
        if ((text = option("seed")) && !Number(*text, signal.seed)) return "bad seed";
        device.channels[channel] = signal;
    } else if (keyword == "fault") {
        const std::string* text = nullptr;
        if (line.words.size() == 1 && line.order.size() == 1) {
            const std::string& key = line.order[0];
            const std::string& value = line.options.at(key);
            std::uint64_t number = 0;
            if (!Number(value, number)) return "bad number for '" + key + "'";
            if (key == "stall_after") device.stallAfter = number;
            else if (key == "disconnect_after") device.disconnectAfter = number;
            else if (key == "unplug_after") device.unplugAfter = number;
            else if (key == "eeprom_count" && number <= 0xFFFFFFFFu) device.eepromCount = static_cast<std::uint32_t>(number);
            else return "unknown fault '" + key + "'";
        } else if (line.words.size() == 2 && line.words[1] == "trickle" && line.order.empty()) {
            device.trickle = true;
        } else {
            if (auto e = unknownOption({"status", "after", "times"}); !e.empty()) return e;
            const bool shortTransfer = line.words.size() == 3 && line.words[2] == "short";
            if (line.words.size() < 2 || line.words.size() > 3 || (line.words.size() == 3 && !shortTransfer)) {
                return "expected 'fault <call> status=N|short [after=N] [times=N]'";
            }
            const auto call = CallNames().find(line.words[1]);
            if (call == CallNames().end()) return "unknown call '" + line.words[1] + "'";
            CallFault fault;
            fault.shortTransfer = shortTransfer;
            if ((text = option("status")) && (!Number(*text, fault.status) || fault.status == FT_OK)) return "bad status";
            if ((text = option("after")) && !Number(*text, fault.after)) return "bad after";
            if ((text = option("times")) && !Number(*text, fault.times)) return "bad times";
            if (!fault.Active()) return "a call fault needs status=N or short";
            if (shortTransfer && call->second != Call::Write && call->second != Call::Read) return "only write and read can be short";
            device.Fault(call->second) = fault;
        }
    } else if (keyword == "stop") {
        if (auto e = unknownOption({"in_flight_ms"}); !e.empty()) return e;
        const std::string* text = option("in_flight_ms");
        if (line.words.size() != 1 || text == nullptr || !Number(*text, device.inFlightMs) || device.inFlightMs > 60000) {
            return "expected 'stop in_flight_ms=0-60000'";
        }
    } else if (keyword == "clock") {
        if (auto e = unknownOption({"ppm"}); !e.empty()) return e;
        const std::string* text = option("ppm");
        if (line.words.size() != 1 || text == nullptr || !Number(*text, device.clockPpm) || device.clockPpm < -100000 ||
            device.clockPpm > 100000) {
            return "expected 'clock ppm=-100000-100000'";
        }
    } else if (keyword == "hold") {
        if (auto e = unknownOption({"after", "ms"}); !e.empty()) return e;
        const std::string* after = option("after");
        const std::string* ms = option("ms");
        if (line.words.size() != 1 || after == nullptr || ms == nullptr || !Number(*after, device.holdAfter) ||
            !Number(*ms, device.holdMs) || device.holdMs > 600000) {
            return "expected 'hold after=FRAMES ms=0-600000'";
        }
    } else {  // script
        if (!line.order.empty() || line.words.size() < 3) return "expected 'script repeat|stall <16 hex digits>...'";
        bool stalls = false;
        if (line.words[1] == "stall") stalls = true;
        else if (line.words[1] != "repeat") return "script ends with 'repeat' or 'stall'";
        std::vector<Frame> frames;
        for (std::size_t i = 2; i < line.words.size(); ++i) {
            Frame frame{};
            if (!HexFrame(line.words[i], frame)) return "bad frame '" + line.words[i] + "'";
            frames.push_back(frame);
        }
        device.scriptStalls = stalls;
        device.script.insert(device.script.end(), frames.begin(), frames.end());
    }
    for (std::size_t i = group; i < config.devices.size(); ++i) {
        std::string serial = config.devices[i].serial;
        config.devices[i] = device;
        config.devices[i].serial = serial;
    }
    return {};
}

}  // namespace

bool ParseConfig(const std::string& text, SimConfig& out, std::string* errors) {
    out = SimConfig{};
    std::size_t group = 0;
    std::istringstream in(text);
    std::string raw;
    bool clean = true;
    for (std::size_t number = 1; std::getline(in, raw); ++number) {
        const std::string body = raw.substr(0, raw.find('#'));
        const Line line = Split(body);
        if (line.words.empty() && line.order.empty()) continue;
        const std::string error = Apply(line, out, group);
        if (error.empty()) continue;
        clean = false;
        if (errors != nullptr) *errors += "line " + std::to_string(number) + ": " + error + "\n";
    }
    return clean;
}

SimConfig ConfigFromEnvironment() {
    const char* path = std::getenv("VOS_SIM_CONFIG");
    if (path == nullptr || *path == '\0') return DefaultConfig();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "VOS simulator: cannot read " << path << "; using the default bus\n";
        return DefaultConfig();
    }
    std::ostringstream text;
    text << file.rdbuf();
    SimConfig config;
    std::string errors;
    if (!ParseConfig(text.str(), config, &errors)) std::cerr << "VOS simulator: " << path << ":\n" << errors;
    return config;
}

}  // namespace vossim
