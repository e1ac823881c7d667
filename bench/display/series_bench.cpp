// A series of files as one record: redraw steps, the summary build against a
// plain read, reopening with the cache, and resident memory, for series of
// 1,000,000-sample files and for the same samples in 5,000 files. With
// VOSCTL naming a built vosctl, also eight `vosctl info` of the cached
// series at once against one alone; then a week at 10 kHz in sparse files
// (unless VOS_BENCH_NO_WEEK is set); VOS_BENCH_LARGEST_ONLY measures only
// the largest series. Run by hand:
//   [VOSCTL=build/src/cli/vosctl] bench_series [largest series in samples per channel, default 100000000]
// Files go to a temporary folder under $TMPDIR (default /tmp) and are removed.
#include <QGuiApplication>
#include <spawn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "display/plotview.h"
#include "files/dlf.h"
#include "record/long_record.h"
#include "record/summaries.h"
#include "record/summary_cache.h"

namespace {

constexpr std::uint32_t FILE_SAMPLES = 1000000;
constexpr std::uint64_t MANY_FILES = 5000;
constexpr int READERS = 8;

extern "C" char** environ;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// CPU time of this thread, so that a redraw's figure holds while other
// processes share the machine.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return -1;
}

double Wave(std::uint64_t s, int ch) {
    return 5.0 + 4.0 * std::sin(static_cast<double>(s) * 1e-5 * (ch + 1)) + (s % 13) * 0.01;
}

std::vector<std::string> WriteSeries(const std::filesystem::path& dir, std::uint64_t total, std::uint32_t perFile) {
    std::vector<std::string> paths;
    std::vector<double> data[4];
    for (auto& d : data) {
        d.resize(perFile);
    }
    for (std::uint64_t first = 0; first < total; first += perFile) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(perFile, total - first));
        for (int ch = 0; ch < 4; ++ch) {
            for (std::uint32_t s = 0; s < n; ++s) {
                data[ch][s] = Wave(first + s, ch);
            }
        }
        char name[32];
        std::snprintf(name, sizeof name, "night-%06zu.dlf", paths.size() + 1);
        DataFileHeader header;
        header.sampleCount = n;
        const double* pointers[4] = {data[0].data(), data[1].data(), data[2].data(), data[3].data()};
        paths.push_back((dir / name).string());
        if (SaveDataFile(paths.back(), header, pointers) != FileError::None) {
            std::fprintf(stderr, "cannot write %s\n", paths.back().c_str());
            std::exit(1);
        }
    }
    return paths;
}

// A plain read of every file, as `cat` does it (in this process: the names of
// thousands of files do not fit one command line).
double CatSeconds(const std::vector<std::string>& paths) {
    std::vector<char> buffer(1 << 17);
    const double t0 = Now();
    for (const std::string& p : paths) {
        const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "cannot read %s\n", p.c_str());
            continue;
        }
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
    return Now() - t0;
}

// Median thread time of `reps` runs of draw().
template <class F>
double Median(int reps, F draw) {
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        const double t0 = ThreadSeconds();
        draw();
        t.push_back(ThreadSeconds() - t0);
    }
    std::nth_element(t.begin(), t.begin() + reps / 2, t.end());
    return t[reps / 2];
}

double BaselineRedrawAll(PlotView& view) {
    std::vector<double> data[4];
    const double* pointers[4];
    for (int ch = 0; ch < 4; ++ch) {
        data[ch].resize(FILE_SAMPLES);
        for (std::uint32_t s = 0; s < FILE_SAMPLES; ++s) {
            data[ch][s] = Wave(s, ch);
        }
        pointers[ch] = data[ch].data();
    }
    return Median(9, [&] { view.RedrawAll(0, true, pointers, FILE_SAMPLES, 1); });
}

struct Steps {
    double t[5];
    double worst;
};

// The redraw steps: a wheel notch in from the full view, from a
// thousandth of the record and from 1000 samples, and a drag of 40 columns
// at the last two.
Steps MeasureSteps(PlotView& view, const SampleSource& source, const SummaryPyramid& summaries) {
    const std::uint64_t count = source.Count();
    const std::int32_t columns = view.Columns();
    const auto step = [&](ViewRange from, bool pan) {
        std::uint64_t k = 0;
        return Median(9, [&] {
            // Each step a different place, as a user moving along.
            const ViewRange at = ClampRange({from.first + k++ * 7919u, from.count}, count);
            const ViewRange to = pan ? PanByColumns(at, count, columns, -40)
                                     : ZoomAtColumn(at, count, columns, 300, WheelZoomFactor(120));
            view.RedrawAll(0, source, summaries, to);
        });
    };
    const ViewRange thousandth{count / 3, count / 1000};
    const ViewRange narrow{count / 2 + 12345, 1000};
    Steps s{{step(FullView(count), false), step(thousandth, false), step(thousandth, true), step(narrow, false),
             step(narrow, true)},
            0.0};
    s.worst = *std::max_element(s.t, s.t + 5);
    return s;
}

// A week at 10 kHz, 6,048,000,000 samples per channel, in 6,048 sparse files
// of 1,000,000 samples: headers and holes, which read as 0 V. Its summaries
// are made, not built: every cell of a record of zeros holds 0 V (a build
// would read 194 GB). The steps read the files as any series' do.
void MeasureWeek(PlotView& view, double baseline, const std::filesystem::path& sub) {
    constexpr std::uint64_t WEEK = 6048000000;
    std::filesystem::create_directories(sub);
    const std::vector<std::string> paths = WriteSparseSeries(sub, "week", static_cast<int>(WEEK / FILE_SAMPLES), FILE_SAMPLES);
    if (paths.empty()) {
        std::fprintf(stderr, "cannot write the week under %s\n", sub.c_str());
        std::exit(1);
    }
    const double open0 = Now();
    SeriesSource source;
    if (source.Open(paths) != FileError::None || source.Count() != WEEK) {
        std::fprintf(stderr, "cannot open the week\n");
        std::exit(1);
    }
    const double open = Now() - open0;
    const SummaryPyramid summaries = UniformSummaries(SummaryShapeFor(WEEK), WEEK, 0.0, paths.size());
    const Steps steps = MeasureSteps(view, source, summaries);
    const long rss = StatusKb("VmRSS:");
    std::printf("%10llu %7zu %8.2fm %8.2fm %8.2fm %8.2fm %8.2fm %9.2f   (a week at 10 kHz, sparse; open %.2f s, "
                "finest cell %u, RSS %.1f MB)\n",
                static_cast<unsigned long long>(WEEK), paths.size(), steps.t[0] * 1e3, steps.t[1] * 1e3,
                steps.t[2] * 1e3, steps.t[3] * 1e3, steps.t[4] * 1e3, steps.worst / baseline, open,
                summaries.shape.baseCell, rss / 1024.0);
    std::fflush(stdout);
    std::filesystem::remove_all(sub);
}

struct Row {
    double steps[5];
    double worst;
    double buildPerCat;
    double reopen;
    double rss;
    std::size_t files;
};

pid_t SpawnInfo(const char* vosctl, const std::vector<std::string>& paths) {
    std::vector<std::string> args{vosctl, "info"};
    args.insert(args.end(), paths.begin(), paths.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, vosctl, &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

struct InfoRun {
    double wall;  ///< from the first start to the last end
    double cpu;   ///< user and system time of each process, on average
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

// `count` `vosctl info` of the series started at once, all to their end.
InfoRun RunInfo(const char* vosctl, const std::vector<std::string>& paths, int count) {
    const double t0 = Now();
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        pids.push_back(SpawnInfo(vosctl, paths));
    }
    bool ok = true;
    double cpu = 0;
    for (const pid_t pid : pids) {
        int status = 0;
        struct rusage usage {};
        ok = ok && pid > 0 && ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        cpu += Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    }
    if (!ok) {
        std::fprintf(stderr, "a vosctl info failed\n");
    }
    return {Now() - t0, cpu / count};
}

// vosctl info of the series with its summaries cached (the first run builds
// them): one alone, then READERS at once (median of 3 each). The processor
// time of each shows what the machine's cores bound: READERS processes on
// two cores cannot end sooner than READERS / 2 times one alone.
void ConcurrentInfo(const char* vosctl, const std::filesystem::path& sub, const std::vector<std::string>& paths) {
    ::setenv("XDG_CACHE_HOME", (sub / "xdg").c_str(), 1);
    RunInfo(vosctl, paths, 1);
    std::vector<InfoRun> one, many;
    for (int i = 0; i < 3; ++i) {
        one.push_back(RunInfo(vosctl, paths, 1));
        many.push_back(RunInfo(vosctl, paths, READERS));
    }
    const auto median = [](std::vector<InfoRun>& runs) {
        std::sort(runs.begin(), runs.end(), [](const InfoRun& a, const InfoRun& b) { return a.wall < b.wall; });
        return runs[1];
    };
    const InfoRun alone = median(one);
    const InfoRun together = median(many);
    std::printf("%10s %7zu vosctl info of the cached series: one alone %.3f s (CPU %.3f s), %d at once %.3f s "
                "(CPU %.3f s each): %.2fx on %u cores\n",
                "", paths.size(), alone.wall, alone.cpu, READERS, together.wall, together.cpu,
                together.wall / alone.wall, std::thread::hardware_concurrency());
    ::unsetenv("XDG_CACHE_HOME");
}

// Writes a series of `n` samples in files of `perFile`, measures it, prints
// its row and removes it again.
Row Measure(PlotView& view, double baseline, const std::filesystem::path& sub, const std::string& cache,
            std::uint64_t n, std::uint32_t perFile, const char* vosctl) {
    Row row{};
    {
        std::filesystem::create_directories(sub);
        const std::vector<std::string> paths = WriteSeries(sub, n, perFile);

        const double cat = CatSeconds(paths);
        // First open: open, summarise on two threads, store, first picture.
        const double open0 = Now();
        auto source = std::make_unique<SeriesSource>();
        if (source->Open(paths) != FileError::None) {
            std::fprintf(stderr, "cannot open the series\n");
            std::exit(1);
        }
        SummaryProgress progress;
        SummaryPyramid summaries;
        const double build0 = Now();
        BuildSummaries(*source, SummaryShape{}, 2, progress, summaries);
        const double build = Now() - build0;
        StoreSummaries(cache, *source, summaries);
        view.RedrawAll(0, *source, summaries, FullView(source->Count()));
        const double firstOpen = Now() - open0;
        const double cat2 = CatSeconds(paths);

        // Reopen: the cached summaries instead of the build.
        source.reset();
        summaries = SummaryPyramid{};
        const double reopen0 = Now();
        source = std::make_unique<SeriesSource>();
        source->Open(paths);
        const double opened = Now();
        if (!LoadSummaries(cache, *source, SummaryShape{}, summaries)) {
            std::fprintf(stderr, "the cache was not used\n");
        }
        const double loaded = Now();
        view.RedrawAll(0, *source, summaries, FullView(source->Count()));
        const double reopen = Now() - reopen0;
        std::fprintf(stderr, "%zu files reopened: open %.1f ms, cache %.1f ms, picture %.1f ms\n", paths.size(),
                     (opened - reopen0) * 1e3, (loaded - opened) * 1e3, (reopen0 + reopen - loaded) * 1e3);

        const Steps steps = MeasureSteps(view, *source, summaries);
        const double z0 = steps.t[0], z1 = steps.t[1], p1 = steps.t[2], z2 = steps.t[3], p2 = steps.t[4];
        const double worst = steps.worst;
        const long rss = StatusKb("VmRSS:");
        std::printf("%10llu %7zu %8.2fm %8.2fm %8.2fm %8.2fm %8.2fm %9.2f %8.2f %8.2f %8.2f %6.3f %7.1f\n",
                    static_cast<unsigned long long>(n), paths.size(), z0 * 1e3, z1 * 1e3, p1 * 1e3,
                    z2 * 1e3, p2 * 1e3, worst / baseline, (cat + cat2) / 2, build,
                    build / ((cat + cat2) / 2), reopen / firstOpen, rss / 1024.0);
        std::fflush(stdout);
        row = {{z0, z1, p1, z2, p2}, worst, build / ((cat + cat2) / 2), reopen / firstOpen, rss / 1024.0, paths.size()};
        if (vosctl != nullptr) {
            ConcurrentInfo(vosctl, sub, paths);
        }
        source.reset();
        std::filesystem::remove_all(sub);
    }
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const std::uint64_t largest = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/vos_series_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = pattern;
    const std::string cache = (dir / "cache").string();

    PlotView view(DefaultPaneGeometry(), QColor(240, 240, 240));
    const double baseline = BaselineRedrawAll(view);
    std::printf("baseline: RedrawAll of a 1M record in memory %.2f ms (thread CPU)\n", baseline * 1e3);
    std::printf("%10s %7s %9s %9s %9s %9s %9s %9s %8s %8s %8s %7s %7s\n", "samples", "files",
                "zoom.full", "zoom.1k", "pan.1k", "zoom.1000", "pan.1000", "worst/RA", "cat s",
                "build s", "build/cat", "reopen", "RSS MB");
    const char* vosctl = std::getenv("VOSCTL");
    // VOS_BENCH_LARGEST_ONLY leaves out the shorter series.
    const bool largestOnly = std::getenv("VOS_BENCH_LARGEST_ONLY") != nullptr;
    for (std::uint64_t n = 1000000; n <= largest; n *= 10) {
        if (largestOnly && n * 10 <= largest) {
            continue;
        }
        const Row few = Measure(view, baseline, dir / std::to_string(n), cache, n, FILE_SAMPLES, vosctl);
        const Row many = Measure(view, baseline, dir / (std::to_string(n) + "-many"), cache, n,
                                 static_cast<std::uint32_t>(n / MANY_FILES), vosctl);
        std::printf("%10s %7s %8.2fx %8.2fx %8.2fx %8.2fx %8.2fx %9.2f %8s %8s %8.2fx %6.2fx %6.2fx  (%llu files against %zu)\n",
                    "", "ratio", many.steps[0] / few.steps[0], many.steps[1] / few.steps[1],
                    many.steps[2] / few.steps[2], many.steps[3] / few.steps[3], many.steps[4] / few.steps[4],
                    many.worst / few.worst, "", "", many.buildPerCat / few.buildPerCat, many.reopen / few.reopen,
                    many.rss / few.rss, static_cast<unsigned long long>(MANY_FILES), few.files);
        std::fflush(stdout);
    }
    if (std::getenv("VOS_BENCH_NO_WEEK") == nullptr) {
        MeasureWeek(view, baseline, dir / "week");
    }
    std::printf("columns: redraw steps in ms of thread CPU (median of 9); worst/RA: the slowest step "
                "against the baseline; cat s: mean of a plain read of the files before and after the build; "
                "reopen: first picture with the cache against the first open; RSS after the steps; "
                "ratio: the same samples in 5,000 files against the row above\n");
    std::filesystem::remove_all(dir);
    return 0;
}
