#pragma once

#include <cstdint>
#include <functional>
#include <string>

/// Largest and smallest of `count` values; false (outputs untouched) for count 0.
/// NaN values never replace a found maximum or minimum.
bool ComputeStatistics(const double* values, std::uint32_t count, double& maximum, double& minimum);

/// Text of one summary field: "%.5f V", or "%.5e V" for a value whose
/// fixed text would be wider than a value box (FormatFixed5OrExponent).
std::string SummaryText(double volts);

/// SummaryText of `volts` for a box that shows a text whole only where
/// `fits` says so: SummaryText where it fits, otherwise the value with fewer
/// decimals ("1000.0036 V"), then in the exponent form with fewer digits
/// ("1.000e+300 V"), the first that fits; the shortest where none does.
std::string FittedSummaryText(double volts, const std::function<bool(const std::string&)>& fits);

/// The two Summary fields of a channel.
struct SummaryTexts {
    std::string maximum;
    std::string minimum;
};

/// SummaryText of a channel's `maximum` and `minimum` as ComputeStatistics
/// (or a series' summaries) found them; a channel without a number, all NaN,
/// where the search leaves the maximum at minus and the minimum at plus
/// infinity, shows "nan V" in both. With `fits`, each is FittedSummaryText.
SummaryTexts SummaryTextsOf(double maximum, double minimum,
                            const std::function<bool(const std::string&)>& fits = nullptr);

/// What the window's caption names about the record on screen.
struct CaptionParts {
    std::string baseCaption;
    std::string fileName;         ///< empty unless the record came from a file
    std::string clockText;        ///< current text of the Sampling Clock list
    std::uint64_t sampleCount = 0;
    std::uint8_t triggerType = 0xFF;
    std::string triggerChannelText;
    std::string triggerTypeText;
    double threshold = 0.0;
};

/// "<base>[ - <file>] [ Sampling: <clock>, <count>  Trigger: <trigger> ]".
std::string CaptionText(const CaptionParts& parts);
