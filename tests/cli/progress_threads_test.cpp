// The acquire progress bar as the run's live view: it follows the stored
// count from its own thread and lets the run end only once it has stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/progress.h"

namespace {

struct RunFlags {
    std::atomic<std::int32_t> stopRequest{0};
    std::atomic<std::uint32_t> acquiredCount{0};
    std::atomic<bool> acqFinished{false};
    std::atomic<bool> liveViewEnded{false};
    AcquisitionFlags flags{stopRequest, acquiredCount, acqFinished, liveViewEnded};
};

// Waits for the flag with a generous deadline; false if it never came.
bool WaitFor(const std::atomic<bool>& flag) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!flag.load()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(ProgressBar, EndsTheLiveViewOnlyAfterTheRunFinished) {
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal);
        std::FILE* stream = std::tmpfile();
        ASSERT_NE(stream, nullptr);
        RunFlags run;
        {
            vosctl::ProgressBar progress(stream, terminal);
            // 1000 samples at 1 kHz: one second of the logger's time.
            progress.Start(run.flags, 1000, 10, true);
            run.acquiredCount.store(400);
            if (terminal) {
                EXPECT_FALSE(run.liveViewEnded.load());
            }
            run.acquiredCount.store(1000);
            run.acqFinished.store(true);
            EXPECT_TRUE(WaitFor(run.liveViewEnded));
            progress.Join();
        }
        std::rewind(stream);
        std::string shown(4096, '\0');
        shown.resize(std::fread(shown.data(), 1, shown.size(), stream));
        std::fclose(stream);
        if (terminal) {
            // The last line is the finished run's, full, in the 79 columns left of
            // an 80-column terminal (the default when the width cannot be read).
            const std::size_t last = shown.rfind("\r\033[K");
            ASSERT_NE(last, std::string::npos) << shown;
            const std::string line = shown.substr(last + 4);
            EXPECT_EQ(line.rfind("[" + std::string(33, '#') + "]  1000/1000 samples  ", 0), 0u) << line;
            EXPECT_EQ(line.substr(line.size() - 11), " 0:00 left\n") << line;
        } else {
            EXPECT_EQ(shown, "");
        }
    }
}

}  // namespace
