#include "cli/options.h"

#include <cstddef>

#include "settings/settings.h"
#include "device/access.h"
#include "numtext/numtext.h"

namespace vosctl {

namespace {

int FindName(const std::string& text, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (text == names[i]) {
            return i;
        }
    }
    return -1;
}

std::string Refuse(const std::string& text, const char* const* names, int count) {
    return "\"" + text + "\" is not one of " + JoinNames(names, count);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string JoinNames(const char* const* names, int count) {
    std::string joined;
    for (int i = 0; i < count; ++i) {
        joined += (i == 0 ? "" : ", ");
        joined += names[i];
    }
    return joined;
}

std::string ParseClock(const std::string& text, std::int32_t& divider) {
    const int index = FindName(text, CLOCK_TEXTS, CLOCK_ENTRY_COUNT);
    if (index < 0) {
        return Refuse(text, CLOCK_TEXTS, CLOCK_ENTRY_COUNT);
    }
    divider = ClockDividerForIndex(index);
    return {};
}

CLI::Option* AddWholeOption(CLI::App& command, const std::string& name, std::string& value, std::uint64_t min,
                            std::uint64_t max, const std::string& description) {
    return command.add_option(name, value, description)
        ->type_name("N")
        ->check(CLI::Validator(
            [min, max](std::string& text) {
                std::uint64_t number = 0;
                return ParseWhole(text, min, max, number);
            },
            ""));
}

std::string ParseCount(const std::string& text, std::uint32_t& count) {
    std::uint64_t value = 0;
    std::string refusal = ParseWhole(text, 1, MAX_SAMPLE_COUNT, value);
    count = static_cast<std::uint32_t>(value);
    return refusal;
}

std::string ParseCsvChannel(const std::string& text, int& selection) {
    selection = FindName(text, CSV_CHANNEL_TEXTS, CSV_CHANNEL_ALL + 1);
    return selection < 0 ? Refuse(text, CSV_CHANNEL_TEXTS, CSV_CHANNEL_ALL + 1) : std::string();
}

CLI::Option* AddCsvChannelOption(CLI::App& command, std::string& channel) {
    return command
        .add_option("--channel", channel, "CSV channels: " + JoinNames(CSV_CHANNEL_TEXTS, CSV_CHANNEL_ALL + 1))
        ->type_name("CH")
        ->check(Check(&ParseCsvChannel))
        ->capture_default_str();
}

std::string ParseTrigger(const std::string& text, TriggerChoice& trigger) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        return "\"" + text + "\" is not CH:TYPE:VOLTS, e.g. CH0:Level-H:2.5";
    }
    const std::string channel = text.substr(0, first);
    const std::string type = text.substr(first + 1, second - first - 1);
    const std::string volts = text.substr(second + 1);
    const int channelIndex = FindName(channel, TRIGGER_CHANNEL_TEXTS, 4);
    if (channelIndex < 0) {
        return "trigger channel " + Refuse(channel, TRIGGER_CHANNEL_TEXTS, 4);
    }
    const int typeIndex = FindName(type, TRIGGER_TYPE_TEXTS, 4);
    if (typeIndex < 0) {
        return "trigger type " + Refuse(type, TRIGGER_TYPE_TEXTS, 4);
    }
    if (!ParseReal(volts, trigger.threshold)) {
        return "threshold \"" + volts + "\" is not a number of volts such as 2.5, -0.25 or 1E-3";
    }
    trigger.channel = static_cast<std::uint8_t>(channelIndex);
    trigger.type = static_cast<std::uint8_t>(typeIndex);
    return {};
}

std::string ParseSerial(const std::string& text, std::int32_t& serial) {
    serial = SerialTextToLong(text.c_str());
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || serial == 0 || serial == INT32_MAX) {
        return "\"" + text + "\" is not a serial number as vosctl list shows them (1 to 2147483646)";
    }
    return {};
}

std::string ParseOutputKind(const std::string& path, OutputKind& kind) {
    if (path == "-" || EndsWith(path, ".csv")) {
        kind = OutputKind::Csv;
    } else if (EndsWith(path, ".dlf")) {
        kind = OutputKind::Dlf;
    } else {
        return "\"" + path + "\" does not end in .dlf or .csv and is not - (standard output, CSV)";
    }
    return {};
}

void AddStreamOptions(CLI::App& command, std::string& serial, std::string& clock, std::string& trigger) {
    command.add_option("--serial", serial, "Logger to use (default: the last one found, as the window's Search selects it)")
        ->type_name("N")
        ->check(Check(&ParseSerial));
    command.add_option("--clock", clock, "Sampling Clock: " + JoinNames(CLOCK_TEXTS, CLOCK_ENTRY_COUNT))
        ->type_name("CLOCK")
        ->check(Check(&ParseClock))
        ->capture_default_str();
    command
        .add_option("--trigger", trigger,
                    "Wait for a trigger: channel (" + JoinNames(TRIGGER_CHANNEL_TEXTS, 4) + "), type (" +
                        JoinNames(TRIGGER_TYPE_TEXTS, 4) + ") and threshold in volts, e.g. CH0:Level-H:2.5")
        ->type_name("CH:TYPE:VOLTS")
        ->check(Check(&ParseTrigger));
}

}  // namespace vosctl
