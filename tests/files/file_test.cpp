#include "files/file.h"

#include "files/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A socket pair of the packet kind hands out one message per read(), which
// gives deterministic short reads without any thread.
struct PacketPair {
    int ends[2] = {-1, -1};
    PacketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0); }
    ~PacketPair() {
        for (int fd : ends) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    void Send(const char* text) { ASSERT_EQ(::write(ends[1], text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text))); }
    void CloseSender() {
        ::close(ends[1]);
        ends[1] = -1;
    }
    int TakeReader() {
        const int fd = ends[0];
        ends[0] = -1;
        return fd;
    }
};

TEST(LockedFileRead, ContinuesAcrossShortReads) {
    PacketPair pair;
    pair.Send("abc");
    pair.Send("defg");
    pair.Send("h");
    LockedFile file(pair.TakeReader());
    char text[8];
    ASSERT_TRUE(file.ReadAll(text, sizeof text));
    EXPECT_EQ(std::string(text, sizeof text), "abcdefgh");
}

TEST(LockedFileRead, EndOfDataBeforeTheCountIsAFailure) {
    PacketPair pair;
    pair.Send("abc");
    pair.CloseSender();
    LockedFile file(pair.TakeReader());
    char text[4];
    EXPECT_FALSE(file.ReadAll(text, sizeof text));
}

TEST(LockedFileOpen, AFifoWithoutReaderIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LockedFile writer;
    EXPECT_FALSE(writer.Open(fifo, LockedFile::Mode::Write));
    LockedFile reader;
    EXPECT_FALSE(reader.Open(fifo, LockedFile::Mode::Read));
}

TEST(LockedFileOpen, TheLockExcludesASecondOpenOfTheSameFile) {
    TempDir dir;
    const std::string path = dir.Path("data");
    LockedFile first;
    ASSERT_TRUE(first.Open(path, LockedFile::Mode::Write));
    ASSERT_TRUE(first.WriteAll("12345", 5));
    for (const LockedFile::Mode mode : {LockedFile::Mode::Read, LockedFile::Mode::Write}) {
        LockedFile second;
        EXPECT_FALSE(second.Open(path, mode));
    }
    std::uint64_t length = 0;
    ASSERT_TRUE(first.Length(length));
    EXPECT_EQ(length, 5u);
    EXPECT_TRUE(first.Close());
    EXPECT_FALSE(first.Close()) << "a second close must not touch a reused descriptor";

    LockedFile again;
    ASSERT_TRUE(again.Open(path, LockedFile::Mode::Read));
    char text[5];
    EXPECT_TRUE(again.ReadAll(text, sizeof text));
    EXPECT_EQ(std::string(text, sizeof text), "12345");
}

TEST(LockedFileOpen, ReadersShareAFileThatNoWriterMayOpenMeanwhile) {
    TempDir dir;
    const std::string path = dir.Path("data");
    {
        LockedFile writer;
        ASSERT_TRUE(writer.Open(path, LockedFile::Mode::Write));
        ASSERT_TRUE(writer.WriteAll("12345", 5));
    }
    LockedFile readers[8];
    for (LockedFile& reader : readers) {
        EXPECT_TRUE(reader.Open(path, LockedFile::Mode::Read));
    }
    for (const LockedFile::Mode mode : {LockedFile::Mode::Write, LockedFile::Mode::Update}) {
        LockedFile writer;
        EXPECT_FALSE(writer.Open(path, mode));
    }
    ReplacementFile replacement;
    EXPECT_FALSE(replacement.Open(path));
    char text[5];
    ASSERT_TRUE(readers[7].ReadAll(text, sizeof text));
    EXPECT_EQ(std::string(text, sizeof text), "12345") << "a refused writer must not have emptied the file";
}

}  // namespace
