// A real vosctl record at 1 kHz on the simulated logger, followed from its
// files while it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/record_fixture.h"
#include "files/journal_fixture.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"
#include "record/follow.h"

namespace {

using Clock = std::chrono::steady_clock;

class FollowProcess : public recordtest::RecordProcess {
protected:
    // Samples of the series on disk now: the data files' and the newest working file's good blocks.
    std::uint64_t OnDisk(const std::string& prefix, std::uint32_t split) const {
        const SeriesListing listing = ListSeries(prefix);
        std::uint32_t last = listing.dataFiles.empty() ? 0 : listing.dataFiles.back().index;
        std::uint64_t samples = 0;
        if (!listing.workingFiles.empty() && listing.workingFiles.back().index > last) {
            last = listing.workingFiles.back().index;
            samples = WorkingSamples(listing.workingFiles.back().path);
        } else if (last != 0) {
            DataFileHeader header;
            if (ReadDataFileHeader(listing.dataFiles.back().path, header) == FileError::None) samples = header.sampleCount;
        }
        return last == 0 ? 0 : std::uint64_t{last - 1} * split + samples;
    }

    // The sample bytes and the settings of each file (all but the stamp, whose time and identity differ).
    static std::vector<std::string> SampleBytes(const std::string& prefix) {
        std::vector<std::string> files;
        for (std::uint32_t index = 1; std::filesystem::exists(SeriesFileName(prefix, index)); ++index) {
            const std::string bytes = journaltest::ReadBytes(SeriesFileName(prefix, index));
            files.push_back(bytes.substr(0, 32) + bytes.substr(256));
        }
        return files;
    }
};

TEST_F(FollowProcess, FollowsARecordingAcrossItsFilesUntilItEndsAndChangesNothing) {
    const std::vector<std::string> record = {"record", "--clock", "1kHz", "--samples", "3500", "--split", "1000"};
    std::vector<std::string> args = record;
    args.insert(args.end(), {"-o", Prefix()});
    const recordtest::Background run = Start(seriestest::LoggerConfig("realtime", ""), args);
    // Followed once the recording wrote its first file.
    const auto started = Clock::now();
    while (!std::filesystem::exists(SeriesMemberName(Prefix(), 1, SERIES_WORKING_EXTENSION)) &&
           Clock::now() - started < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    FollowedRecording follower;
    ASSERT_EQ(follower.Open(Prefix(), {}), FileError::None);

    // Readers on other threads meanwhile, as a redraw and a summary build read: a sample
    // once read never changes, also when its file is converted.
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> changed{0};
    std::atomic<std::uint64_t> reads{0};
    const auto reader = [&](int channel) {
        std::vector<double> first;
        std::vector<double> now;
        while (!stop.load()) {
            const std::uint64_t count = follower.Count();
            now.resize(count);
            if (count != 0 && follower.Copy(channel, 0, count, now.data())) {
                const std::size_t same = std::min(first.size(), now.size());
                if (same != 0 && std::memcmp(first.data(), now.data(), same * sizeof(double)) != 0) ++changed;
                if (now.size() > first.size()) first = now;
                const SampleExtremes e = follower.Extremes(channel, 0, count);
                if (!(e.low <= follower.At(channel, count - 1) && follower.At(channel, count - 1) <= e.high)) ++changed;
                ++reads;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    std::thread readers[2] = {std::thread(reader, 0), std::thread(reader, 1)};

    // Each place the files reached, and when: the follower must show it within 2 s.
    struct Reached {
        std::uint64_t samples;
        Clock::time_point at;
    };
    std::deque<Reached> pending;
    auto slowest = Clock::duration::zero();
    std::size_t mostWorking = 0;
    std::size_t seenFiles = 0;
    std::uint64_t shown = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (follower.Status().running && Clock::now() < deadline) {
        const std::uint64_t onDisk = OnDisk(Prefix(), 1000);
        if (pending.empty() || onDisk > pending.back().samples) pending.push_back({onDisk, Clock::now()});
        follower.Poll();
        EXPECT_GE(follower.Count(), shown) << "the record only grows";
        shown = follower.Count();
        while (!pending.empty() && pending.front().samples <= shown) {
            slowest = std::max(slowest, Clock::now() - pending.front().at);
            pending.pop_front();
        }
        if (!pending.empty() && Clock::now() - pending.front().at >= std::chrono::seconds(2)) {
            ADD_FAILURE() << pending.front().samples << " samples on disk not shown after 2 s; shown " << shown;
            break;
        }
        mostWorking = std::max(mostWorking, follower.Status().workingFiles);
        seenFiles = std::max(seenFiles, follower.Status().files);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop = true;
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(changed.load(), 0u);
    EXPECT_GT(reads.load(), 0u);
    EXPECT_FALSE(follower.Status().running) << "the end was not seen within 60 s";
    EXPECT_EQ(run.Wait(), 0) << run.Stderr();
    const std::string err = run.Stderr();
    EXPECT_NE(err.find("simulator overruns 0"), std::string::npos) << err;
    EXPECT_EQ(err.find("lost"), std::string::npos) << err;
    std::printf("slowest: %.3f s after the samples reached the file\n",
                std::chrono::duration<double>(slowest).count());

    // Across its four files, while they were working files, to the whole series, sample for sample.
    EXPECT_GE(mostWorking, 1u);
    EXPECT_EQ(seenFiles, 4u);
    EXPECT_EQ(follower.Status().files, 4u);
    EXPECT_EQ(follower.Status().workingFiles, 0u);
    EXPECT_EQ(follower.FileStarts(), (std::vector<std::uint64_t>{0, 1000, 2000, 3000}));
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(follower.Count(), 3500u);
    ASSERT_EQ(series.samples[0].size(), 3500u);
    for (int c = 0; c < 4; ++c) {
        std::vector<double> followed(3500);
        ASSERT_TRUE(follower.Copy(c, 0, 3500, followed.data()));
        EXPECT_EQ(std::memcmp(followed.data(), series.samples[c].data(), 3500 * sizeof(double)), 0) << "channel " << c;
    }
    EXPECT_EQ(follower.Status().lastSampleMicros,
              StampSampleMicros(*series.headers.back().stamp, series.headers.back().clockDivider, 499));
    EXPECT_FALSE(follower.TakeReadFailure());

    // The same recording without a follower gives the same samples.
    const std::string alone = m_dir.Path("alone");
    args = record;
    args.insert(args.end(), {"-o", alone});
    EXPECT_EQ(Start(seriestest::LoggerConfig("realtime", ""), args, -1, "alone-stderr").Wait(), 0);
    const std::vector<std::string> followedFiles = SampleBytes(Prefix());
    ASSERT_EQ(followedFiles.size(), 4u);
    EXPECT_TRUE(followedFiles == SampleBytes(alone));
}

}  // namespace
