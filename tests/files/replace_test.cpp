// Whole-or-nothing file replacement, and writers that fail instead of
// ending the process when the disk, the file-size limit or a pipe stops them.
#include "files/csv.h"
#include "files/dlf.h"
#include "files/file.h"

#include "files/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Every name in `folder`, sub-folders included (links not followed).
void AddNames(const fs::path& folder, const fs::path& root, std::set<std::string>& names) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(root).string());
        if (fs::is_directory(entry.symlink_status())) {
            AddNames(entry.path(), root, names);
        }
    }
}

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    AddNames(folder, folder, names);
    return names;
}

bool Replace(const std::string& path, const std::string& text) {
    ReplacementFile file;
    return file.Open(path) && file.WriteAll(text.data(), text.size()) && file.Commit();
}

TEST(ReplacementFile, ReplacesWhatTheNameStandsFor) {
    struct Case {
        const char* name;
        std::function<void(TempDir&)> prepare;
        const char* written;      // the name given to the writer
        const char* content;      // where the new text must be found
        mode_t mode;              // its permission bits afterwards
        std::set<std::string> listing;
    };
    const Case cases[] = {
        {"a new name takes the umask", [](TempDir&) {}, "out.dlf", "out.dlf", 0644, {"out.dlf"}},
        {"an old file keeps its bits", [](TempDir& d) { WriteText(d.Path("out.dlf"), "old", 0640); },
         "out.dlf", "out.dlf", 0640, {"out.dlf"}},
        {"execute bits stay too", [](TempDir& d) { WriteText(d.Path("run.csv"), "old", 0751); },
         "run.csv", "run.csv", 0751, {"run.csv"}},
        {"a relative link keeps pointing at the replaced file",
         [](TempDir& d) {
             WriteText(d.Path("real.dlf"), "old", 0600);
             fs::create_symlink("real.dlf", d.Path("link.dlf"));
         },
         "link.dlf", "real.dlf", 0600, {"real.dlf", "link.dlf"}},
        {"an absolute link into another folder",
         [](TempDir& d) {
             fs::create_directory(d.Path("sub"));
             WriteText(d.Path("sub/real.csv"), "old", 0604);
             fs::create_symlink(d.Path("sub/real.csv"), d.Path("link.csv"));
         },
         "link.csv", "sub/real.csv", 0604, {"sub", "sub/real.csv", "link.csv"}},
        {"a chain of links",
         [](TempDir& d) {
             WriteText(d.Path("real"), "old", 0620);
             fs::create_symlink("real", d.Path("one"));
             fs::create_symlink("one", d.Path("two"));
         },
         "two", "real", 0620, {"real", "one", "two"}},
        {"a dangling link creates its target", [](TempDir& d) { fs::create_symlink("absent", d.Path("link")); },
         "link", "absent", 0644, {"absent", "link"}},
    };
    const mode_t previous = ::umask(022);
    for (const Case& c : cases) {
        TempDir dir;
        c.prepare(dir);
        EXPECT_TRUE(Replace(dir.Path(c.written), "new text\n")) << c.name;
        EXPECT_EQ(ReadText(dir.Path(c.content)), "new text\n") << c.name;
        EXPECT_EQ(ModeOf(dir.Path(c.content)), c.mode) << c.name;
        EXPECT_EQ(Listing(dir.Path("")), c.listing) << c.name;
        if (std::string(c.written) != c.content) {
            EXPECT_TRUE(fs::is_symlink(dir.Path(c.written))) << c.name;
        }
    }
    ::umask(previous);
}

TEST(ReplacementFile, TheOldFileStaysUntilTheCommit) {
    TempDir dir;
    const std::string path = dir.Path("record.dlf");
    WriteText(path, "old content", 0644);
    {
        ReplacementFile file;
        ASSERT_TRUE(file.Open(path));
        ASSERT_TRUE(file.WriteAll("new", 3));
        EXPECT_EQ(ReadText(path), "old content");
        // Dropped without a commit, as a writer does after a failed write.
    }
    EXPECT_EQ(ReadText(path), "old content");
    EXPECT_EQ(Listing(dir.Path("")), std::set<std::string>{"record.dlf"});
}

TEST(ReplacementFile, RefusedTargetsAreLeftAlone) {
    TempDir dir;
    const std::string busy = dir.Path("busy.dlf");
    WriteText(busy, "held by another copy", 0644);
    const int holder = ::open(busy.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    fs::create_directory(dir.Path("folder"));
    fs::create_symlink("loop", dir.Path("loop"));

    for (const char* name : {"busy.dlf", "folder", "folder/", "missing/x.dlf", "loop"}) {
        ReplacementFile file;
        EXPECT_FALSE(file.Open(dir.Path(name))) << name;
    }
    ReplacementFile unnamed;
    EXPECT_FALSE(unnamed.Open(""));
    ::close(holder);
    EXPECT_EQ(ReadText(busy), "held by another copy");
    EXPECT_EQ(Listing(dir.Path("")), (std::set<std::string>{"busy.dlf", "folder", "loop"}));
}

// Opens the read end of `fifo` (so that a writer may open it) and returns it.
int OpenFifoReader(const std::string& fifo) {
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    return fd;
}

// Waits until at least `bytes` are in the pipe of `fd`, as a reader that
// has seen the start of the data.
void AwaitBytes(int fd, int bytes) {
    int waiting = 0;
    while (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting < bytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(ReplacementFile, AFifoIsWrittenInPlace) {
    TempDir dir;
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = OpenFifoReader(fifo);
    ReplacementFile file;
    ASSERT_TRUE(file.Open(fifo));
    ASSERT_TRUE(file.WriteAll("through the pipe", 16));
    ASSERT_TRUE(file.Commit());
    char text[32] = {};
    EXPECT_EQ(::read(reader, text, sizeof text), 16);
    EXPECT_EQ(std::string(text), "through the pipe");
    ::close(reader);
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(Listing(dir.Path("")), std::set<std::string>{"fifo"});
}

// --- writers stopped part-way ----------------------------------------------------

constexpr std::uint32_t SAMPLES = 10000;  // 320,256 bytes of DLF, about 440 kB of CSV

struct Record {
    std::array<std::vector<double>, 4> data;
    const double* channels[4];
    Record() {
        for (int c = 0; c < 4; ++c) {
            data[c].assign(SAMPLES, 1.25 * (c + 1));
            channels[c] = data[c].data();
        }
    }
};

struct Writer {
    const char* name;
    FileError (*write)(const std::string& path, const Record& record);
};

const Writer WRITERS[] = {
    {"DLF",
     [](const std::string& path, const Record& record) {
         DataFileHeader header;
         header.sampleCount = SAMPLES;
         return SaveDataFile(path, header, record.channels);
     }},
    {"CSV", [](const std::string& path, const Record& record) {
         return WriteCsvFile(path, CSV_SELECT_ALL, SAMPLES, record.channels, nullptr);
     }},
};

// Runs `body` in a child process set up as the programs set themselves up;
// the child's exit code is body's result. Returns a description of how the
// child ended: "exit N" or "signal N".
std::string InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        IgnoreFileSignals();
        std::_Exit(body());
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

TEST(WriterStoppedPartWay, PastTheFileSizeLimitTheOldFileStays) {
    const Record record;
    for (const Writer& writer : WRITERS) {
        TempDir dir;
        const std::string path = dir.Path("target");
        WriteText(path, "the previous file, byte for byte\n", 0640);
        const std::string ended = InChild([&] {
            const rlimit limit{64 * 1024, 64 * 1024};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 2;
            }
            return writer.write(path, record) == FileError::Write ? 0 : 1;
        });
        EXPECT_EQ(ended, "exit 0") << writer.name;
        EXPECT_TRUE(ReadText(path) == "the previous file, byte for byte\n") << writer.name << ": the old file changed";
        EXPECT_EQ(ModeOf(path), 0640u) << writer.name;
        EXPECT_EQ(Listing(dir.Path("")), std::set<std::string>{"target"}) << writer.name;
    }
}

TEST(WriterStoppedPartWay, AFifoWhoseReaderLeavesGivesAWriteError) {
    const Record record;
    for (const Writer& writer : WRITERS) {
        TempDir dir;
        const std::string fifo = dir.Path("fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const std::string ended = InChild([&] {
            const int reader = OpenFifoReader(fifo);
            // The reader goes away once the data has begun to arrive.
            std::thread leaving([reader] {
                AwaitBytes(reader, 64);
                ::close(reader);
            });
            const FileError result = writer.write(fifo, record);
            leaving.join();
            return result == FileError::Write ? 0 : 1;
        });
        EXPECT_EQ(ended, "exit 0") << writer.name;
    }
}

}  // namespace

// Once a process ending by a signal has removed its uncommitted files, no
// new one is begun: a file made after the sweep would be left behind. The
// replacement and the probe are refused and nothing appears in the folder.
TEST(ReplacementFile, NoNewFileIsBegunOnceTheProcessEnds) {
    TempDir dir;
    const std::string target = dir.Path("out.csv");
    EXPECT_EQ(InChild([&] {
                  RemoveUncommittedFiles();
                  ReplacementFile file;
                  const bool opened = file.Open(target);
                  const int probed = ProbeWritable(dir.Path("probe.csv"));
                  return (opened ? 1 : 0) + (probed == 0 ? 2 : 0);
              }),
              "exit 0");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path("")));
}
