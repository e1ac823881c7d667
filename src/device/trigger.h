#pragma once

#include <cstdint>

/// Trigger type meaning "no trigger": the first kept frame fires at once.
inline constexpr std::uint8_t TRIGGER_NONE = 0xFF;

/// Trigger types as the Trigger Type list orders them.
enum TriggerType : std::uint8_t {
    TRIGGER_LEVEL_H = 0,
    TRIGGER_LEVEL_L = 1,
    TRIGGER_SLOPE_RISING = 2,
    TRIGGER_SLOPE_FALLING = 3,
};

/// What AcquireFrames tests before it stores samples.
struct TriggerSetup {
    std::uint8_t channel = 0;      ///< channel tested, 0..3
    std::uint8_t type = TRIGGER_NONE;
    double threshold = 0.0;        ///< volts
    std::uint32_t waitLimit = 0;   ///< kept frames to test before giving up; 0 = no limit
};
