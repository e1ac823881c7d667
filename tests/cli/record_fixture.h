#pragma once

// vosctl record run as a process against the simulated driver library: the
// fixture of the recording's process tests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/record.h"
#include "files/journal.h"
#include "files/temp_dir.h"
#include "acquisition/series_fixture.h"
#include "cli_process.h"

namespace recordtest {

using seriestest::FrameVolts;
using seriestest::LoggerConfig;

// vosctl running in the background, its standard error caught in a file.
struct Background {
    pid_t pid = -1;
    std::string stderrPath;

    int Wait() const { return clitest::WaitExit(pid); }
    std::string Stderr() const { return clitest::ReadText(stderrPath); }
};

class RecordProcess : public testing::Test {
protected:
    clitest::Result Run(const std::string& config, const std::vector<std::string>& args) {
        return clitest::RunSim(m_dir, clitest::Via::DriverOption, config, args);
    }

    // Starts vosctl with the simulated driver and `config` as its bus, without
    // waiting; its standard output goes to `outFd`, or /dev/null when -1.
    // Two at once need their own `name` for the standard error file.
    Background Start(const std::string& config, std::vector<std::string> args, int outFd = -1,
                     const std::string& name = "stderr", std::vector<std::string> extraEnvironment = {}) {
        // A file of its own per process: rewriting one in place could cut it short under a
        // process started just before, which is still reading it.
        const std::string configPath = m_dir.Path("sim" + std::to_string(m_configs++) + ".conf");
        clitest::WriteText(configPath, config);
        clitest::Environment environment(std::move(extraEnvironment));
        environment.Set("VOS_SIM_CONFIG", configPath);
        args.insert(args.begin(), {"--driver", clitest::SIM_LIBRARY});
        Background process;
        process.stderrPath = m_dir.Path(name);
        const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const int errFd = ::open(process.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        process.pid = clitest::Spawn(args, environment, outFd >= 0 ? outFd : nullFd, errFd);
        ::close(nullFd);
        ::close(errFd);
        return process;
    }

    std::string Prefix() const { return m_dir.Path("run"); }

    // Polls for a file of the series with a generous deadline.
    bool WaitForFile(std::uint32_t index) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(SeriesFileName(Prefix(), index))) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Sample i must come from frame firstFrame + i * divider, on every channel: no gap, no repeat.
    static void ExpectContinuous(const seriestest::Series& series, std::uint64_t firstFrame, std::uint64_t divider) {
        seriestest::ExpectContinuous(series, firstFrame, divider, series.samples[0].size(), FrameVolts);
    }

    // The working file's samples in whole, good blocks, as a reader sees them now.
    static std::uint64_t WorkingSamples(const std::string& path) {
        JournalContents contents;
        return ScanJournal(path, true, contents) == FileError::None ? contents.samples : 0;
    }

    TempDir m_dir;
    int m_configs = 0;
};

// The last "N samples" a progress line showed.
inline std::uint64_t ShownSamples(const std::string& shown) {
    const std::size_t end = shown.rfind(" samples  ");
    if (end == std::string::npos) return 0;
    const std::size_t start = shown.rfind(' ', end - 1);
    return std::stoull(shown.substr(start + 1, end - start - 1));
}

}  // namespace recordtest
