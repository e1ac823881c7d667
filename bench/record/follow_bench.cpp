// What following a recording costs: a recording of 10 s at 10 kHz from the
// in-process simulator at the real-time pace into files of 20,000 samples,
// followed by a thread that polls once a second and extends the summaries
// of what it sees, as the window does; against the same recording alone in
// the same run. Reported: the follower's CPU per second of recording (a
// share of one core) and the recorder's lost samples and deepest receive
// queue, followed and alone.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "acquisition/record.h"
#include "record/summaries.h"
#include "files/prefix_lock.h"
#include "record/follow.h"
#include "sim/sim.h"

namespace {

constexpr std::uint64_t SAMPLES = 100000;  // 10 s at 10 kHz

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Run {
    RecordOutcome outcome;
    double pollCpu = 0;    // seconds of CPU in Poll
    double extendCpu = 0;  // seconds of CPU extending the summaries
    std::uint64_t followed = 0;
    int polls = 0;
};

Run Record(const std::string& folder, bool follow) {
    vossim::SimConfig config = vossim::DefaultConfig();
    config.pace = vossim::Pace::Realtime;
    vossim::Install(config);
    RecordOptions options;
    options.sampleLimit = SAMPLES;
    options.split = 20000;
    options.prefix = folder + "/run";
    PrefixLock lock;
    lock.Acquire(options.prefix);
    Recorder recorder(vossim::Api(), options);
    Run run;
    std::atomic<bool> done{false};
    std::thread follower;
    if (follow) {
        follower = std::thread([&] {
            FollowedRecording record;
            SummaryPyramid summaries;
            summaries.shape = SummaryShapeFor(SAMPLES);
            bool opened = false;
            while (!done.load() || (opened && record.Status().running)) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                const double begin = ThreadCpuSeconds();
                if (!opened) {
                    opened = record.Open(options.prefix, {.recorderInProcess = true}) == FileError::None;
                } else {
                    record.Poll();
                }
                const double polled = ThreadCpuSeconds();
                summaries.Extend(record, record.Count(), record.FileStarts());
                run.pollCpu += polled - begin;
                run.extendCpu += ThreadCpuSeconds() - polled;
                ++run.polls;
            }
            run.followed = record.Count();
        });
    }
    run.outcome = recorder.Run();
    lock.Release();
    done = true;
    if (follower.joinable()) follower.join();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove(entry.path());
    return run;
}

void BM_FollowRecording(benchmark::State& state) {
    std::string folder = (std::filesystem::temp_directory_path() / "vos_follow_bench_XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    double pollCpu = 0;
    double extendCpu = 0;
    double seconds = 0;
    double lostFollowed = 0;
    double lostAlone = 0;
    double queueFollowed = 0;
    double queueAlone = 0;
    for (auto _ : state) {
        const Run alone = Record(folder, false);
        const Run followed = Record(folder, true);
        if (followed.followed != followed.outcome.samples) {
            state.SkipWithError("the follower did not see every sample");
            break;
        }
        seconds += static_cast<double>(SAMPLES) / 10000.0;
        pollCpu += followed.pollCpu;
        extendCpu += followed.extendCpu;
        lostFollowed += static_cast<double>(followed.outcome.samples - followed.outcome.samplesInFiles);
        lostAlone += static_cast<double>(alone.outcome.samples - alone.outcome.samplesInFiles);
        for (const RecordGap& gap : followed.outcome.gaps) lostFollowed += static_cast<double>(gap.lostSamples);
        for (const RecordGap& gap : alone.outcome.gaps) lostAlone += static_cast<double>(gap.lostSamples);
        queueFollowed = std::max(queueFollowed, static_cast<double>(followed.outcome.largestQueue));
        queueAlone = std::max(queueAlone, static_cast<double>(alone.outcome.largestQueue));
    }
    std::filesystem::remove_all(folder);
    state.counters["poll_core_share"] = pollCpu / seconds;
    state.counters["extend_core_share"] = extendCpu / seconds;
    state.counters["lost_followed"] = lostFollowed;
    state.counters["lost_alone"] = lostAlone;
    state.counters["queue_followed_x_alone"] = queueAlone > 0 ? queueFollowed / queueAlone : 0;
}

BENCHMARK(BM_FollowRecording)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
