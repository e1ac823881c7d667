#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

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

/// The checks AcquireFrames makes before anything is sent, for a caller that
/// wants to refuse a setup before it changes anything of its own: 0 when the
/// setup can run; RESULT_INVALID_PARAMETER for a divider of 0, no calibration
/// block, or a trigger type that tests a channel outside 0..3;
/// RESULT_CALIBRATION_FORMAT for a resolution code other than 0 or 2.
std::uint32_t CheckTransferSetup(std::uint32_t divider, const std::uint8_t* calibration54,
                                 const TriggerSetup& trigger);

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

/// A stretch of channel buffers that a stream fills next.
struct StreamChunk {
    double* channels[4] = {};  ///< one per channel; null: that channel is not stored
    std::uint32_t capacity = 0;  ///< samples that fit; at least 1
    /// Raised by one after each sample stored in this chunk (release order); may be null.
    std::atomic<std::uint32_t>* stored = nullptr;
};

/// Frames lost between two kept samples of a stream (StreamMonitor::watchLoss).
struct StreamGap {
    std::uint64_t lostFrames = 0;   ///< logger frames missing, as the elapsed time tells
    /// Kept samples they would have given, rounded to whole sample periods; at least 1.
    std::uint64_t lostSamples = 0;
    /// Steady clock (nanoseconds since its epoch) when the logger sent the sample after the gap.
    std::int64_t resumedNanos = 0;
};

/// Takes the kept samples of one stream chunk by chunk; called on the
/// streaming thread.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    /// Sets `chunk` to the buffers to fill next. `filled` samples of the
    /// previous chunk hold values (its whole capacity; 0 before the first).
    /// A non-zero result ends the stream with that result.
    virtual std::uint32_t NextChunk(StreamChunk& chunk, std::uint32_t filled) = 0;
    /// The stream has ended: `filled` samples of the current chunk hold values
    /// (0 when none, or when no chunk was handed out).
    virtual void End(std::uint32_t filled) = 0;
    /// Frames were lost before the sample about to be stored, the first
    /// `filled` samples of `chunk` hold values. The sink may hand them on and
    /// set `chunk` and `filled` to fresh buffers. A non-zero result ends the
    /// stream with that result. By default the samples go on in the same chunk.
    virtual std::uint32_t Gap(const StreamGap& gap, StreamChunk& chunk, std::uint32_t& filled) {
        (void)gap, (void)chunk, (void)filled;
        return 0;
    }
};

/// A sample limit that a stream never reaches: it runs until a stop or a failure.
inline constexpr std::uint64_t STREAM_UNLIMITED = std::numeric_limits<std::uint64_t>::max();

/// What a stream reports while it runs; every pointer may be null.
struct StreamMonitor {
    /// Samples stored over the whole stream, raised after each (release order).
    std::atomic<std::uint64_t>* streamed = nullptr;
    /// Largest receive-queue depth in bytes that FT_GetQueueStatus reported.
    std::atomic<std::uint32_t>* largestQueue = nullptr;
    /// Compare the frames that arrive with the elapsed time (LossDetector)
    /// and tell the sink of each loss after the trigger (StreamSink::Gap).
    bool watchLoss = false;
};

/// The transfer loop of AcquireFrames for any number of samples: the same
/// frame accounting, decimation, trigger test, stop flag, failure codes and
/// stream stop on every return, with the stored samples going to the chunks
/// that `sink` hands out. The first chunk is asked for once the start
/// command was sent; a full chunk is handed back only while more samples
/// are due; `sink.End` is called once the stream is stopped, on every return
/// after the start command was attempted. `sampleLimit` may be STREAM_UNLIMITED.
std::uint32_t StreamFrames(const D2xxApi& api, FT_HANDLE handle, std::uint32_t divider, std::uint64_t sampleLimit,
                           const std::uint8_t* calibration54, const TriggerSetup& trigger,
                           const std::atomic<std::int32_t>* stopFlag, StreamSink& sink,
                           const StreamMonitor& monitor = {});
