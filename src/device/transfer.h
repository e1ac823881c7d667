#pragma once

#include <atomic>
#include <cstdint>

#include "device/d2xx.h"
#include "device/trigger.h"

inline constexpr std::uint8_t COMMAND_START = 0x53;
inline constexpr std::uint8_t COMMAND_STOP = 0x50;
inline constexpr std::uint32_t FRAME_BYTES = 8;
inline constexpr std::uint32_t LOGGER_FRAME_RATE = 10000;  ///< frames per second
inline constexpr std::uint8_t RESOLUTION_12_BIT = 0;
inline constexpr std::uint8_t RESOLUTION_16_BIT = 2;

/// Offsets of the fields of the 54-byte calibration block (little-endian).
inline constexpr std::size_t CALIBRATION_RESOLUTION_OFFSET = 18;
inline constexpr std::size_t CALIBRATION_V1_OFFSET = 20;
inline constexpr std::size_t CALIBRATION_V2_OFFSET = 28;
inline constexpr std::size_t CALIBRATION_C1_OFFSET = 36;
inline constexpr std::size_t CALIBRATION_C2_OFFSET = 44;

/// `value` with its bit order reversed (bit 0 <-> bit 7, ...); the logger
/// sends every byte this way.
std::uint8_t ReverseBits(std::uint8_t value);

/// Per-channel conversion from raw code to volts: volts = code * gain + offset.
struct Conversion {
    double gain[4];
    double offset[4];
    std::uint8_t resolution;  ///< 0 = 12-bit, 2 = 16-bit, anything else undecodable
};

/// The fields of the 54-byte calibration block: the resolution code, the two
/// calibration voltages and, per channel, the codes measured at them.
struct CalibrationPoints {
    std::uint8_t resolution;
    double v1;
    double v2;
    std::uint16_t c1[4];
    std::uint16_t c2[4];
};

/// Reads the fields of the 54-byte calibration block (little-endian).
CalibrationPoints ReadCalibrationPoints(const std::uint8_t* calibration54);

/// Two-point calibration of the 54-byte block. Equal codes of a channel give
/// that channel a non-finite gain, which is accepted.
Conversion ComputeConversion(const std::uint8_t* calibration54);

/// Decodes one 8-byte frame into the volts of CH0..CH3. Returns false, leaving
/// `out` untouched, when the resolution code is neither 0 nor 2.
bool DecodeFrame(const std::uint8_t frame[8], const Conversion& conversion, double out[4]);

/// Whether a trigger of `type` fires on `current` after `previous` against
/// `threshold`: Level-H above, Level-L below, Slope-Rising from at-or-below to
/// above, Slope-Falling from at-or-above to below; TRIGGER_NONE always; any
/// other type never. NaN never satisfies a comparison.
bool TriggerFires(std::uint8_t type, double previous, double current, double threshold);

/// Sends the start command byte; returns the DeviceExchange result.
std::uint32_t SendStart(const D2xxApi& api, FT_HANDLE handle);
/// Sends the stop command byte; returns the DeviceExchange result.
std::uint32_t SendStop(const D2xxApi& api, FT_HANDLE handle);
/// Sends the stop command (result ignored), waits 50 ms for frames in flight
/// and purges both driver queues; returns the purge status.
std::uint32_t StopStreaming(const D2xxApi& api, FT_HANDLE handle);

/// Runs one acquisition: starts the stream, discards the first frame, takes
/// the second as the previous values, keeps one frame in `divider`, tests the
/// trigger on kept frames (the firing frame itself is not stored), then
/// stores `sampleCount` kept frames in volts. Each stored sample advances the
/// non-null `destinations` by one element and then raises `*storedCounter`
/// (release order). A `*stopFlag` of 1, tested after every frame, ends the
/// run with 0. The stream is stopped before every return once the start
/// command was attempted.
///
/// Returns 0 on completion, stop or an exhausted wait limit; a driver status
/// or RESULT_COMMUNICATION (no frame after ten 16 ms waits, short transfer)
/// on failure, with the samples stored so far kept. Nothing is sent and
/// RESULT_INVALID_PARAMETER is returned for a divider of 0 or a trigger type
/// that tests a channel outside 0..3; RESULT_CALIBRATION_FORMAT for a
/// calibration block whose resolution code is neither 0 nor 2.
/// `storedCounter` and `stopFlag` may be null.
std::uint32_t AcquireFrames(const D2xxApi& api, FT_HANDLE handle, double* const destinations[4],
                            std::uint32_t divider, std::uint32_t sampleCount,
                            std::atomic<std::uint32_t>* storedCounter, const std::uint8_t* calibration54,
                            const TriggerSetup& trigger, const std::atomic<std::int32_t>* stopFlag);
