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

// What a straightforward exporter does: snprintf("%.5f") per value, stdio writes.
void PlainCsv(const std::string& path, const double* const channels[4]) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    char row[4 * 330];
    for (std::uint32_t i = 0; i < COUNT; ++i) {
        int length = 0;
        for (int c = 0; c < 4; ++c) {
            length += std::snprintf(row + length, sizeof row - length, c < 3 ? "%.5f," : "%.5f\r\n", channels[c][i]);
        }
        std::fwrite(row, 1, static_cast<std::size_t>(length), file);
    }
    std::fclose(file);
}

void BM_CsvExportAll(benchmark::State& state) {
    const Recording& recording = Data();
    const std::string plainPath = BenchPath("plain.csv");
    const std::string exportPath = BenchPath("export.csv");
    double plain = 0;
    double exported = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        PlainCsv(plainPath, recording.channels);
        plain += Seconds(start);
        start = Clock::now();
        if (WriteCsvFile(exportPath, CSV_SELECT_ALL, COUNT, recording.channels, nullptr) != FileError::None) {
            state.SkipWithError("export failed");
            break;
        }
        const double seconds = Seconds(start);
        exported += seconds;
        state.SetIterationTime(seconds);
    }
    if (FileSize(plainPath) != FileSize(exportPath)) {
        state.SkipWithError("the two files differ in size");
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = 1e3 * plain / n;
    state.counters["export_ms"] = 1e3 * exported / n;
    state.counters["speedup"] = plain / exported;
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
    double plain = 0;
    double dlf = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (!PlainWriteRead(plainPath, recording.channels, destinations)) {
            state.SkipWithError("plain write or read failed");
            break;
        }
        plain += Seconds(start);
        start = Clock::now();
        DataFileHeader opened;
        if (SaveDataFile(dlfPath, header, recording.channels) != FileError::None ||
            LoadDataFile(dlfPath, opened, destinations) != FileError::None) {
            state.SkipWithError("save or open failed");
            break;
        }
        const double seconds = Seconds(start);
        dlf += seconds;
        state.SetIterationTime(seconds);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = 1e3 * plain / n;
    state.counters["dlf_ms"] = 1e3 * dlf / n;
    state.counters["ratio"] = dlf / plain;
    ::unlink(plainPath.c_str());
    ::unlink(dlfPath.c_str());
}
BENCHMARK(BM_DlfSaveOpen)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
