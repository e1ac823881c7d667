// What catching up with a long running recording costs the window: a series
// of complete DLF files at 10 kHz (10,000,000 samples, or the count given,
// e.g. 100000000) is followed by RecordingFollower in the window's event
// loop until it shows every sample; against the summaries of the same series
// opened whole (BuildSummaries on one thread) in the same run. Then, for 20 s
// (or the seconds given second), a driver thread goes on with the recording
// as the recorder would: it holds the prefix and appends 1,000 samples to the
// next working file every 100 ms, synced twice a second; reported is the
// window thread's CPU share while it follows, each update redrawn as the
// window redraws it (the whole recording in the plot width), and the redraw's
// cost against a RedrawAll of a 1,000,000-sample record in memory after each
// update (its processor time left out of the window's share). Writes the
// files under $TMPDIR (32 bytes a sample) and deletes them after.
#include <QColor>
#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/follow_view.h"
#include "app/shown_record.h"
#include "display/geometry.h"
#include "display/plotview.h"
#include "files/dlf.h"
#include "files/journal.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"
#include "record/samplesource.h"
#include "record/summaries.h"

namespace {

constexpr std::uint32_t PER_FILE = 1000000;

double CpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Files as the recorder leaves them: PREFIX-00000N.dlf, stamped as one recording.
std::vector<std::string> WriteSeries(const std::string& prefix, std::uint64_t samples) {
    std::vector<std::string> paths;
    std::vector<double> block(PER_FILE);
    for (std::uint64_t first = 0; first < samples; first += PER_FILE) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(PER_FILE, samples - first));
        DataFileHeader header;
        header.sampleCount = n;
        RecordingStamp stamp;
        stamp.startMicros = 1765000000000000 + static_cast<std::int64_t>(first) * 100;
        stamp.identity.fill(0x5A);
        stamp.index = static_cast<std::uint32_t>(first / PER_FILE + 1);
        stamp.firstSample = first;
        header.stamp = stamp;
        char name[16];
        std::snprintf(name, sizeof name, "-%06llu.dlf", static_cast<unsigned long long>(stamp.index));
        paths.push_back(prefix + name);
        const FileError error = SaveDataFileFrom(paths.back(), header, [&](int channel, const ChannelBlockWriter& write) {
            for (std::uint32_t i = 0; i < n; ++i) block[i] = channel + static_cast<double>((first + i) % 1000) * 1e-3;
            return write(block.data(), n * sizeof(double)) ? FileError::None : FileError::Write;
        });
        if (error != FileError::None) {
            std::fprintf(stderr, "cannot write %s\n", paths.back().c_str());
            std::exit(1);
        }
    }
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::uint64_t samples = argc > 1 ? std::strtoull(argv[1], nullptr, 10) / PER_FILE * PER_FILE : 10000000;
    const int liveSeconds = argc > 2 ? std::atoi(argv[2]) : 20;
    if (samples == 0 || liveSeconds <= 0) return 2;
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path dir = std::filesystem::path(tmp ? tmp : "/tmp") / ("follow_catchup." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string prefix = (dir / "run").string();
    const std::vector<std::string> paths = WriteSeries(prefix, samples);

    // The baseline: the series opened whole, its summaries on one thread.
    SeriesSource whole;
    if (whole.Open(paths) != FileError::None) return 1;
    std::vector<std::uint64_t> starts;
    for (std::uint64_t s = 0; s < samples; s += PER_FILE) starts.push_back(s);
    SummaryProgress progress;
    SummaryPyramid pyramid;
    auto start = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    BuildSummaries(whole, SummaryShapeFor(samples), 1, progress, pyramid, starts);
    const double wholeWall = Since(start);
    const double wholeCpu = CpuSeconds() - cpu;

    // The follower in the event loop, as the window runs it.
    double bankSamples[4][1] = {};
    double* bank[4] = {bankSamples[0], bankSamples[1], bankSamples[2], bankSamples[3]};
    std::int32_t count = 1;
    std::int32_t divider = 1;
    ShownRecord shown(bank, count, divider);
    RecordingFollower follower(shown);
    // The recording goes on: its prefix held in this process, its next file a working file.
    PrefixLock lock;
    if (lock.Acquire(prefix) != PrefixLock::Result::Held) return 1;
    JournalHeader header;
    header.split = PER_FILE;
    header.settings.stamp = RecordingStamp{};
    header.settings.stamp->startMicros = 1765000000000000 + static_cast<std::int64_t>(samples) * 100;
    header.settings.stamp->identity.fill(0x5A);
    header.settings.stamp->index = static_cast<std::uint32_t>(samples / PER_FILE + 1);
    header.settings.stamp->firstSample = samples;
    JournalWriter journal;
    if (journal.Create(SeriesMemberName(prefix, header.settings.stamp->index, SERIES_WORKING_EXTENSION), header) !=
        FileError::None) {
        return 1;
    }
    start = std::chrono::steady_clock::now();
    cpu = CpuSeconds();
    FollowedRecording::Options options;
    options.recorderInProcess = true;
    if (follower.Follow(prefix, options) != FileError::None) return 1;
    while (shown.Count() < samples && Since(start) < 1800) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const double followWall = Since(start);
    const double followCpu = CpuSeconds() - cpu;

    // Following at 10 kHz: the driver appends on its own thread, the window's thread only follows.
    std::atomic<bool> stop{false};
    std::atomic<bool> failed{false};
    std::thread driver([&] {
        std::vector<double> block[DLF_CHANNELS];
        for (auto& values : block) values.assign(1000, 0.5);
        const double* channels[DLF_CHANNELS] = {block[0].data(), block[1].data(), block[2].data(), block[3].data()};
        auto next = std::chrono::steady_clock::now();
        for (int tick = 0; !stop.load(); ++tick) {
            next += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(next);
            if (journal.Append(channels, 1000) != FileError::None || (tick % 5 == 4 && journal.Sync() != FileError::None)) {
                failed = true;
            }
        }
    });
    // The baseline: RedrawAll of a 1M-sample record in memory, after each update's redraw, so
    // that both see the same load; its processor time is not the window's.
    PlotView view(DefaultPaneGeometry(), QColor(240, 240, 240));
    PlotView baseView(DefaultPaneGeometry(), QColor(240, 240, 240));
    constexpr std::uint32_t BANK = 1000000;
    std::vector<double> values[4];
    for (int ch = 0; ch < 4; ++ch) {
        values[ch].resize(BANK);
        for (std::uint32_t i = 0; i < BANK; ++i) values[ch][i] = 5.0 + 4.0 * std::sin(i * 1e-3 * (ch + 1));
    }
    const double* channels1M[4] = {values[0].data(), values[1].data(), values[2].data(), values[3].data()};
    // Each update redrawn as the window redraws it at full view.
    double redrawSum = 0.0;
    double baseSum = 0.0;
    double baseCpu = 0.0;
    double largestRatio = 0.0;
    int redraws = 0;
    QObject::connect(&shown, &ShownRecord::appended, [&](std::uint64_t count) {
        const auto t0 = std::chrono::steady_clock::now();
        shown.Draw(view, 0, true, ViewRange{0, count});
        const double took = Since(t0);
        const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto t1 = std::chrono::steady_clock::now();
        baseView.RedrawAll(0, true, channels1M, BANK, 1);
        const double base = Since(t1);
        baseCpu += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        redrawSum += took;
        baseSum += base;
        largestRatio = std::max(largestRatio, took / base);
        ++redraws;
    });

    const std::uint64_t liveFrom = shown.Count();
    const double liveStartCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    start = std::chrono::steady_clock::now();
    QTimer::singleShot(liveSeconds * 1000, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double liveWall = Since(start);
    const double liveCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - liveStartCpu - baseCpu;
    const std::uint64_t liveShown = shown.Count() - liveFrom;
    stop = true;
    driver.join();
    journal.Close();
    lock.Release();
    follower.Stop();
    std::filesystem::remove_all(dir);
    if (shown.Count() < samples) {
        std::fprintf(stderr, "the follower showed %llu of %llu samples\n", static_cast<unsigned long long>(shown.Count()),
                     static_cast<unsigned long long>(samples));
        return 1;
    }
    std::printf("samples %llu (%.2f h at 10 kHz), finest cell %u\n", static_cast<unsigned long long>(samples),
                samples / 3.6e7, pyramid.shape.baseCell);
    std::printf("opened whole: %.2f s wall, %.2f s CPU\n", wholeWall, wholeCpu);
    std::printf("followed, catching up: %.2f s wall, %.2f s CPU = %.2fx the whole series' wall time\n", followWall,
                followCpu, followWall / wholeWall);
    std::printf("following at 10 kHz: %llu samples shown in %.1f s; the window thread used %.3f s of CPU = %.3f %% of one "
                "core%s\n",
                static_cast<unsigned long long>(liveShown), liveWall, liveCpu, 100.0 * liveCpu / liveWall,
                failed.load() ? "; the driver failed to write" : "");
    if (redraws > 0) {
        std::printf("each update redrawn: %d updates, mean %.2f ms = %.2fx a 1M RedrawAll after it (mean %.2f ms); "
                    "largest ratio of one update %.2fx\n",
                    redraws, 1e3 * redrawSum / redraws, redrawSum / baseSum, 1e3 * baseSum / redraws, largestRatio);
    }
    return 0;
}
