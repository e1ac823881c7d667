#include "settings/caption.h"

#include <charconv>
#include <cmath>
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

std::string FittedSummaryText(double volts, const std::function<bool(const std::string&)>& fits) {
    std::string text = SummaryText(volts);
    if (fits(text) || !std::isfinite(volts)) {
        return text;
    }
    char buffer[FIXED5_MAX_CHARS];
    const auto candidate = [&](std::chars_format format, int precision) {
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, volts, format, precision);
        text.assign(buffer, written.ptr).append(" V");
        return fits(text);
    };
    // Fixed texts only while they are no wider than the box's widest one.
    if (std::fabs(volts) < 1e7) {
        for (int decimals = 4; decimals >= 0; --decimals) {
            if (candidate(std::chars_format::fixed, decimals)) {
                return text;
            }
        }
    }
    for (int digits = 4; digits >= 0; --digits) {
        if (candidate(std::chars_format::scientific, digits)) {
            return text;
        }
    }
    return text;
}

SummaryTexts SummaryTextsOf(double maximum, double minimum, const std::function<bool(const std::string&)>& fits) {
    // No set of numbers has its largest below its smallest.
    if (maximum < minimum) {
        maximum = minimum = std::numeric_limits<double>::quiet_NaN();
    }
    if (fits) {
        return {FittedSummaryText(maximum, fits), FittedSummaryText(minimum, fits)};
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
