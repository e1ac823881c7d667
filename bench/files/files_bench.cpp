// Each benchmark times the program's path and a plain baseline doing the
// same work in the same iteration, and reports the ratio between them.
#include "files/csv.h"
#include "files/dlf.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t COUNT = 1000000;
using Clock = std::chrono::steady_clock;

struct Recording {
    std::array<std::vector<double>, 4> data;
    const double* channels[4];
    Recording() {
        for (int c = 0; c < 4; ++c) {
            data[c].resize(COUNT);
            for (std::uint32_t i = 0; i < COUNT; ++i) {
                data[c][i] = 5.0 + 4.9 * std::sin(0.00031 * i + c) + 1e-7 * (i % 13);
            }
            channels[c] = data[c].data();
        }
    }
};

const Recording& Data() {
    static const Recording recording;
    return recording;
}

std::string BenchPath(const char* name) { return "/tmp/vos_bench_" + std::to_string(::getpid()) + "_" + name; }

long long FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct PairTimes {
    double plain = 0;    // seconds per iteration
    double program = 0;
};

// Runs the baseline and the program's path once per iteration, uses the
// program's time as the iteration time and reports both in milliseconds.
template <typename Plain, typename Program>
PairTimes TimeBoth(benchmark::State& state, Plain plain, Program program) {
    PairTimes total;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (!plain()) {
            state.SkipWithError("the baseline failed");
            break;
        }
        total.plain += Seconds(start);
        start = Clock::now();
        if (!program()) {
            state.SkipWithError("the program's path failed");
            break;
        }
        const double seconds = Seconds(start);
        total.program += seconds;
        state.SetIterationTime(seconds);
    }
    const double n = state.iterations() > 0 ? static_cast<double>(state.iterations()) : 1.0;
    total.plain /= n;
    total.program /= n;
    state.counters["plain_ms"] = 1e3 * total.plain;
    state.counters["program_ms"] = 1e3 * total.program;
    return total;
}

// What a straightforward exporter does: snprintf("%.5f") per value, stdio writes.
bool PlainCsv(const std::string& path, const double* const channels[4]) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    char row[4 * 330];
    for (std::uint32_t i = 0; i < COUNT; ++i) {
        int length = 0;
        for (int c = 0; c < 4; ++c) {
            length += std::snprintf(row + length, sizeof row - length, c < 3 ? "%.5f," : "%.5f\r\n", channels[c][i]);
        }
        std::fwrite(row, 1, static_cast<std::size_t>(length), file);
    }
    return std::fclose(file) == 0;
}

void BM_CsvExportAll(benchmark::State& state) {
    const Recording& recording = Data();
    const std::string plainPath = BenchPath("plain.csv");
    const std::string exportPath = BenchPath("export.csv");
    const PairTimes times = TimeBoth(
        state, [&] { return PlainCsv(plainPath, recording.channels); },
        [&] { return WriteCsvFile(exportPath, CSV_SELECT_ALL, COUNT, recording.channels, nullptr) == FileError::None; });
    if (FileSize(plainPath) != FileSize(exportPath)) {
        state.SkipWithError("the two files differ in size");
    }
    state.counters["speedup"] = times.plain / times.program;
    ::unlink(plainPath.c_str());
    ::unlink(exportPath.c_str());
}
BENCHMARK(BM_CsvExportAll)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

bool WriteRaw(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

bool ReadRaw(int fd, void* data, std::size_t size) { return ::read(fd, data, size) == static_cast<ssize_t>(size); }

// The same 32,000,256 bytes written and read back with bare system calls.
bool PlainWriteRead(const std::string& path, const double* const channels[4], double* const destinations[4]) {
    const std::uint8_t header[DLF_HEADER_SIZE] = {1};
    std::uint8_t back[DLF_HEADER_SIZE];
    const std::size_t block = std::size_t{COUNT} * sizeof(double);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && WriteRaw(fd, header, sizeof header);
    for (int c = 0; ok && c < 4; ++c) {
        ok = WriteRaw(fd, channels[c], block);
    }
    ok = ::close(fd) == 0 && ok;
    fd = ::open(path.c_str(), O_RDONLY);
    ok = ok && fd >= 0 && ReadRaw(fd, back, sizeof back);
    for (int c = 0; ok && c < 4; ++c) {
        ok = ReadRaw(fd, destinations[c], block);
    }
    return ::close(fd) == 0 && ok;
}

void BM_DlfSaveOpen(benchmark::State& state) {
    const Recording& recording = Data();
    std::array<std::vector<double>, 4> bank;
    double* destinations[4];
    for (int c = 0; c < 4; ++c) {
        bank[c].resize(DLF_MAX_SAMPLE_COUNT);
        destinations[c] = bank[c].data();
    }
    DataFileHeader header;
    header.clockDivider = 10;
    header.sampleCount = COUNT;
    const std::string plainPath = BenchPath("plain.dlf");
    const std::string dlfPath = BenchPath("record.dlf");
    const PairTimes times = TimeBoth(
        state, [&] { return PlainWriteRead(plainPath, recording.channels, destinations); },
        [&] {
            DataFileHeader opened;
            return SaveDataFile(dlfPath, header, recording.channels) == FileError::None &&
                   LoadDataFile(dlfPath, opened, destinations) == FileError::None;
        });
    state.counters["ratio"] = times.program / times.plain;
    ::unlink(plainPath.c_str());
    ::unlink(dlfPath.c_str());
}
BENCHMARK(BM_DlfSaveOpen)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
