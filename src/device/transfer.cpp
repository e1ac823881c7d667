#include "device/transfer.h"

#include <bit>
#include <chrono>
#include <thread>

#include "device/access.h"

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

// Waits until a whole frame is queued in the driver, then reads it.
std::uint32_t NextFrame(const D2xxApi& api, FT_HANDLE handle, std::uint8_t frame[FRAME_BYTES]) {
    for (int retries = FRAME_WAIT_RETRIES;; --retries) {
        DWORD waiting = 0;
        const FT_STATUS status = api.FT_GetQueueStatus(handle, &waiting);
        if (status != FT_OK) return status;
        if (waiting >= FRAME_BYTES) break;
        if (retries == 0) return RESULT_COMMUNICATION;
        std::this_thread::sleep_for(FRAME_WAIT_SLEEP);
    }
    return DeviceExchange(api, handle, nullptr, 0, frame, FRAME_BYTES);
}

bool StopRequested(const std::atomic<std::int32_t>* stopFlag) {
    return stopFlag != nullptr && stopFlag->load(std::memory_order_acquire) == 1;
}

bool TestsChannel(std::uint8_t type) { return type <= TRIGGER_SLOPE_FALLING; }

}  // namespace

std::uint32_t AcquireFrames(const D2xxApi& api, FT_HANDLE handle, double* const destinations[4],
                            std::uint32_t divider, std::uint32_t sampleCount,
                            std::atomic<std::uint32_t>* storedCounter, const std::uint8_t* calibration54,
                            const TriggerSetup& trigger, const std::atomic<std::int32_t>* stopFlag) {
    if (divider == 0 || calibration54 == nullptr) return RESULT_INVALID_PARAMETER;
    if (TestsChannel(trigger.type) && trigger.channel > 3) return RESULT_INVALID_PARAMETER;
    const Conversion conversion = ComputeConversion(calibration54);
    if (conversion.resolution != RESOLUTION_12_BIT && conversion.resolution != RESOLUTION_16_BIT) {
        return RESULT_CALIBRATION_FORMAT;
    }

    auto end = [&](std::uint32_t result) {
        StopStreaming(api, handle);
        return result;
    };

    double* out[4] = {};
    if (destinations != nullptr) {
        for (int c = 0; c < 4; ++c) out[c] = destinations[c];
    }

    std::uint32_t result = SendStart(api, handle);
    if (result != RESULT_OK) return end(result);

    std::uint8_t frame[FRAME_BYTES];
    result = NextFrame(api, handle, frame);
    if (result != RESULT_OK) return end(result);
    result = NextFrame(api, handle, frame);
    if (result != RESULT_OK) return end(result);
    double previous[4];
    double current[4];
    DecodeFrame(frame, conversion, previous);

    std::uint32_t skip = divider;
    std::uint32_t remaining = sampleCount;
    std::uint32_t waitLimit = trigger.waitLimit;
    bool triggered = false;
    while (remaining != 0) {
        result = NextFrame(api, handle, frame);
        if (result != RESULT_OK) return end(result);
        if (--skip != 0) {
            if (StopRequested(stopFlag)) return end(RESULT_OK);
            continue;
        }
        skip = divider;
        DecodeFrame(frame, conversion, current);
        if (!triggered) {
            triggered = TriggerFires(trigger.type, previous[trigger.channel & 3], current[trigger.channel & 3],
                                     trigger.threshold);
            for (int c = 0; c < 4; ++c) previous[c] = current[c];
            if (waitLimit == 1 && !triggered) return end(RESULT_OK);
            if (waitLimit != 0) --waitLimit;
        } else {
            for (int c = 0; c < 4; ++c) {
                if (out[c] != nullptr) *out[c]++ = current[c];
            }
            --remaining;
            if (storedCounter != nullptr) storedCounter->fetch_add(1, std::memory_order_release);
        }
        if (StopRequested(stopFlag)) return end(RESULT_OK);
    }
    return end(RESULT_OK);
}
