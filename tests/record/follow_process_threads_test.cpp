// A real vosctl record at 1 kHz on the simulated logger, followed from its
// files while it runs.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/record_fixture.h"
#include "files/journal_fixture.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"
#include "files/series_on_disk.h"
#include "record/follow.h"

namespace {

using Clock = std::chrono::steady_clock;

class FollowProcess : public recordtest::RecordProcess {};

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

    // Each place the files reached, and when: the follower must show it within 20 s, a bound
    // that only a follower that stopped following misses, however busy the machine.
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
        const std::uint64_t onDisk = seriestest::OnDisk(Prefix(), 1000);
        if (pending.empty() || onDisk > pending.back().samples) pending.push_back({onDisk, Clock::now()});
        follower.Poll();
        EXPECT_GE(follower.Count(), shown) << "the record only grows";
        shown = follower.Count();
        while (!pending.empty() && pending.front().samples <= shown) {
            slowest = std::max(slowest, Clock::now() - pending.front().at);
            pending.pop_front();
        }
        if (!pending.empty() && Clock::now() - pending.front().at >= std::chrono::seconds(20)) {
            ADD_FAILURE() << pending.front().samples << " samples on disk not shown after 20 s; shown " << shown;
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
    const std::vector<std::string> followedFiles = seriestest::SampleBytes(Prefix());
    ASSERT_EQ(followedFiles.size(), 4u);
    EXPECT_TRUE(followedFiles == seriestest::SampleBytes(alone));
}

// FNV-1a of the bytes of the four channels' samples, in channel order.
std::uint64_t SamplesHash(const std::vector<double> (&channels)[4]) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const std::vector<double>& samples : channels) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
        for (std::size_t i = 0; i < samples.size() * sizeof(double); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

// Two followers in two processes, both another user than the recorder's with
// read permission only, see the whole recording; the recorder loses nothing.
TEST_F(FollowProcess, TwoFollowersOfAnotherUserSeeTheWholeRecording) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to follow as another user";
    ASSERT_EQ(::chmod(m_dir.Path("").c_str(), 0755), 0);
    struct Follower {
        pid_t pid = -1;
        int fd = -1;
    };
    Follower followers[2];
    for (Follower& follower : followers) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        follower.pid = ::fork();
        ASSERT_GE(follower.pid, 0);
        if (follower.pid == 0) {
            ::close(ends[0]);
            const gid_t none[] = {65534};
            if (::setgroups(1, none) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            // Following from before the recorder makes its lock file on.
            const char ready = 'r';
            if (::write(ends[1], &ready, 1) != 1) ::_exit(8);
            const auto deadline = Clock::now() + std::chrono::seconds(40);
            FollowedRecording followed;
            while (followed.Open(Prefix(), {}) != FileError::None) {
                if (Clock::now() > deadline) ::_exit(4);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            bool sawRunning = false;
            do {
                followed.Poll();
                sawRunning = sawRunning || followed.Status().running;
                if (Clock::now() > deadline) ::_exit(5);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            } while (followed.Status().running);
            std::vector<double> channels[4];
            for (int c = 0; c < 4; ++c) {
                channels[c].resize(followed.Count());
                if (!followed.Copy(c, 0, followed.Count(), channels[c].data())) ::_exit(6);
            }
            const std::uint64_t result[3] = {followed.Count(), SamplesHash(channels), sawRunning ? 1u : 0u};
            const bool written = ::write(ends[1], result, sizeof result) == static_cast<ssize_t>(sizeof result);
            ::_exit(written && !followed.TakeReadFailure() ? 0 : 7);
        }
        ::close(ends[1]);
        follower.fd = ends[0];
    }
    // Started once both followers run, so that both see it running however late each began.
    for (const Follower& follower : followers) {
        char ready = 0;
        ASSERT_EQ(::read(follower.fd, &ready, 1), 1) << "a follower ended before it followed";
    }
    const mode_t mask = ::umask(022);
    std::vector<std::string> args = {"record", "--clock", "1kHz", "--samples", "3500", "--split", "1000", "-o", Prefix()};
    const recordtest::Background run = Start(seriestest::LoggerConfig("realtime", ""), args);
    ::umask(mask);
    EXPECT_EQ(clitest::WaitExitWithin(run.pid, 60), 0);
    const std::string err = run.Stderr();
    EXPECT_NE(err.find("simulator overruns 0"), std::string::npos) << err;
    EXPECT_EQ(err.find("lost"), std::string::npos) << err;
    // Readable by all under the umask 022 the recorder ran with.
    struct stat info {};
    ASSERT_EQ(::stat(SeriesMemberName(Prefix(), 4, SERIES_DATA_EXTENSION).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_FALSE(std::filesystem::exists(PrefixLockPath(Prefix())));
    const seriestest::Series series = seriestest::ReadSeries(Prefix());
    ASSERT_EQ(series.samples[0].size(), 3500u);
    for (Follower& follower : followers) {
        std::uint64_t result[3] = {};
        const ssize_t got = ::read(follower.fd, result, sizeof result);
        ::close(follower.fd);
        const int status = clitest::WaitExitWithin(follower.pid, 45);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(got, static_cast<ssize_t>(sizeof result));
        EXPECT_EQ(result[0], 3500u);
        EXPECT_EQ(result[1], SamplesHash(series.samples));
        EXPECT_EQ(result[2], 1u) << "never saw the recording running";
    }
}

// A recorder stopped for a while is still recording: the follower says so,
// keeps its last sample's time, answers at once, and picks up on SIGCONT.
TEST_F(FollowProcess, ARecorderStoppedAWhileIsStillFollowed) {
    std::vector<std::string> args = {"record", "--clock", "1kHz", "--samples", "4000", "--split", "1000", "-o", Prefix()};
    const recordtest::Background run = Start(seriestest::LoggerConfig("realtime", ""), args);
    // Not left stopped by an assertion that ends the test early.
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{run.pid};
    FollowedRecording follower;
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (follower.Open(Prefix(), {}) != FileError::None) {
        ASSERT_LT(Clock::now(), deadline) << "no recording to follow; recorder: " << run.Stderr();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    deadline = Clock::now() + std::chrono::seconds(60);
    while (follower.Count() < 1500) {
        ASSERT_LT(Clock::now(), deadline) << "shown " << follower.Count() << ", running "
                                          << follower.Status().running << ", files " << follower.Status().files
                                          << ", on disk " << seriestest::OnDisk(Prefix(), 1000) << "; recorder: "
                                          << run.Stderr();
        follower.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(clitest::StopProcess(run.pid)) << run.Stderr();
    // What it wrote before it stopped is read first.
    follower.Poll();
    const std::uint64_t stopped = follower.Count();
    const std::optional<std::int64_t> last = follower.Status().lastSampleMicros;
    // A poll that waits on the stopped recorder would wait until SIGCONT: sent after 20 s,
    // it ends such a poll, which then fails the bound below.
    std::atomic<bool> polled{false};
    std::thread watchdog([&] {
        for (const auto until = Clock::now() + std::chrono::seconds(20); !polled && Clock::now() < until;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!polled) ::kill(run.pid, SIGCONT);
    });
    auto slowest = Clock::duration::zero();
    for (const auto until = Clock::now() + std::chrono::seconds(3); Clock::now() < until;) {
        const auto before = Clock::now();
        follower.Poll();
        slowest = std::max(slowest, Clock::now() - before);
        EXPECT_TRUE(follower.Status().running);
        EXPECT_EQ(follower.Count(), stopped);
        EXPECT_EQ(follower.Status().lastSampleMicros, last);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    polled = true;
    watchdog.join();
    EXPECT_LT(slowest, std::chrono::seconds(10)) << "a poll waited on the stopped recorder";
    ASSERT_EQ(::kill(run.pid, SIGCONT), 0);
    while (follower.Status().running) {
        ASSERT_LT(Clock::now(), deadline + std::chrono::seconds(30));
        follower.Poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int ended = clitest::WaitExitWithin(run.pid, 20);
    EXPECT_GT(follower.Count(), stopped);
    EXPECT_EQ(follower.Count(), seriestest::ReadSeries(Prefix()).samples[0].size()) << "status " << ended << ": "
                                                                                    << run.Stderr();
    EXPECT_NE(follower.Status().lastSampleMicros, last);
}

}  // namespace
