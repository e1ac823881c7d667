// How fast a recording goes from the in-process simulator at the instant pace
// into DLF files of 1,000,000 samples through their synced working files: as
// samples per second, as a multiple of
// the logger's 10000 frames per second, and against a baseline measured in the
// same run: the same transfer into memory, with no files. And what the loss
// detector costs the stream into memory, against the same stream without it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/record.h"
#include "device/access.h"
#include "device/transfer.h"
#include "sim/sim.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t SAMPLES = 3000000;

void InstallInstantBus() {
    vossim::SimConfig config = vossim::DefaultConfig();
    config.pace = vossim::Pace::Instant;
    vossim::Install(config);
}

// The logger of a fresh instant bus, open, and its calibration block.
FT_HANDLE OpenInstantLogger(std::uint8_t (&calibration)[CALIBRATION_BLOCK_SIZE]) {
    InstallInstantBus();
    FT_HANDLE handle = nullptr;
    DeviceOpen(vossim::Api(), nullptr, &handle);
    DeviceReadCalibration(vossim::Api(), handle, calibration);
    return handle;
}

// The transfer alone: DLF_MAX_SAMPLE_COUNT samples at 10 kHz into memory.
double TransferSeconds(std::vector<double> (&channels)[4]) {
    const D2xxApi& api = vossim::Api();
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE];
    FT_HANDLE handle = OpenInstantLogger(calibration);
    double* destinations[4];
    for (int c = 0; c < 4; ++c) destinations[c] = channels[c].data();
    std::atomic<std::uint32_t> stored{0};
    const auto begin = Clock::now();
    AcquireFrames(api, handle, destinations, 1, DLF_MAX_SAMPLE_COUNT, &stored, calibration, TriggerSetup{}, nullptr);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    DeviceClose(api, handle);
    return seconds;
}

void BM_RecordToFiles(benchmark::State& state) {
    std::string folder = (std::filesystem::temp_directory_path() / "vos_record_bench_XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::vector<double> channels[4];
    for (auto& channel : channels) channel.resize(DLF_MAX_SAMPLE_COUNT);
    double recordSeconds = 0;
    double transferSeconds = 0;
    std::uint64_t recorded = 0;
    std::uint64_t transferred = 0;
    for (auto _ : state) {
        transferSeconds += TransferSeconds(channels);
        transferred += DLF_MAX_SAMPLE_COUNT;
        InstallInstantBus();
        RecordOptions options;
        options.sampleLimit = SAMPLES;
        options.prefix = folder + "/run";
        Recorder recorder(vossim::Api(), options);
        const auto begin = Clock::now();
        const RecordOutcome outcome = recorder.Run();
        recordSeconds += std::chrono::duration<double>(Clock::now() - begin).count();
        if (outcome.end != RecordEnd::Done || outcome.files != 3) {
            state.SkipWithError(("recording failed: " + outcome.message).c_str());
            break;
        }
        recorded += outcome.samples;
        // A data file only ever takes a free name: each recording starts on an empty folder.
        for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove(entry.path());
    }
    std::filesystem::remove_all(folder);
    const double rate = static_cast<double>(recorded) / recordSeconds;
    state.counters["samples_per_s"] = rate;
    state.counters["x_realtime"] = rate / LOGGER_FRAME_RATE;
    state.counters["x_transfer_only"] = rate / (static_cast<double>(transferred) / transferSeconds);
}

// One buffer handed out again and again: the transfer without any writer.
class Overwrite final : public StreamSink {
public:
    explicit Overwrite(std::vector<double> (&channels)[4]) {
        for (int c = 0; c < 4; ++c) m_chunk.channels[c] = channels[c].data();
        m_chunk.capacity = static_cast<std::uint32_t>(channels[0].size());
    }
    std::uint32_t NextChunk(StreamChunk& chunk, std::uint32_t) override {
        chunk = m_chunk;
        return 0;
    }
    void End(std::uint32_t) override {}

private:
    StreamChunk m_chunk;
};

// The stream into memory with and without the loss detector, alternating in
// one run: what watching for lost frames costs the reading thread.
double StreamSeconds(std::vector<double> (&channels)[4], bool watchLoss) {
    const D2xxApi& api = vossim::Api();
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE];
    FT_HANDLE handle = OpenInstantLogger(calibration);
    Overwrite sink(channels);
    StreamMonitor monitor;
    monitor.watchLoss = watchLoss;
    const auto begin = Clock::now();
    StreamFrames(api, handle, 1, SAMPLES, calibration, TriggerSetup{}, nullptr, sink, monitor);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    DeviceClose(api, handle);
    return seconds;
}

void BM_LossWatch(benchmark::State& state) {
    std::vector<double> channels[4];
    for (auto& channel : channels) channel.resize(65536);
    double watched = 0;
    double bare = 0;
    for (auto _ : state) {
        bare += StreamSeconds(channels, false);
        watched += StreamSeconds(channels, true);
    }
    state.counters["x_bare_stream"] = bare / watched;
    state.counters["watched_x_realtime"] =
        static_cast<double>(SAMPLES) * static_cast<double>(state.iterations()) / watched / LOGGER_FRAME_RATE;
}

BENCHMARK(BM_RecordToFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LossWatch)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
