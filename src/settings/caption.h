#pragma once

#include <cstdint>
#include <string>

/// Largest and smallest of `count` values; false (outputs untouched) for count 0.
/// NaN values never replace a found maximum or minimum.
bool ComputeStatistics(const double* values, std::uint32_t count, double& maximum, double& minimum);

/// Text of one summary field: "%.5f V".
std::string SummaryText(double volts);

/// What the window's caption names about the record on screen.
struct CaptionParts {
    std::string baseCaption;
    std::string fileName;         ///< empty unless the record came from a file
    std::string clockText;        ///< current text of the Sampling Clock list
    std::uint32_t sampleCount = 0;
    std::uint8_t triggerType = 0xFF;
    std::string triggerChannelText;
    std::string triggerTypeText;
    double threshold = 0.0;
};

/// "<base>[ - <file>] [ Sampling: <clock>, <count>  Trigger: <trigger> ]".
std::string CaptionText(const CaptionParts& parts);
