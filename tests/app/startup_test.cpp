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

// A signal mask of /proc/<pid>/status ("SigIgn:", "SigCgt:"): bit n-1 stands for signal n.
unsigned long long SignalMask(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stoull(line.substr(field.size()), nullptr, 16);
        }
    }
    return 0;
}

// Writes that fail do not end the program, and the signals that do end it
// are caught first, to remove the new file of a save not yet complete.
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
    unsigned long long caughtWanted = 0;
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM}) {
        caughtWanted |= 1ULL << (signal - 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    unsigned long long ignored = 0;
    unsigned long long caught = 0;
    int status = 0;
    while (((ignored & wanted) != wanted || (caught & caughtWanted) != caughtWanted) &&
           std::chrono::steady_clock::now() < deadline && ::waitpid(pid, &status, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ignored = SignalMask(pid, "SigIgn:");
        caught = SignalMask(pid, "SigCgt:");
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(ignored & wanted, wanted) << "SigIgn " << std::hex << ignored;
    EXPECT_EQ(caught & caughtWanted, caughtWanted) << "SigCgt " << std::hex << caught;
    ::rmdir(data);
}

}  // namespace
