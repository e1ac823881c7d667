#include "settings/settings.h"

#include "device/trigger.h"
#include "numtext/numtext.h"

#include <charconv>
#include <cmath>

std::int32_t ClockDividerForIndex(std::int32_t index) {
    return index >= 0 && index < CLOCK_ENTRY_COUNT ? CLOCK_DIVIDERS[index] : 1;
}

std::int32_t ClockIndexForDivider(std::int32_t divider) {
    for (std::int32_t index = 0; index < CLOCK_ENTRY_COUNT; ++index) {
        if (CLOCK_DIVIDERS[index] == divider) {
            return index;
        }
    }
    return 0;
}

std::string ClockName(std::int32_t divider) {
    const std::int32_t index = ClockIndexForDivider(divider);
    return CLOCK_DIVIDERS[index] == divider ? CLOCK_TEXTS[index] : "divider " + std::to_string(divider);
}

std::string TotalTimeText(std::int32_t divider, std::uint64_t count) {
    // The period is computed in 64 bits rather than wrapped to 32: a wrapped
    // period would show a negative time, and dividers up to 10000 never wrap.
    const std::int64_t periodNs = static_cast<std::int64_t>(divider) * BASE_CLOCK_NS;
    std::int64_t totalNs = 0;
    if (__builtin_mul_overflow(periodNs, count, &totalNs)) {
        return {};
    }
    static const char* const UNIT_TEXTS[] = {"nS", "uS", "mS", "S"};
    const std::uint32_t unit = totalNs < 1000         ? 0
                               : totalNs < 1000000    ? 1
                               : totalNs < 1000000000 ? 2
                                                      : 3;
    std::string number;
    FormatScaled(totalNs, number, unit);
    return number + ' ' + UNIT_TEXTS[unit];
}

namespace {

bool IsValidCount(std::uint32_t count) {
    return count >= 1 && count <= static_cast<std::uint32_t>(MAX_SAMPLE_COUNT);
}

}  // namespace

std::string CountTotalTimeText(const std::string& countText, std::int32_t divider) {
    std::uint32_t count = 0;
    if (!ParseUnsigned(countText, count) || !IsValidCount(count)) {
        return {};
    }
    return TotalTimeText(divider, count);
}

Repaired<std::uint32_t> ReadSampleCountValue(const std::string& text, std::int32_t committed) {
    std::uint32_t count = 0;
    if (ParseUnsigned(text, count) && IsValidCount(count)) {
        return {count, false};
    }
    // A Stop before the trigger fired commits 0 samples; acquiring 0 is no repair.
    const bool committedValid = committed >= 1 && committed <= MAX_SAMPLE_COUNT;
    return {static_cast<std::uint32_t>(committedValid ? committed : DEFAULT_SAMPLE_COUNT), true};
}

Repaired<double> ReadThresholdValue(const std::string& text, double committed) {
    double volts = 0.0;
    if (ParseReal(text, volts)) {
        return {volts, false};
    }
    // A threshold from a data file may be NaN or infinite; no trigger would
    // ever fire on it.
    return {std::isfinite(committed) ? committed : 0.0, true};
}

std::string FormatCount(std::int32_t count) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, count);
    return std::string(buffer, result.ptr);
}

std::uint8_t CutTo8Bits(int selection) {
    return static_cast<std::uint8_t>(selection);
}

std::uint8_t ReadTriggerTypeValue(bool checked, int selection) {
    return checked ? CutTo8Bits(selection) : TRIGGER_NONE;
}

ControlStates EnableRule(bool enable, bool running, bool triggerChecked, bool dataValid) {
    ControlStates states{};
    states.closeItem = enable;
    states.serialList = enable;
    states.search = enable;
    states.clock = enable;
    states.count = enable;
    states.spin = enable;
    states.start = enable;
    states.stop = running;
    states.trigger = enable;
    states.triggerCh = enable && triggerChecked;
    states.triggerType = enable && triggerChecked;
    states.threshold = enable && triggerChecked;
    states.open = enable;
    states.save = enable && dataValid;
    states.csvCh = enable;
    states.csvSave = enable && dataValid;
    states.displayChange = enable;
    return states;
}
