// vosctl's CSV path against the plain snprintf loop and the window's
// 64-row export, each iteration timing all of them on the same record.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "files/csv.h"
#include "files/csv_stream.h"
#include "files/dlf.h"
#include "plain_csv.h"

namespace {

constexpr std::uint32_t COUNT = 1000000;
using Clock = std::chrono::steady_clock;

// Values as a 16-bit logger delivers them: codes times a gain plus an offset.
struct Record {
    std::vector<double> samples = std::vector<double>(4 * std::size_t{COUNT});
    const double* channels[4];
    Record() {
        for (int c = 0; c < 4; ++c) {
            double* channel = samples.data() + std::size_t{COUNT} * c;
            for (std::uint32_t i = 0; i < COUNT; ++i) {
                const auto code = static_cast<int>(32768 + 30000 * std::sin(0.0007 * i + c)) + static_cast<int>(i % 7);
                channel[i] = code * 0.000152590218967 - 0.0012 * c;
            }
            channels[c] = channel;
        }
    }
};

const Record& Data() {
    static const Record record;
    return record;
}

std::string BenchPath(const std::string& name) {
    return "/tmp/vos_bench_cli_" + std::to_string(::getpid()) + "_" + name;
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

const std::string PLAIN_CSV = BenchPath("plain.csv");
const std::string STREAM_CSV = BenchPath("stream.csv");
const std::string WINDOW_CSV = BenchPath("window.csv");
const std::string RECORD_DLF = BenchPath("record.dlf");

bool Plain() {
    std::FILE* out = std::fopen(PLAIN_CSV.c_str(), "wb");
    return out != nullptr && PlainCsvLoop(out, Data().channels, COUNT) && std::fclose(out) == 0;
}

bool Stream() {
    LockedFile file;
    const auto write = [&file](const char* text, std::size_t size) { return file.WriteAll(text, size); };
    return file.Open(STREAM_CSV, LockedFile::Mode::Write) &&
           WriteCsvStream(write, CSV_SELECT_ALL, COUNT, Data().channels) == FileError::None && file.Close();
}

bool Window() {
    return WriteCsvFile(WINDOW_CSV, CSV_SELECT_ALL, COUNT, Data().channels, nullptr) == FileError::None;
}

bool RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> store = args;
    for (std::string& arg : store) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Times each path once per iteration and reports the plain loop's time
// divided by each one's; the iteration time is the first path's.
template <std::size_t N>
void TimeAgainstPlain(benchmark::State& state, bool (*plain)(), const char* const (&names)[N],
                      bool (*const (&paths)[N])()) {
    double plainSeconds = 0;
    double seconds[N] = {};
    for (auto _ : state) {
        // Each path starts with no dirty pages of the one before it to write back.
        ::sync();
        Clock::time_point start = Clock::now();
        if (!plain()) {
            state.SkipWithError("the baseline failed");
            return;
        }
        plainSeconds += Seconds(start);
        for (std::size_t i = 0; i < N; ++i) {
            ::sync();
            start = Clock::now();
            if (!paths[i]()) {
                state.SkipWithError(names[i]);
                return;
            }
            const double took = Seconds(start);
            seconds[i] += took;
            if (i == 0) {
                state.SetIterationTime(took);
            }
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = 1e3 * plainSeconds / n;
    for (std::size_t i = 0; i < N; ++i) {
        state.counters[std::string(names[i]) + "_ms"] = 1e3 * seconds[i] / n;
        state.counters[std::string("x_") + names[i]] = plainSeconds / seconds[i];
    }
}

bool PlainProcess() { return RunProgram({CSV_SNPRINTF_PATH, RECORD_DLF, PLAIN_CSV}); }

bool VosctlProcess() { return RunProgram({VOSCTL_PATH, "csv", RECORD_DLF, "-o", STREAM_CSV}); }

void RemoveOutputs() {
    for (const std::string& path : {PLAIN_CSV, STREAM_CSV, WINDOW_CSV, RECORD_DLF}) {
        ::unlink(path.c_str());
    }
}

// In process: the record in memory to a file.
void BM_CsvWriters(benchmark::State& state) {
    Data();
    const char* const names[] = {"stream", "window"};
    bool (*const paths[])() = {Stream, Window};
    TimeAgainstPlain(state, Plain, names, paths);
    RemoveOutputs();
}
BENCHMARK(BM_CsvWriters)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Whole processes: vosctl csv FILE.dlf -o OUT.csv against csv_snprintf
// reading the same file and writing the same bytes.
void BM_VosctlCsvProcess(benchmark::State& state) {
    DataFileHeader header;
    header.sampleCount = COUNT;
    if (SaveDataFile(RECORD_DLF, header, Data().channels) != FileError::None) {
        state.SkipWithError("cannot write the record");
        return;
    }
    const char* const names[] = {"vosctl"};
    bool (*const paths[])() = {VosctlProcess};
    TimeAgainstPlain(state, PlainProcess, names, paths);
    RemoveOutputs();
}
BENCHMARK(BM_VosctlCsvProcess)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
