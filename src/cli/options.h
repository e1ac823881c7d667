#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "numtext/duration.h"

// Option values of the subcommands, read with the window's own tables and
// number rules. Each Parse function returns an empty text on success, or
// why the value is refused, naming the accepted values.
namespace vosctl {

/// The entries of a list, comma separated: "CH0, CH1, CH2, CH3".
std::string JoinNames(const char* const* names, int count);

/// --clock: a Sampling Clock entry ("10kHz" ... "1Hz") to its divider.
std::string ParseClock(const std::string& text, std::int32_t& divider);

/// The one rule of every whole-number option, shared with the window.
using ::ParseWhole;

/// Adds a whole-number option read by ParseWhole into the text `value`.
CLI::Option* AddWholeOption(CLI::App& command, const std::string& name, std::string& value, std::uint64_t min,
                            std::uint64_t max, const std::string& description);

/// --count: a Sampling Count text, 1 to 1000000.
std::string ParseCount(const std::string& text, std::uint32_t& count);

/// --duration, as the window reads a recording's duration.
using ::MAX_DURATION_SECONDS;
using ::ParseDuration;

/// --channel: "CH0" ... "CH3" to 0..3, "ALL" to 4 (the CSV Save CH list).
std::string ParseCsvChannel(const std::string& text, int& selection);

/// --trigger CH:TYPE:VOLTS, e.g. "CH0:Level-H:2.5".
struct TriggerChoice {
    std::uint8_t channel = 0;
    std::uint8_t type = 0;
    double threshold = 0.0;
};
std::string ParseTrigger(const std::string& text, TriggerChoice& trigger);

/// --serial: a serial number Search accepts (a decimal number other than
/// 0, 2147483647 and -2147483648).
std::string ParseSerial(const std::string& text, std::int32_t& serial);

/// What an acquire output path asks for: "-" or *.csv is CSV, *.dlf a data file.
enum class OutputKind { Csv, Dlf };
std::string ParseOutputKind(const std::string& path, OutputKind& kind);

/// Adds --serial, --clock and --trigger, the options that choose the logger
/// and how it streams, checked with the Parse functions above.
void AddStreamOptions(CLI::App& command, std::string& serial, std::string& clock, std::string& trigger);

/// Adds --channel (the CSV Save CH entries, default ALL) to `command`.
CLI::Option* AddCsvChannelOption(CLI::App& command, std::string& channel);

/// A CLI11 check that runs `parse` on the text and refuses it with the
/// reason. It adds nothing to the option's help, whose type name says the form.
template <typename T>
CLI::Validator Check(std::string (*parse)(const std::string&, T&)) {
    return CLI::Validator(
        [parse](std::string& text) {
            T value{};
            return parse(text, value);
        },
        "");
}

}  // namespace vosctl
