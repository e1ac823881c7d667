// The built program, started as a user starts it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// The SigIgn mask of /proc/<pid>/status: bit n-1 stands for signal n.
unsigned long long IgnoredSignals(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigIgn:", 0) == 0) {
            return std::stoull(line.substr(7), nullptr, 16);
        }
    }
    return 0;
}

TEST(StartUp, WritesThatFailDoNotEndTheProgram) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("LD_LIBRARY_PATH", VOS_SIM_DIR, 1);
    // Not the user's data folder, where the program looks for runs left at its start.
    char data[] = "/tmp/vos-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(data), nullptr);
    ::setenv("XDG_DATA_HOME", data, 1);
    char* argv[] = {const_cast<char*>(VOS_VIEWER), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, VOS_VIEWER, nullptr, nullptr, argv, environ), 0);

    const unsigned long long wanted = (1ULL << (SIGPIPE - 1)) | (1ULL << (SIGXFSZ - 1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    unsigned long long ignored = 0;
    int status = 0;
    while ((ignored & wanted) != wanted && std::chrono::steady_clock::now() < deadline &&
           ::waitpid(pid, &status, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ignored = IgnoredSignals(pid);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(ignored & wanted, wanted) << "SigIgn " << std::hex << ignored;
    ::rmdir(data);
}

}  // namespace
