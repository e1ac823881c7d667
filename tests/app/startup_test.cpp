// The built program, started as a user starts it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// A prefix that cannot be followed is refused as a command's argument is: the
// reason on stderr and a failing status, without a window left waiting.
TEST(StartUp, AFollowThatCannotStartEndsWithAMessage) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("LD_LIBRARY_PATH", VOS_SIM_DIR, 1);
    char data[] = "/tmp/vos-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(data), nullptr);
    ::setenv("XDG_DATA_HOME", data, 1);
    const std::string prefix = std::string(data) + "/missing/run";
    const std::string errPath = std::string(data) + "/stderr";
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(VOS_VIEWER), const_cast<char*>("--follow"), const_cast<char*>(prefix.c_str()),
                    nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, VOS_VIEWER, &actions, nullptr, argv, environ), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool ended = done == pid;
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    std::ifstream errFile(errPath);
    const std::string err((std::istreambuf_iterator<char>(errFile)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(ended) << "still running after 30 s";
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    const std::string start = "vosviewer: " + prefix + ": ";
    // A line of its own (Qt may warn before it), with the reason after the prefix.
    const std::size_t at = err.find(start);
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_TRUE(at == 0 || err[at - 1] == '\n') << err;
    EXPECT_GT(err.find('\n', at), at + start.size()) << err;
    std::filesystem::remove_all(data);
}

// --help and --version print and end without a display: neither DISPLAY,
// WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set, as over ssh or in a script.
TEST(StartUp, HelpAndVersionNeedNoDisplay) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("DISPLAY=", 0) != 0 && text.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            text.rfind("QT_QPA_PLATFORM=", 0) != 0) {
            environment.push_back(text);
        }
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    char data[] = "/tmp/vos-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(data), nullptr);
    const std::string outPath = std::string(data) + "/stdout";
    struct Case {
        const char* option;
        const char* printed;  // the start of standard output
    };
    const Case cases[] = {
        {"--version", "VOS Viewer "},
        {"-v", "VOS Viewer "},
        {"--help", "Usage: "},
        {"-h", "Usage: "},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.option);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::posix_spawn_file_actions_addopen(&actions, 2, outPath.c_str(), O_WRONLY | O_APPEND, 0644);
        char* argv[] = {const_cast<char*>(VOS_VIEWER), const_cast<char*>(test.option), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, VOS_VIEWER, &actions, nullptr, argv, envp.data()), 0);
        ::posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        std::ifstream outFile(outPath);
        const std::string out((std::istreambuf_iterator<char>(outFile)), std::istreambuf_iterator<char>());
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << ": " << out;
        EXPECT_EQ(WEXITSTATUS(status), 0) << out;
        EXPECT_EQ(out.rfind(test.printed, 0), 0u) << out;
        if (test.printed[0] == 'U') {
            EXPECT_NE(out.find("--simulator"), std::string::npos) << out;
        }
    }
    std::filesystem::remove_all(data);
}

}  // namespace
