#pragma once

// Runs the built vosctl as a process, as a user or a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/temp_dir.h"

extern char** environ;

namespace clitest {

inline const std::string VOSCTL = VOSCTL_PATH;
inline const std::string SIM_LIBRARY = SIM_LIBRARY_PATH;

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline constexpr const char* NO_DRIVER = "/nonexistent/libftd2xx.so";

/// One logger, instant frames, signals that depend only on the frame number.
inline constexpr const char* ONE_LOGGER =
    "pace instant\n"
    "device serial=30001\n"
    "channel 0 sine freq=5 amp=4 offset=5\n"
    "channel 1 dc offset=2.5\n";

/// Writes a data file with the given header and one value list per channel.
inline void WriteRecord(const std::string& path, DataFileHeader header, const std::vector<double> (&channels)[4]) {
    header.sampleCount = static_cast<std::uint32_t>(channels[0].size());
    const double* data[4] = {channels[0].data(), channels[1].data(), channels[2].data(), channels[3].data()};
    ASSERT_EQ(SaveDataFile(path, header, data), FileError::None);
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

/// How the simulated driver reaches vosctl.
enum class Via { DriverOption, LibraryPath };

/// The environment without the simulator's and the loader's variables and
/// the cache folder, plus `extra` ("NAME=value" entries).
class Environment {
public:
    Environment(std::vector<std::string> extra = {}) : m_entries(std::move(extra)) {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (text.rfind("VOS_SIM_CONFIG=", 0) != 0 && text.rfind("LD_LIBRARY_PATH=", 0) != 0 &&
                text.rfind("XDG_CACHE_HOME=", 0) != 0) {
                m_entries.push_back(text);
            }
        }
    }
    void Set(const std::string& name, const std::string& value) { m_entries.push_back(name + "=" + value); }
    bool Has(const std::string& name) const {
        return std::any_of(m_entries.begin(), m_entries.end(),
                           [&](const std::string& entry) { return entry.rfind(name + "=", 0) == 0; });
    }
    std::vector<std::string> Entries() const { return m_entries; }

private:
    std::vector<std::string> m_entries;
};

/// Summaries cached by a program started without a cache folder of its own:
/// never the user's cache. Made as the test program starts, before any test
/// changes TMPDIR.
inline const TempDir SPAWN_CACHE_HOME;

/// Starts `program` (vosctl by default) with `args` and the given descriptors
/// as standard output and standard error (standard input is /dev/null);
/// an `outFd` of -1 starts it with standard output closed. Returns its pid.
inline pid_t Spawn(const std::vector<std::string>& args, const Environment& environment, int outFd, int errFd,
                   const std::string& program = VOSCTL) {
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStore) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStore = environment.Entries();
    if (environment.Has("LD_PRELOAD")) {
        // A shim preloaded ahead of a sanitizer build's runtime is what the
        // test wants, not a mistake for that runtime to stop at; the first
        // entry of a name is the one a program sees.
        const char* options = std::getenv("ASAN_OPTIONS");
        envStore.insert(envStore.begin(), std::string("ASAN_OPTIONS=") + (options != nullptr && *options != '\0'
                                                                               ? std::string(options) + ":"
                                                                               : std::string()) +
                                              "verify_asan_link_order=0");
    }
    if (!environment.Has("XDG_CACHE_HOME")) {
        envStore.push_back("XDG_CACHE_HOME=" + SPAWN_CACHE_HOME.Path("xdg-cache"));
    }
    std::vector<char*> envp;
    for (std::string& entry : envStore) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd < 0) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(error, 0) << "cannot start " << program;
    return error == 0 ? pid : -1;
}

/// The exit status, or 128 + the signal that ended the process.
inline int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/// The exit status as WaitExit gives it, or -1 when the process has not
/// ended within `seconds`; it is then killed.
inline int WaitExitWithin(pid_t pid, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            WaitExit(pid);
            return -1;
        }
        ::usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/// Stops `pid`, a child of this process, and returns once it has stopped:
/// true; false when it ended instead, its status as WaitExit gives it in `ended`.
inline bool StopProcess(pid_t pid, int* ended = nullptr) {
    ::kill(pid, SIGSTOP);
    int status = 0;
    while (::waitpid(pid, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
    if (WIFSTOPPED(status)) return true;
    if (ended != nullptr) *ended = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

/// Names in `folder` that begin with "." : hidden files a replacement left.
inline std::vector<std::string> HiddenFiles(const std::string& folder) {
    std::vector<std::string> hidden;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.' && name != ".stdout" && name != ".stderr") hidden.push_back(name);
    }
    return hidden;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs vosctl to its end with standard output and error caught in files of
/// `dir` (`program`: another copy of vosctl), and summaries cached in its folder "xdg-cache" unless `environment` names one.
inline Result Run(const TempDir& dir, const std::vector<std::string>& args, Environment environment = {},
                  const std::string& program = VOSCTL) {
    const std::string outPath = dir.Path(".stdout");
    const std::string errPath = dir.Path(".stderr");
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (!environment.Has("XDG_CACHE_HOME")) {
        environment.Set("XDG_CACHE_HOME", dir.Path("xdg-cache"));
    }
    Result result;
    const pid_t pid = Spawn(args, environment, outFd, errFd, program);
    ::close(outFd);
    ::close(errFd);
    if (pid > 0) {
        result.status = WaitExit(pid);
    }
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

/// Runs vosctl on the simulated bus described by `config` (none: the
/// simulator's default bus), reaching the driver as `via` says.
inline Result RunSim(const TempDir& dir, Via via, const std::optional<std::string>& config,
                     std::vector<std::string> args) {
    Environment environment;
    if (config) {
        const std::string path = dir.Path("sim.conf");
        WriteText(path, *config);
        environment.Set("VOS_SIM_CONFIG", path);
    }
    if (via == Via::DriverOption) {
        args.insert(args.begin(), {"--driver", SIM_LIBRARY});
    } else {
        environment.Set("LD_LIBRARY_PATH", std::filesystem::path(SIM_LIBRARY).parent_path().string());
    }
    return Run(dir, args, environment);
}

/// vosctl with its standard error on a terminal, for the progress bar and interrupts.
class TerminalRun {
public:
    TerminalRun(const TempDir& dir, const std::string& config, std::vector<std::string> args,
                std::vector<std::string> extraEnvironment = {}) {
        const std::string configPath = dir.Path("sim.conf");
        WriteText(configPath, config);
        Environment environment(std::move(extraEnvironment));
        environment.Set("VOS_SIM_CONFIG", configPath);
        args.insert(args.begin(), {"--driver", SIM_LIBRARY});
        int slave = -1;
        winsize size{};
        size.ws_col = 100;
        size.ws_row = 24;
        EXPECT_EQ(::openpty(&m_master, &slave, nullptr, nullptr, &size), 0);
        const int outFd = ::open(dir.Path(".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_pid = Spawn(args, environment, outFd, slave);
        ::close(outFd);
        ::close(slave);
    }
    ~TerminalRun() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            WaitExit(m_pid);
        }
        ::close(m_master);
    }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    /// Reads the terminal until `found` holds for what it showed (at most `seconds`).
    template <class F>
    bool ReadUntil(F found, int seconds = 30) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!found(m_shown)) {
            if (std::chrono::steady_clock::now() > deadline || !Drain(100)) {
                return false;
            }
        }
        return true;
    }

    void Signal(int signal) { ::kill(m_pid, signal); }

    /// Waits for the end, reading the terminal meanwhile; the exit status.
    int Finish() {
        while (Drain(100)) {
        }
        const int status = WaitExit(m_pid);
        m_pid = -1;
        return status;
    }

    const std::string& Shown() const { return m_shown; }

private:
    // False once the terminal's other side is closed.
    bool Drain(int timeoutMs) {
        pollfd poller{m_master, POLLIN, 0};
        if (::poll(&poller, 1, timeoutMs) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        m_shown.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    int m_master = -1;
    pid_t m_pid = -1;
    std::string m_shown;
};

}  // namespace clitest
