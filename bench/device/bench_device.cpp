// How fast AcquireFrames takes frames from the in-process simulator at the
// instant pace: as frames per second, as a multiple of the logger's 10000
// frames per second, and against a baseline of the bare driver calls it makes
// per frame (one queue poll and one 8-byte read), measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t DIVIDER = 10;
constexpr std::uint32_t SAMPLES = 1000000;
// Leading frames, the kept frame of the trigger test and the stored ones.
constexpr std::uint64_t FRAMES_PER_RUN = 2 + std::uint64_t{DIVIDER} * (SAMPLES + 1);

FT_HANDLE OpenDefaultLogger(std::uint8_t* calibration) {
    vossim::SimConfig config = vossim::DefaultConfig();
    config.pace = vossim::Pace::Instant;
    vossim::Install(config);
    FT_HANDLE handle = nullptr;
    DeviceOpen(vossim::Api(), "16001", &handle);
    DeviceReadCalibration(vossim::Api(), handle, calibration);
    return handle;
}

double SecondsFor(std::uint64_t frames, FT_HANDLE handle) {
    const D2xxApi& api = vossim::Api();
    SendStart(api, handle);
    const auto begin = Clock::now();
    for (std::uint64_t i = 0; i < frames; ++i) {
        DWORD waiting = 0;
        std::uint8_t frame[FRAME_BYTES];
        DWORD received = 0;
        api.FT_GetQueueStatus(handle, &waiting);
        api.FT_Read(handle, frame, FRAME_BYTES, &received);
        benchmark::DoNotOptimize(frame);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    StopStreaming(api, handle);
    return seconds;
}

void BM_AcquireFrames(benchmark::State& state) {
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE];
    FT_HANDLE handle = OpenDefaultLogger(calibration);
    std::vector<double> channels[4];
    double* destinations[4];
    for (int c = 0; c < 4; ++c) {
        channels[c].resize(SAMPLES);
        destinations[c] = channels[c].data();
    }
    double acquireSeconds = 0;
    double baselineSeconds = 0;
    std::uint64_t frames = 0;
    for (auto _ : state) {
        baselineSeconds += SecondsFor(FRAMES_PER_RUN, handle);
        std::atomic<std::uint32_t> stored{0};
        const auto begin = Clock::now();
        AcquireFrames(vossim::Api(), handle, destinations, DIVIDER, SAMPLES, &stored, calibration, TriggerSetup{},
                      nullptr);
        acquireSeconds += std::chrono::duration<double>(Clock::now() - begin).count();
        frames += FRAMES_PER_RUN;
    }
    DeviceClose(vossim::Api(), handle);
    const double rate = static_cast<double>(frames) / acquireSeconds;
    state.counters["frames_per_s"] = rate;
    state.counters["x_realtime"] = rate / LOGGER_FRAME_RATE;
    state.counters["x_driver_calls_only"] = rate / (static_cast<double>(frames) / baselineSeconds);
}

BENCHMARK(BM_AcquireFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
