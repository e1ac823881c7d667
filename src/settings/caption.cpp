#include "settings/caption.h"

#include <limits>

#include "device/trigger.h"
#include "numtext/fixed.h"

bool ComputeStatistics(const double* values, std::uint32_t count, double& maximum, double& minimum) {
    if (count == 0) {
        return false;
    }
    if (count == 1) {
        maximum = minimum = values[0];
        return true;
    }
    double high = -std::numeric_limits<double>::infinity();
    double low = std::numeric_limits<double>::infinity();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (values[i] > high) {
            high = values[i];
        }
        if (values[i] < low) {
            low = values[i];
        }
    }
    maximum = high;
    minimum = low;
    return true;
}

std::string SummaryText(double volts) { return FormatFixed5OrExponent(volts) + " V"; }

SummaryTexts SummaryTextsOf(double maximum, double minimum) {
    // No set of numbers has its largest below its smallest.
    if (maximum < minimum) {
        maximum = minimum = std::numeric_limits<double>::quiet_NaN();
    }
    return {SummaryText(maximum), SummaryText(minimum)};
}

std::string CaptionText(const CaptionParts& parts) {
    std::string trigger = "None";
    if (parts.triggerType != TRIGGER_NONE) {
        trigger = parts.triggerChannelText + ", " + parts.triggerTypeText + ", " + FormatFixed5(parts.threshold) + "V";
    }
    std::string caption = parts.baseCaption;
    if (!parts.fileName.empty()) {
        caption += " - " + parts.fileName;
    }
    caption += " [ Sampling: " + parts.clockText + ", " + std::to_string(parts.sampleCount) + "  Trigger: " + trigger +
               " ]";
    return caption;
}
