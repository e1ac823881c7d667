#include "files/series_names.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "files/prefix_lock.h"
#include "files/temp_dir.h"

namespace {

TEST(SeriesNames, OneNamePerIndexAtAnyWidth) {
    struct Case {
        const char* name;
        std::uint32_t index;  // 0: not a file of the series "run" with .dlf
    };
    const Case cases[] = {
        {"run-000001.dlf", 1},
        {"run-999999.dlf", 999999},
        {"run-1000000.dlf", 1000000},
        {"run-4294967295.dlf", 4294967295u},
        {"run-4294967297.dlf", 0},   // past the widest index
        {"run-04294967295.dlf", 0},  // eleven digits
        {"run-0000001.dlf", 0},      // a seventh digit that is a leading zero
        {"run-000000.dlf", 0},
        {"run-00001.dlf", 0},
        {"run-00000a.dlf", 0},
        {"run-000001.vrec", 0},
        {"run-000001.dlf.new", 0},
        {"runs-000001.dlf", 0},
        {"run000001.dlf", 0},
        {"run-.dlf", 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(SeriesIndexOf(test.name, "run", ".dlf"), test.index);
        // Taken apart without knowing the prefix, where the name has the series' prefix.
        if (std::string(test.name).rfind("run-", 0) == 0) {
            std::string prefix;
            EXPECT_EQ(DataFileIndex(std::string("night/") + test.name, prefix), test.index);
            if (test.index != 0) EXPECT_EQ(prefix, "night/run");
        }
    }
    EXPECT_EQ(SeriesMemberName("night/run", 7, ".vrec"), "night/run-000007.vrec");
    EXPECT_EQ(SeriesMemberName("night/run", 1000000, ".dlf"), "night/run-1000000.dlf");
    EXPECT_EQ(PrefixLockPath("night/run"), "night/.run.lock");
    EXPECT_EQ(PrefixLockPath("run"), ".run.lock");
}

TEST(SeriesNames, ListedInTheOrderOfTheirNumbers) {
    TempDir dir;
    for (const char* name : {"r-1000000.dlf", "r-999999.dlf", "r-000010.dlf", "r-000002.vrec", "r-0000003.dlf",
                             ".r-000010.dlf.123-4.new", ".r-000010.dlf.new", "rr-000001.dlf"}) {
        std::ofstream(dir.Path(name)) << "x";
    }
    const SeriesListing listing = ListSeries(dir.Path("r"));
    EXPECT_EQ(listing.error, 0);
    ASSERT_EQ(listing.dataFiles.size(), 3u);
    EXPECT_EQ(listing.dataFiles[0].path, dir.Path("r-000010.dlf"));
    EXPECT_EQ(listing.dataFiles[1].path, dir.Path("r-999999.dlf"));
    EXPECT_EQ(listing.dataFiles[2].path, dir.Path("r-1000000.dlf"));
    ASSERT_EQ(listing.workingFiles.size(), 1u);
    EXPECT_EQ(listing.workingFiles[0].index, 2u);
    ASSERT_EQ(listing.temporaries.size(), 1u);
    EXPECT_EQ(listing.temporaries[0].path, dir.Path(".r-000010.dlf.123-4.new"));
    EXPECT_EQ(listing.temporaries[0].pid, 123);
}

TEST(SeriesNames, PickedFilesInTheOrderOfTheirNumbers) {
    std::vector<std::string> picked = {"n/r-1000000.dlf", "n/other.dlf", "n/r-999999.dlf", "n/r-5.txt",
                                       "n/r-000002.dlf", "n/q-000001.dlf"};
    std::sort(picked.begin(), picked.end(), SeriesOrderLess);
    const std::vector<std::string> ordered = {"n/other.dlf",    "n/q-000001.dlf",  "n/r-000002.dlf",
                                              "n/r-999999.dlf", "n/r-1000000.dlf", "n/r-5.txt"};
    EXPECT_EQ(picked, ordered);
}

// A prefix names its series when no file has its name; a file keeps its name.
TEST(SeriesNames, APrefixStandsForItsSeries) {
    TempDir dir;
    for (const char* name : {"r-1000000.dlf", "r-999999.dlf", "r-000001.vrec", "s", "s-000001.dlf", "t.dlf"}) {
        std::ofstream(dir.Path(name)) << "x";
    }
    std::filesystem::create_directory(dir.Path("u"));
    std::ofstream(dir.Path("u-000001.dlf")) << "x";
    const ExpandedArguments expanded =
        ExpandPrefixes({dir.Path("r"), dir.Path("t.dlf"), dir.Path("missing"), dir.Path("s"), dir.Path("u")});
    const std::vector<std::string> files = {dir.Path("r-999999.dlf"), dir.Path("r-1000000.dlf"), dir.Path("t.dlf"),
                                            dir.Path("missing"), dir.Path("s"), dir.Path("u-000001.dlf")};
    EXPECT_EQ(expanded.files, files);
    EXPECT_EQ(expanded.ambiguous, dir.Path("s"));
    ASSERT_EQ(expanded.ambiguousSeries.size(), 1u);
    EXPECT_EQ(expanded.ambiguousSeries[0].path, dir.Path("s-000001.dlf"));
}

// A lock taken on a lock file that its holder removed meanwhile holds nothing.
TEST(PrefixLock, ALockOnARemovedFileIsNotHeld) {
    TempDir dir;
    const std::string prefix = dir.Path("r");
    PrefixLock lock;
    ASSERT_EQ(lock.Acquire(prefix), PrefixLock::Result::Held);
    // Opened as a second recording would, before the first lets go.
    const int late = ::open(PrefixLockPath(prefix).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(late, 0);
    EXPECT_TRUE(IsNamedFile(late, PrefixLockPath(prefix)));
    lock.Release();
    EXPECT_FALSE(IsNamedFile(late, PrefixLockPath(prefix)));
    ASSERT_EQ(lock.Acquire(prefix), PrefixLock::Result::Held);
    EXPECT_FALSE(IsNamedFile(late, PrefixLockPath(prefix)));
    ::close(late);
    lock.Release();
    EXPECT_FALSE(std::filesystem::exists(PrefixLockPath(prefix)));
}

// A follower takes a lock file without a lock for a recording that ended: while
// recordings start and end in another process, the name is never seen unlocked.
TEST(PrefixLock, TheNameIsNeverSeenUnlocked) {
    TempDir dir;
    const std::string prefix = dir.Path("r");
    const std::string path = PrefixLockPath(prefix);
    const mode_t mask = ::umask(022);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int run = 0; run < 3000; ++run) {
            PrefixLock lock;
            if (lock.Acquire(prefix) != PrefixLock::Result::Held) ::_exit(1);
            // Readable by any user, as the umask allows.
            struct stat info {};
            if (::stat(path.c_str(), &info) != 0 || (info.st_mode & 0777) != 0644) ::_exit(2);
        }
        ::_exit(0);
    }
    ::umask(mask);
    int unlocked = 0;
    int looked = 0;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock query {};
        query.l_type = F_WRLCK;
        query.l_whence = SEEK_SET;
        ASSERT_EQ(::fcntl(fd, F_GETLK, &query), 0);
        ++looked;
        if (query.l_type == F_UNLCK && IsNamedFile(fd, path)) ++unlocked;
        ::close(fd);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(looked, 0);
    EXPECT_EQ(unlocked, 0) << "of " << looked;
    // Nothing but the series' own files is left behind.
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path("")));
}

// The prefix has one holder at a time, whoever asks: a second handle of this
// process, or another user's process; the refusal names the holder.
TEST(PrefixLock, OneHolderAtATimeNamed) {
    const std::string me = ThisUser();
    const std::string pid = std::to_string(::getpid());
    struct Case {
        const char* name;
        PrefixRole role;
        bool otherUser;  // the second asks as the user nobody
        std::string said;
    };
    const Case cases[] = {
        {"a second recording in this process", PrefixRole::Record, false,
         "being recorded by a running process (pid " + pid + ", user " + me + ")"},
        {"a recording while this process recovers", PrefixRole::Recover, false,
         "being recovered by a running process (pid " + pid + ", user " + me + ")"},
        {"another user's recording", PrefixRole::Record, true,
         "being recorded by a running process (pid " + pid + ", user " + me + ")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.otherUser && ::getuid() != 0) {
            std::cout << "skipped \"" << c.name << "\": only root can ask as another user\n";
            continue;
        }
        TempDir dir;
        const std::string prefix = dir.Path("r");
        PrefixLock first;
        ASSERT_EQ(first.Acquire(prefix, c.role), PrefixLock::Result::Held);
        std::string said;
        PrefixLock::Result result = PrefixLock::Result::Held;
        if (c.otherUser) {
            ASSERT_EQ(::chmod(dir.Path("").c_str(), 0755), 0);
            int pipeFds[2];
            ASSERT_EQ(::pipe(pipeFds), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(9);
                PrefixLock second;
                const auto got = second.Acquire(prefix);
                const std::string text = second.Holder();
                if (::write(pipeFds[1], text.data(), text.size()) < 0) ::_exit(8);
                ::_exit(static_cast<int>(got));
            }
            ::close(pipeFds[1]);
            char buffer[256];
            for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, got);
            ::close(pipeFds[0]);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            result = static_cast<PrefixLock::Result>(WEXITSTATUS(status));
        } else {
            PrefixLock second;
            result = second.Acquire(prefix);
            said = second.Holder();
            EXPECT_EQ(second.Owner(), ::getpid());
        }
        EXPECT_EQ(result, PrefixLock::Result::Busy);
        EXPECT_EQ(said, c.said);
        EXPECT_TRUE(first.IsHeld());
        first.Release();
        EXPECT_FALSE(std::filesystem::exists(PrefixLockPath(prefix)));
    }
}

// A lock file whose holder was killed is removed by the next holder, which
// makes its own: its line and its owner are the new holder's.
TEST(PrefixLock, ALeftLockFileIsReplaced) {
    for (const bool otherOwner : {false, true}) {
        SCOPED_TRACE(otherOwner);
        if (otherOwner && ::getuid() != 0) {
            std::cout << "skipped: only root can leave another user's lock file\n";
            continue;
        }
        TempDir dir;
        const std::string prefix = dir.Path("r");
        const std::string path = PrefixLockPath(prefix);
        std::ofstream(path) << "1 record\n";
        if (otherOwner) {
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
        PrefixLock lock;
        ASSERT_EQ(lock.Acquire(prefix, PrefixRole::Recover), PrefixLock::Result::Held);
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, std::to_string(::getpid()) + " recover");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, ::getuid());
        lock.Release();
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path("")));
    }
}

}  // namespace
