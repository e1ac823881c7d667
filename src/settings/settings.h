#pragma once

#include <cstdint>
#include <string>

/// Nanoseconds per clock divider unit: the logger streams frames at 10 kHz.
inline constexpr std::int64_t BASE_CLOCK_NS = 100000;
/// Largest number of samples per channel one recording holds.
inline constexpr std::int32_t MAX_SAMPLE_COUNT = 1000000;
/// Sampling Count used when no valid committed count exists to fall back to.
inline constexpr std::int32_t DEFAULT_SAMPLE_COUNT = 10000;

inline constexpr int CLOCK_ENTRY_COUNT = 13;

/// Sampling Clock list entries, in list order.
inline constexpr const char* CLOCK_TEXTS[CLOCK_ENTRY_COUNT] = {
    "10kHz", "5kHz", "2kHz", "1kHz", "500Hz", "200Hz", "100Hz",
    "50Hz",  "20Hz", "10Hz", "5Hz",  "2Hz",   "1Hz",
};
/// Clock divider (sampling period in units of 100 us) of each Sampling Clock entry.
inline constexpr std::int32_t CLOCK_DIVIDERS[CLOCK_ENTRY_COUNT] = {
    1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000,
};
/// Trigger CH list entries; the index is the trigger channel.
inline constexpr const char* TRIGGER_CHANNEL_TEXTS[4] = {"CH0", "CH1", "CH2", "CH3"};
/// Trigger Type list entries; the index is the TriggerType value.
inline constexpr const char* TRIGGER_TYPE_TEXTS[4] = {
    "Level-H", "Level-L", "Slope-Rising", "Slope-Falling",
};
/// CSV Save CH list entries; entry 4 ("ALL", selected at start) exports every channel.
inline constexpr const char* CSV_CHANNEL_TEXTS[5] = {"CH0", "CH1", "CH2", "CH3", "ALL"};
inline constexpr int CSV_CHANNEL_ALL = 4;

/// Divider of Sampling Clock entry `index`; 1 for any other index, including -1.
std::int32_t ClockDividerForIndex(std::int32_t index);

/// Sampling Clock entry of `divider`; 0 for a divider not in the list.
std::int32_t ClockIndexForDivider(std::int32_t divider);

/// A clock as messages name it: the Sampling Clock entry ("1kHz"), or
/// "divider N" for a divider the list does not have.
std::string ClockName(std::int32_t divider);

/// Duration of `count` samples at `divider`, e.g. (5, 3) -> "1.5 mS", exact,
/// with unit "nS", "uS", "mS" or "S". Empty when the duration does not fit in
/// 64 bits (never for a divider up to 10000 and a count below 2^32).
std::string TotalTimeText(std::int32_t divider, std::uint64_t count);

/// Total Time for the Sampling Count text as typed: empty while the text is not
/// a count from 1 to MAX_SAMPLE_COUNT, else TotalTimeText.
std::string CountTotalTimeText(const std::string& countText, std::int32_t divider);

/// A value read from an edit; `rewrite` says the edit held bad input and must
/// be rewritten with the value's text.
template <typename T>
struct Repaired {
    T value;
    bool rewrite;
};

/// Reads the Sampling Count text. Bad or out-of-range input gives `committed`
/// and a rewrite; if `committed` itself is out of range (0 after a Stop before
/// the trigger fired), DEFAULT_SAMPLE_COUNT takes its place.
Repaired<std::uint32_t> ReadSampleCountValue(const std::string& text, std::int32_t committed);

/// Reads the Threshold text. Bad input gives `committed` and a rewrite; if
/// `committed` itself is not finite (NaN or infinity from a data file), 0.0
/// takes its place. There is no range check.
Repaired<double> ReadThresholdValue(const std::string& text, double committed);

/// The Sampling Count edit text of `count` ("%d").
std::string FormatCount(std::int32_t count);

/// A list selection as stored in an 8-bit setting (-1 becomes 0xFF).
std::uint8_t CutTo8Bits(int selection);

/// Trigger type for the Trigger check box and the Trigger Type selection:
/// TRIGGER_NONE when unchecked.
std::uint8_t ReadTriggerTypeValue(bool checked, int selection);

/// Which controls are enabled; closeItem is the system menu's Close (and the close box).
struct ControlStates {
    bool closeItem, serialList, search, clock, count, spin, start, stop, trigger, triggerCh,
        triggerType, threshold, open, save, csvCh, csvSave, displayChange;
};

/// The enabling rule: everything follows `enable`, except Stop, which follows
/// `running`; the trigger controls also need the check box, Save and CSV-Save
/// also need recorded data. With the driver missing the window applies
/// EnableRule(false, false, ...) and then enables closeItem again.
ControlStates EnableRule(bool enable, bool running, bool triggerChecked, bool dataValid);
