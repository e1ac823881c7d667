#include "device/transfer.h"

#include <algorithm>
#include <bit>
#include <optional>
#include <chrono>
#include <thread>

#include "device/access.h"
#include "device/loss.h"

std::uint8_t ReverseBits(std::uint8_t value) {
    value = static_cast<std::uint8_t>((value & 0xF0u) >> 4 | (value & 0x0Fu) << 4);
    value = static_cast<std::uint8_t>((value & 0xCCu) >> 2 | (value & 0x33u) << 2);
    value = static_cast<std::uint8_t>((value & 0xAAu) >> 1 | (value & 0x55u) << 1);
    return value;
}

namespace {

double ReadDouble(const std::uint8_t* bytes) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | bytes[i];
    return std::bit_cast<double>(bits);
}

std::uint16_t ReadWord(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

}  // namespace

CalibrationPoints ReadCalibrationPoints(const std::uint8_t* calibration54) {
    CalibrationPoints points{};
    points.resolution = calibration54[CALIBRATION_RESOLUTION_OFFSET];
    points.v1 = ReadDouble(calibration54 + CALIBRATION_V1_OFFSET);
    points.v2 = ReadDouble(calibration54 + CALIBRATION_V2_OFFSET);
    for (int c = 0; c < 4; ++c) {
        points.c1[c] = ReadWord(calibration54 + CALIBRATION_C1_OFFSET + 2 * c);
        points.c2[c] = ReadWord(calibration54 + CALIBRATION_C2_OFFSET + 2 * c);
    }
    return points;
}

Conversion ComputeConversion(const std::uint8_t* calibration54) {
    const CalibrationPoints points = ReadCalibrationPoints(calibration54);
    Conversion conversion{};
    conversion.resolution = points.resolution;
    const double v1 = points.v1;
    const double v2 = points.v2;
    for (int c = 0; c < 4; ++c) {
        const double c1 = points.c1[c];
        const double c2 = points.c2[c];
        const double s = (v2 - v1) * 10000.0 / (c2 - c1);
        const double o = v2 * 10000.0 - s * c2;
        conversion.gain[c] = s / 10000.0;
        conversion.offset[c] = o / 10000.0;
    }
    return conversion;
}

bool DecodeFrame(const std::uint8_t frame[8], const Conversion& conversion, double out[4]) {
    const int shift = conversion.resolution == RESOLUTION_16_BIT  ? 0
                      : conversion.resolution == RESOLUTION_12_BIT ? 4
                                                                   : -1;
    if (shift < 0) return false;
    for (int c = 0; c < 4; ++c) {
        const unsigned word = static_cast<unsigned>(ReverseBits(frame[2 * c])) << 8 | ReverseBits(frame[2 * c + 1]);
        const double code = static_cast<double>(word >> shift);
        out[c] = code * conversion.gain[c] + conversion.offset[c];
    }
    return true;
}

bool TriggerFires(std::uint8_t type, double previous, double current, double threshold) {
    switch (type) {
    case TRIGGER_LEVEL_H: return current > threshold;
    case TRIGGER_LEVEL_L: return current < threshold;
    case TRIGGER_SLOPE_RISING: return previous <= threshold && current > threshold;
    case TRIGGER_SLOPE_FALLING: return previous >= threshold && current < threshold;
    case TRIGGER_NONE: return true;
    default: return false;
    }
}

std::uint32_t SendStart(const D2xxApi& api, FT_HANDLE handle) {
    const std::uint8_t command = COMMAND_START;
    return DeviceExchange(api, handle, &command, 1, nullptr, 0);
}

std::uint32_t SendStop(const D2xxApi& api, FT_HANDLE handle) {
    const std::uint8_t command = COMMAND_STOP;
    return DeviceExchange(api, handle, &command, 1, nullptr, 0);
}

std::uint32_t StopStreaming(const D2xxApi& api, FT_HANDLE handle) {
    SendStop(api, handle);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return api.FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
}

namespace {

constexpr int FRAME_WAIT_RETRIES = 10;
constexpr auto FRAME_WAIT_SLEEP = std::chrono::milliseconds(16);
// Frames between two looks at the clock: a few milliseconds at the logger's
// pace, and after a stall few enough that hardly a frame after the loss has
// arrived before it is found.
constexpr std::uint32_t LOSS_CHECK_FRAMES = 64;
constexpr std::int64_t FRAME_NANOS = 1000000000 / LOGGER_FRAME_RATE;
// A full-speed USB packet: what the chip may hold back from a full queue.
constexpr DWORD CHIP_PACKET_BYTES = 64;

std::int64_t SteadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The loss detector of a stream and the loss it found that the stream has not reached yet.
struct LossWatch {
    explicit LossWatch(std::int64_t startNanos) : detector(startNanos) {}
    LossDetector detector;
    std::uint64_t framesRead = 0;
    std::uint32_t untilCheck = LOSS_CHECK_FRAMES;
    bool queueFull = false;  // a poll since the last check found the queue at its limit
    bool pending = false;
    std::uint64_t gapAfter = 0;  // frames read before the first frame after the loss
    std::uint64_t gapFrames = 0;
    std::int64_t foundNanos = 0;
};

// Waits until a whole frame is queued in the driver, then reads it.
// `largestQueue` keeps the deepest queue seen; `watch`, when given, counts
// the frame and now and then checks for frames lost.
std::uint32_t NextFrame(const D2xxApi& api, FT_HANDLE handle, std::uint8_t frame[FRAME_BYTES],
                        std::uint32_t& largestQueue, LossWatch* watch) {
    // The clock is read before the poll, so a delay between the two cannot look like a loss.
    const bool check = watch != nullptr && --watch->untilCheck == 0;
    const std::int64_t now = check ? SteadyNanos() : 0;
    for (int retries = FRAME_WAIT_RETRIES;; --retries) {
        DWORD waiting = 0;
        const FT_STATUS status = api.FT_GetQueueStatus(handle, &waiting);
        if (status != FT_OK) return status;
        if (waiting > largestQueue) largestQueue = waiting;
        // Full but for what the chip still holds back: the driver drops what comes next.
        if (watch != nullptr && waiting + CHIP_PACKET_BYTES > D2XX_RECEIVE_QUEUE_BYTES) watch->queueFull = true;
        if (check && retries == FRAME_WAIT_RETRIES) {
            watch->untilCheck = LOSS_CHECK_FRAMES;
            const std::uint64_t arrived = watch->framesRead + waiting / FRAME_BYTES;
            const std::uint64_t missing = watch->detector.Check(now, SteadyNanos(), arrived, watch->queueFull);
            watch->queueFull = false;
            if (missing != 0) {
                // A second loss before the first was reached joins it.
                if (!watch->pending) watch->gapAfter = arrived;
                watch->pending = true;
                watch->gapFrames += missing;
                watch->foundNanos = now;
            }
        }
        if (waiting >= FRAME_BYTES) break;
        if (retries == 0) return RESULT_COMMUNICATION;
        std::this_thread::sleep_for(FRAME_WAIT_SLEEP);
    }
    const std::uint32_t result = DeviceExchange(api, handle, nullptr, 0, frame, FRAME_BYTES);
    if (watch != nullptr) ++watch->framesRead;
    return result;
}

bool StopRequested(const std::atomic<std::int32_t>* stopFlag) {
    return stopFlag != nullptr && stopFlag->load(std::memory_order_acquire) == 1;
}

bool TestsChannel(std::uint8_t type) { return type <= TRIGGER_SLOPE_FALLING; }

// The caller's buffers as one chunk of `sampleCount` samples.
class FixedBuffers final : public StreamSink {
public:
    FixedBuffers(double* const destinations[4], std::uint32_t sampleCount, std::atomic<std::uint32_t>* counter) {
        for (int c = 0; c < 4; ++c) m_chunk.channels[c] = destinations != nullptr ? destinations[c] : nullptr;
        m_chunk.capacity = sampleCount;
        m_chunk.stored = counter;
    }
    std::uint32_t NextChunk(StreamChunk& chunk, std::uint32_t) override {
        chunk = m_chunk;
        return RESULT_OK;
    }
    void End(std::uint32_t) override {}

private:
    StreamChunk m_chunk;
};

}  // namespace

std::uint32_t CheckTransferSetup(std::uint32_t divider, const std::uint8_t* calibration54,
                                 const TriggerSetup& trigger) {
    if (divider == 0 || calibration54 == nullptr) return RESULT_INVALID_PARAMETER;
    if (TestsChannel(trigger.type) && trigger.channel > 3) return RESULT_INVALID_PARAMETER;
    const std::uint8_t resolution = calibration54[CALIBRATION_RESOLUTION_OFFSET];
    if (resolution != RESOLUTION_12_BIT && resolution != RESOLUTION_16_BIT) return RESULT_CALIBRATION_FORMAT;
    return RESULT_OK;
}

std::uint32_t AcquireFrames(const D2xxApi& api, FT_HANDLE handle, double* const destinations[4],
                            std::uint32_t divider, std::uint32_t sampleCount,
                            std::atomic<std::uint32_t>* storedCounter, const std::uint8_t* calibration54,
                            const TriggerSetup& trigger, const std::atomic<std::int32_t>* stopFlag) {
    FixedBuffers buffers(destinations, sampleCount, storedCounter);
    return StreamFrames(api, handle, divider, sampleCount, calibration54, trigger, stopFlag, buffers);
}

std::uint32_t StreamFrames(const D2xxApi& api, FT_HANDLE handle, std::uint32_t divider, std::uint64_t sampleLimit,
                           const std::uint8_t* calibration54, const TriggerSetup& trigger,
                           const std::atomic<std::int32_t>* stopFlag, StreamSink& sink,
                           const StreamMonitor& monitor) {
    if (const std::uint32_t check = CheckTransferSetup(divider, calibration54, trigger); check != RESULT_OK) {
        return check;
    }
    const Conversion conversion = ComputeConversion(calibration54);

    StreamChunk chunk;
    std::uint32_t filled = 0;
    std::uint32_t largestQueue = 0;
    auto end = [&](std::uint32_t result) {
        StopStreaming(api, handle);
        sink.End(filled);
        return result;
    };
    std::optional<LossWatch> watch;
    auto nextFrame = [&](std::uint8_t* frame) {
        const std::uint32_t before = largestQueue;
        const std::uint32_t status = NextFrame(api, handle, frame, largestQueue, watch ? &*watch : nullptr);
        // The depth only grows, a few thousand times at most over any run.
        if (largestQueue != before && monitor.largestQueue != nullptr) {
            monitor.largestQueue->store(largestQueue, std::memory_order_relaxed);
        }
        return status;
    };

    if (monitor.watchLoss) watch.emplace(SteadyNanos());
    std::uint32_t result = SendStart(api, handle);
    if (result != RESULT_OK) return end(result);
    if (sampleLimit != 0) {
        result = sink.NextChunk(chunk, 0);
        if (result != RESULT_OK) return end(result);
    }

    std::uint8_t frame[FRAME_BYTES];
    result = nextFrame(frame);
    if (result != RESULT_OK) return end(result);
    result = nextFrame(frame);
    if (result != RESULT_OK) return end(result);
    double previous[4];
    double current[4];
    DecodeFrame(frame, conversion, previous);

    std::uint32_t skip = divider;
    std::uint64_t remaining = sampleLimit;
    std::uint32_t waitLimit = trigger.waitLimit;
    bool triggered = false;
    while (remaining != 0) {
        result = nextFrame(frame);
        if (result != RESULT_OK) return end(result);
        if (--skip != 0) {
            if (StopRequested(stopFlag)) return end(RESULT_OK);
            continue;
        }
        skip = divider;
        DecodeFrame(frame, conversion, current);
        if (!triggered) {
            // Frames lost before the first stored sample cost nothing recorded.
            if (watch && watch->framesRead > watch->gapAfter) {
                watch->pending = false;
                watch->gapFrames = 0;
            }
            triggered = TriggerFires(trigger.type, previous[trigger.channel & 3], current[trigger.channel & 3],
                                     trigger.threshold);
            for (int c = 0; c < 4; ++c) previous[c] = current[c];
            if (waitLimit == 1 && !triggered) return end(RESULT_OK);
            if (waitLimit != 0) --waitLimit;
        } else {
            if (watch && watch->pending && watch->framesRead > watch->gapAfter) {
                StreamGap gap;
                gap.lostFrames = watch->gapFrames;
                gap.lostSamples = std::max<std::uint64_t>(1, (watch->gapFrames + divider / 2) / divider);
                gap.resumedNanos = watch->foundNanos + static_cast<std::int64_t>(watch->framesRead - watch->gapAfter - 1) * FRAME_NANOS;
                watch->pending = false;
                watch->gapFrames = 0;
                result = sink.Gap(gap, chunk, filled);
                if (result != RESULT_OK) return end(result);
            }
            for (int c = 0; c < 4; ++c) {
                if (chunk.channels[c] != nullptr) chunk.channels[c][filled] = current[c];
            }
            ++filled;
            --remaining;
            if (chunk.stored != nullptr) chunk.stored->fetch_add(1, std::memory_order_release);
            if (monitor.streamed != nullptr) monitor.streamed->fetch_add(1, std::memory_order_release);
            if (filled == chunk.capacity && remaining != 0) {
                result = sink.NextChunk(chunk, filled);
                filled = 0;
                if (result != RESULT_OK) return end(result);
            }
        }
        if (StopRequested(stopFlag)) return end(RESULT_OK);
    }
    return end(RESULT_OK);
}
