#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

// Option values of the subcommands, read with the window's own tables and
// number rules. Each Parse function returns an empty text on success, or
// why the value is refused, naming the accepted values.
namespace vosctl {

/// The entries of a list, comma separated: "CH0, CH1, CH2, CH3".
std::string JoinNames(const char* const* names, int count);

/// --clock: a Sampling Clock entry ("10kHz" ... "1Hz") to its divider.
std::string ParseClock(const std::string& text, std::int32_t& divider);

/// --count: a Sampling Count text, 1 to 1000000.
std::string ParseCount(const std::string& text, std::uint32_t& count);

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

/// Adds --channel (the CSV Save CH entries, default ALL) to `command`.
CLI::Option* AddCsvChannelOption(CLI::App& command, std::string& channel);

/// A CLI11 check that runs `parse` on the text and refuses it with the reason.
template <typename T>
CLI::Validator Check(std::string (*parse)(const std::string&, T&), const std::string& description) {
    return CLI::Validator(
        [parse](std::string& text) {
            T value{};
            return parse(text, value);
        },
        description);
}

}  // namespace vosctl
