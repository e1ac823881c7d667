// The window's run kept in its working file: what the file's stamp says.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/record.h"
#include "acquisition/run_journal.h"
#include "files/journal.h"
#include "files/temp_dir.h"

namespace {

// The first sample of an untriggered run is taken as the run starts, however
// long after that the working file is made and however many samples it then
// finds at once.
TEST(RunJournal, TheStampHoldsTheRunsStartNotTheTimeTheFileWasMade) {
    TempDir dir;
    const std::string runs = dir.Path("runs");
    RunJournal journal(runs);
    AcquisitionSettings settings;
    settings.sampleCount = 100000;
    std::vector<double> values[4];
    double* channels[4];
    for (int c = 0; c < 4; ++c) {
        values[c].assign(settings.sampleCount, 1.0 + c);
        channels[c] = values[c].data();
    }
    std::atomic<std::uint32_t> stored{0};
    const std::int64_t before = UtcMicrosNow();
    journal.Start(settings, channels, stored);
    const std::int64_t after = UtcMicrosNow();
    // Half a second of samples at 10 kHz, stored at once.
    stored.store(5000, std::memory_order_release);

    JournalContents contents;
    bool found = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!found && std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(runs, error), end; !error && it != end; it.increment(error)) {
            found = found || (it->path().extension() == ".vrec" &&
                              ScanJournal(it->path().string(), true, contents) == FileError::None &&
                              contents.samples == 5000);
        }
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    journal.Finish();
    ASSERT_TRUE(found) << "no working file with the 5000 samples within 20 s";
    ASSERT_TRUE(contents.header.settings.stamp.has_value());
    EXPECT_GE(contents.header.settings.stamp->startMicros, before);
    EXPECT_LE(contents.header.settings.stamp->startMicros, after);
}

}  // namespace
