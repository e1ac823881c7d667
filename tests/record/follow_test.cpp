// A recording followed while its files grow: working files written here
// byte by byte as the recorder writes them, converted by the recorder's own
// converter, and a prefix lock held by another process.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/journal.h"
#include "files/journal_fixture.h"
#include "files/prefix_lock.h"
#include "files/temp_dir.h"
#include "record/follow.h"

// What happens right after the next look at the file `g_watchedPath`, e.g. a recorder
// taking the prefix just after a follower found its lock file missing. Every lstat of
// this program passes here: the follower's look at the lock is one.
std::string g_watchedPath;
std::function<void()> g_afterLook;

extern "C" int lstat(const char* __restrict path, struct stat* __restrict info) noexcept {
    static const auto real = reinterpret_cast<int (*)(const char*, struct stat*)>(::dlsym(RTLD_NEXT, "lstat"));
    const int result = real(path, info);
    if (g_afterLook && path == g_watchedPath) {
        const int error = errno;
        std::exchange(g_afterLook, {})();
        errno = error;
    }
    return result;
}

namespace {

using journaltest::START_MICROS;
using journaltest::Value;

// Another process holding the prefix, as a recorder does, until told how to end.
class LockHolder {
public:
    explicit LockHolder(const std::string& prefix) {
        int up[2];
        int down[2];
        EXPECT_EQ(::pipe(up), 0);
        EXPECT_EQ(::pipe(down), 0);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            PrefixLock lock;
            const char held = lock.Acquire(prefix) == PrefixLock::Result::Held ? 'y' : 'n';
            (void)!::write(up[1], &held, 1);
            char how = 0;
            (void)!::read(down[0], &how, 1);
            if (how == 'r') lock.Release();
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        m_toChild = down[1];
        char held = 0;
        EXPECT_EQ(::read(up[0], &held, 1), 1);
        EXPECT_EQ(held, 'y');
        ::close(up[0]);
    }
    ~LockHolder() { End(true); }
    // Ends the process: it lets the prefix go as a recorder does, or dies holding it.
    void End(bool release) {
        if (m_pid <= 0) return;
        const char how = release ? 'r' : 'k';
        EXPECT_EQ(::write(m_toChild, &how, 1), 1);
        ::close(m_toChild);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
};

// Whether another process could take the prefix now.
bool FreeForAnotherProcess(const std::string& prefix) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        PrefixLock lock;
        ::_exit(lock.Acquire(prefix) == PrefixLock::Result::Held ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The bytes of a working file of these blocks, as the recorder writes them.
std::string WorkingBytes(const TempDir& dir, const journaltest::WorkingFileSpec& spec) {
    const std::string path = dir.Path("reference-" + std::to_string(spec.index) + ".vrec");
    journaltest::WriteWorkingFile(path, spec);
    std::string bytes = journaltest::ReadBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

void Append(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// The working file converted by the recorder's converter, then removed.
void Convert(const std::string& working, const std::string& data) {
    JournalContents contents;
    ASSERT_EQ(ScanJournal(working, true, contents), FileError::None);
    ASSERT_EQ(ConvertJournal(working, contents, data), FileError::None);
    std::filesystem::remove(working);
}

// Every sample of every channel is the literal value of its place.
void ExpectValues(const FollowedRecording& record, std::uint64_t count) {
    ASSERT_EQ(record.Count(), count);
    for (int c = 0; c < 4; ++c) {
        std::vector<double> values(count);
        ASSERT_TRUE(record.Copy(c, 0, count, values.data()));
        for (std::uint64_t i = 0; i < count; ++i) EXPECT_EQ(values[i], Value(i, c)) << "channel " << c << " sample " << i;
    }
}

TEST(FollowedRecording, GrowsBlockByBlockThroughATornTailAConversionAndTheNextFileUntilItEnds) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    const std::string working1 = prefix + "-000001.vrec";
    const std::string working2 = prefix + "-000002.vrec";
    // File 1: blocks of 4 and 6 samples (the split 10); file 2 begins at sample 10 with 3.
    const std::string file1 = WorkingBytes(dir, {.index = 1, .firstSample = 0, .split = 10, .blocks = {4, 6}});
    const std::string file2 = WorkingBytes(dir, {.index = 2, .firstSample = 10, .startMicros = START_MICROS + 1000,
                                                 .split = 10, .blocks = {3}});
    const std::size_t block2 = journaltest::BlockOffset({4, 6}, 1);
    LockHolder recorder(prefix);

    // Only the header: a recording with no samples yet.
    Append(working1, file1.substr(0, 272));
    FollowedRecording record;
    ASSERT_EQ(record.Open(prefix, {}), FileError::None);
    EXPECT_TRUE(record.Status().running);
    EXPECT_EQ(record.Status().samples, 0u);
    EXPECT_EQ(record.Status().files, 1u);
    EXPECT_FALSE(record.Status().lastSampleMicros);

    struct Step {
        const char* what;
        std::string bytes;       // appended to the working file first
        bool changed;
        std::uint64_t samples;
        std::int64_t lastMicros;  // 0 for none
    };
    const Step steps[] = {
        {"the first block", file1.substr(272, block2 - 272), true, 4, START_MICROS + 300},
        {"half of the second block", file1.substr(block2, 100), false, 4, START_MICROS + 300},
        {"the rest of it", file1.substr(block2 + 100), true, 10, START_MICROS + 900},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Append(working1, step.bytes);
        EXPECT_EQ(record.Poll(), step.changed);
        EXPECT_TRUE(record.Status().running);
        EXPECT_EQ(record.Status().samples, step.samples);
        EXPECT_EQ(record.Count(), step.samples);
        EXPECT_EQ(record.Status().lastSampleMicros.value_or(0), step.lastMicros);
        EXPECT_EQ(record.Status().error, FileError::None);
        ExpectValues(record, step.samples);
    }

    // The next file, while the first is still a working file.
    Append(working2, file2);
    EXPECT_TRUE(record.Poll());
    EXPECT_EQ(record.Status().files, 2u);
    EXPECT_EQ(record.Status().workingFiles, 2u);
    EXPECT_EQ(record.Status().lastSampleMicros.value_or(0), START_MICROS + 1000 + 200);
    ExpectValues(record, 13);
    EXPECT_EQ(record.FileStarts(), (std::vector<std::uint64_t>{0, 10}));
    EXPECT_EQ(record.FileOf(9), working1);
    EXPECT_EQ(record.FileOf(10), working2);
    // File 2 continues file 1: no gap to mark. A file no sample shown lies in is not named.
    EXPECT_EQ(record.Files(13), (std::vector<RecordFile>{{0, working1, false}, {10, working2, false}}));
    EXPECT_EQ(record.Files(10), (std::vector<RecordFile>{{0, working1, false}}));
    // Each file's samples are timed from its own stamp, 100 us apart.
    struct Timed {
        std::uint64_t sample;
        std::int64_t micros;
    };
    const auto expectTimes = [&](const char* what, std::initializer_list<Timed> rows) {
        SCOPED_TRACE(what);
        for (const Timed& row : rows) {
            EXPECT_EQ(record.SampleTimeMicros(row.sample).value_or(0), row.micros) << "sample " << row.sample;
            const std::optional<RecordingStamp> stamp = record.StampFrom(row.sample);
            ASSERT_TRUE(stamp) << "sample " << row.sample;
            EXPECT_EQ(stamp->startMicros, row.micros);
            EXPECT_EQ(stamp->firstSample, row.sample);
        }
    };
    expectTimes("working files", {{0, START_MICROS}, {9, START_MICROS + 900}, {10, START_MICROS + 1000},
                                  {12, START_MICROS + 1200}});

    // The first converted: its samples keep their places, now read from the data file.
    Convert(working1, prefix + "-000001.dlf");
    EXPECT_TRUE(record.Poll());
    EXPECT_EQ(record.Status().workingFiles, 1u);
    EXPECT_EQ(record.FileOf(9), prefix + "-000001.dlf");
    ExpectValues(record, 13);
    expectTimes("a data file", {{3, START_MICROS + 300}, {9, START_MICROS + 900}, {11, START_MICROS + 1100}});
    EXPECT_FALSE(record.TakeReadFailure());

    // The last converted, then the prefix let go: the recording ended whole.
    Convert(working2, prefix + "-000002.dlf");
    recorder.End(true);
    EXPECT_TRUE(record.Poll());
    EXPECT_FALSE(record.Status().running);
    EXPECT_EQ(record.Status().workingFiles, 0u);
    EXPECT_EQ(record.Status().files, 2u);
    ExpectValues(record, 13);
    EXPECT_FALSE(record.Poll());
}

// How the end of a recording is told, and what stays shown.
TEST(FollowedRecording, MarksTheFileAfterSamplesTheRecorderLost) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    const std::string working1 = prefix + "-000001.vrec";
    const std::string working2 = prefix + "-000002.vrec";
    LockHolder recorder(prefix);
    // File 1 holds samples 0 to 9; file 2 begins at sample 15, 1.5 ms later: 10 to 14 were lost.
    Append(working1, WorkingBytes(dir, {.index = 1, .firstSample = 0, .split = 10, .blocks = {10}}));
    Append(working2, WorkingBytes(dir, {.index = 2, .firstSample = 15, .startMicros = START_MICROS + 1500,
                                        .split = 10, .blocks = {3}}));
    FollowedRecording record;
    ASSERT_EQ(record.Open(prefix, {}), FileError::None);
    ASSERT_EQ(record.Count(), 13u);
    EXPECT_EQ(record.Files(13), (std::vector<RecordFile>{{0, working1, false}, {10, working2, true}}));
    // Converted, file 1's header counts its samples itself: the same gap.
    Convert(working1, prefix + "-000001.dlf");
    record.Poll();
    EXPECT_EQ(record.Files(13), (std::vector<RecordFile>{{0, prefix + "-000001.dlf", false}, {10, working2, true}}));
    EXPECT_EQ(record.SampleTimeMicros(10).value_or(0), START_MICROS + 1500);
}

TEST(FollowedRecording, EndsWhenThePrefixIsLetGoOrItsHolderDies) {
    struct Case {
        const char* what;
        int end;  // 0 still running, 1 let go, 2 died holding it
        bool running;
    };
    const Case cases[] = {
        {"holder runs", 0, true},
        {"holder let go", 1, false},
        {"holder died: the lock file stays, unlocked", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string prefix = dir.Path("rec");
        Append(prefix + "-000001.vrec", WorkingBytes(dir, {.index = 1, .split = 10, .blocks = {5}}));
        LockHolder recorder(prefix);
        FollowedRecording record;
        ASSERT_EQ(record.Open(prefix, {}), FileError::None);
        EXPECT_TRUE(record.Status().running);
        if (c.end != 0) recorder.End(c.end == 1);
        EXPECT_EQ(record.Poll(), !c.running);
        EXPECT_EQ(record.Status().running, c.running);
        EXPECT_EQ(std::filesystem::exists(PrefixLockPath(prefix)), c.end != 1);
        // A working file left behind keeps its good blocks shown.
        ExpectValues(record, 5);
    }
}

// Blocks that are whole but not good are not taken, nor what follows them.
TEST(FollowedRecording, TakesOnlyGoodBlocksThatFollow) {
    struct Case {
        const char* what;
        std::size_t flip;  // the byte of the second block flipped, or none
        bool repeat;       // the first block written again as the second
    };
    const Case cases[] = {
        {"a payload byte damaged", 16 + 5, false},
        {"its count damaged", 4, false},
        {"the first block again", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string prefix = dir.Path("rec");
        const std::string bytes = WorkingBytes(dir, {.index = 1, .split = 10, .blocks = {3, 2}});
        const std::size_t second = journaltest::BlockOffset({3, 2}, 1);
        std::string written = bytes.substr(0, second);
        std::string next = c.repeat ? bytes.substr(272, second - 272) : bytes.substr(second);
        if (!c.repeat) next[c.flip] = static_cast<char>(next[c.flip] ^ 0x10);
        Append(prefix + "-000001.vrec", written + next);
        LockHolder recorder(prefix);
        FollowedRecording record;
        ASSERT_EQ(record.Open(prefix, {}), FileError::None);
        EXPECT_FALSE(record.Poll());
        ExpectValues(record, 3);
    }
}

// A data file that holds fewer samples than its working file showed would move
// the samples after them: the working file stays read.
TEST(FollowedRecording, KeepsTheWorkingFileOverAShorterDataFile) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    const std::string working = prefix + "-000001.vrec";
    Append(working, WorkingBytes(dir, {.index = 1, .split = 10, .blocks = {3, 2}}));
    LockHolder recorder(prefix);
    FollowedRecording record;
    ASSERT_EQ(record.Open(prefix, {}), FileError::None);
    ExpectValues(record, 5);
    JournalContents contents;
    ASSERT_EQ(ScanJournal(working, true, contents), FileError::None);
    DataFileHeader header = contents.header.settings;
    header.sampleCount = 3;
    contents.segments[0].end = journaltest::BlockOffset({3, 2}, 1);
    contents.segments[0].samples = 3;
    ASSERT_EQ(ConvertJournalSegments(working, std::span(contents.segments).first(1), header, prefix + "-000001.dlf"),
              FileError::None);
    record.Poll();
    EXPECT_EQ(record.FileOf(0), working);
    ExpectValues(record, 5);
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

// A long series holds a bounded number of its files open, and a file changed
// while it was closed reads nothing.
TEST(FollowedRecording, HoldsFewFilesOpenAndReadsNoReplacedFile) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    const auto save = [&](std::uint32_t index) {
        std::vector<double> values[DLF_CHANNELS];
        const double* channels[DLF_CHANNELS];
        for (int c = 0; c < DLF_CHANNELS; ++c) {
            values[c] = {Value(2 * (index - 1), c), Value(2 * (index - 1) + 1, c)};
            channels[c] = values[c].data();
        }
        DataFileHeader header;
        header.sampleCount = 2;
        header.stamp = RecordingStamp{START_MICROS + 200 * (index - 1), journaltest::Identity(1), index, 2 * (index - 1)};
        const std::string path = prefix + "-" + std::string(6 - std::to_string(index).size(), '0') + std::to_string(index) + ".dlf";
        ASSERT_EQ(SaveDataFile(path, header, channels), FileError::None);
    };
    for (std::uint32_t index = 1; index <= 300; ++index) save(index);
    const std::size_t before = OpenDescriptors();
    FollowedRecording record;
    ASSERT_EQ(record.Open(prefix, {}), FileError::None);
    EXPECT_FALSE(record.Status().running);
    EXPECT_EQ(record.Status().files, 300u);
    ExpectValues(record, 600);
    EXPECT_LE(OpenDescriptors(), before + 256);
    // File 1 is let go for the later ones; rewritten in place meanwhile, same inode and
    // size, it is not read as the file it was.
    std::vector<double> later(598);
    ASSERT_TRUE(record.Copy(0, 2, 598, later.data()));
    const int fd = ::open((prefix + "-000001.dlf").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const double other = 0.5;
    ASSERT_EQ(::pwrite(fd, &other, sizeof other, 256), static_cast<ssize_t>(sizeof other));
    ::close(fd);
    double sample = 0.0;
    EXPECT_FALSE(record.Copy(0, 0, 1, &sample));
    EXPECT_TRUE(record.TakeReadFailure());
    EXPECT_TRUE(std::isnan(record.At(0, 1)));
}

TEST(FollowedRecording, ARecorderInThisProcessKeepsItsLock) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    Append(prefix + "-000001.vrec", WorkingBytes(dir, {.index = 1, .split = 10, .blocks = {2}}));
    PrefixLock lock;
    ASSERT_EQ(lock.Acquire(prefix), PrefixLock::Result::Held);
    FollowedRecording record;
    ASSERT_EQ(record.Open(prefix, {.recorderInProcess = true}), FileError::None);
    record.Poll();
    EXPECT_TRUE(record.Status().running);
    EXPECT_FALSE(FreeForAnotherProcess(prefix));
    lock.Release();
    EXPECT_TRUE(record.Poll());
    EXPECT_FALSE(record.Status().running);
}

// A recorder that takes the prefix and writes its first block just after the
// follower found the prefix free is followed to its end, not taken for ended.
TEST(FollowedRecording, ARecordingBegunJustAfterTheLookIsFollowed) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    const std::string working = prefix + "-000001.vrec";
    const std::string bytes = WorkingBytes(dir, {.index = 1, .split = 10, .blocks = {4, 6}});
    const std::size_t block2 = journaltest::BlockOffset({4, 6}, 1);
    std::optional<LockHolder> recorder;
    g_watchedPath = PrefixLockPath(prefix);
    g_afterLook = [&] {
        recorder.emplace(prefix);
        Append(working, bytes.substr(0, block2));
    };
    FollowedRecording record;
    ASSERT_EQ(record.Open(prefix, {}), FileError::None);
    EXPECT_FALSE(g_afterLook) << "the follower never looked at " << g_watchedPath;
    EXPECT_TRUE(record.Status().running);
    ExpectValues(record, 4);
    Append(working, bytes.substr(block2));
    EXPECT_TRUE(record.Poll());
    ExpectValues(record, 10);
    Convert(working, prefix + "-000001.dlf");
    recorder->End(true);
    EXPECT_TRUE(record.Poll());
    EXPECT_FALSE(record.Status().running);
    ExpectValues(record, 10);
}

TEST(FollowedRecording, RefusesWhatIsNoRecording) {
    TempDir dir;
    const std::string prefix = dir.Path("rec");
    FollowedRecording record;
    EXPECT_EQ(record.Open(prefix, {}), FileError::Open);
    // Files 1 and 3, no file 2.
    Append(prefix + "-000001.vrec", WorkingBytes(dir, {.index = 1, .split = 10, .blocks = {10}}));
    Append(prefix + "-000003.vrec", WorkingBytes(dir, {.index = 3, .firstSample = 20, .split = 10, .blocks = {1}}));
    EXPECT_EQ(record.Open(prefix, {}), FileError::Format);
    EXPECT_EQ(record.OpenFiles({dir.Path("other.vrec")}, {}), FileError::Format);
    // A series whose newest file is a working file, named by its files.
    std::filesystem::remove(prefix + "-000003.vrec");
    LockHolder recorder(prefix);
    ASSERT_EQ(record.OpenFiles({prefix + "-000001.vrec"}, {}), FileError::None);
    EXPECT_TRUE(record.Status().running);
    ExpectValues(record, 10);
}

}  // namespace
