#include "cli/output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "cli/cli.h"
#include "files/csv_stream.h"

namespace vosctl {

bool Output::Open(const std::string& path, Mode mode) {
    if (path == "-") {
        const int fd = ::dup(STDOUT_FILENO);
        if (fd >= 0) {
            m_file.emplace(fd);
        }
        return fd >= 0;
    }
    if (mode == Mode::Stream) {
        struct stat info {};
        const bool existed = ::stat(path.c_str(), &info) == 0;
        m_file.emplace();
        if (!m_file->Open(path, LockedFile::Mode::Update)) {
            return false;
        }
        m_created = existed ? std::string() : path;
        m_named = true;
        return true;
    }
    m_replacement.emplace();
    return m_replacement->Open(path);
}

bool Output::WriteAll(const void* data, std::size_t size) {
    const bool ok = m_replacement ? m_replacement->WriteAll(data, size) : m_file->WriteAll(data, size);
    if (!ok) {
        int none = 0;
        m_cause.compare_exchange_strong(none, errno);
    }
    return ok;
}

bool Output::Close() {
    const bool ok = m_replacement ? m_replacement->Commit() : m_file->Close();
    if (!ok) {
        int none = 0;
        m_cause.compare_exchange_strong(none, errno);
    }
    return ok;
}

bool Output::Begin() {
    if (!m_named) {
        return true;  // standard output is the caller's, appended to as it is
    }
    struct stat info {};
    if (::fstat(m_file->Descriptor(), &info) != 0) {
        return false;
    }
    // Devices and pipes cannot be emptied and need not be.
    return !S_ISREG(info.st_mode) || ::ftruncate(m_file->Descriptor(), 0) == 0;
}

void Output::RemoveIfCreated() {
    if (!m_created.empty()) {
        m_file.reset();
        ::unlink(m_created.c_str());
        m_created.clear();
    }
}

std::unique_ptr<Output> OpenOutput(const std::string& path, Output::Mode mode) {
    auto output = std::make_unique<Output>();
    return output->Open(path, mode) ? std::move(output) : nullptr;
}

namespace {

constexpr std::size_t HUGE_PAGE = 2 << 20;

}  // namespace

// A bank of up to 32 MB in huge pages takes a few page faults instead of
// thousands, both when a file is read into it and when it is freed.
ChannelBank::ChannelBank(std::uint32_t capacity) {
    const std::size_t bytes = (std::size_t{DLF_CHANNELS} * capacity * sizeof(double) + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    m_samples.reset(static_cast<double*>(std::aligned_alloc(HUGE_PAGE, bytes)));
    if (!m_samples) {
        throw std::bad_alloc();
    }
    ::madvise(m_samples.get(), bytes, MADV_HUGEPAGE);
    for (int ch = 0; ch < DLF_CHANNELS; ++ch) {
        m_channels[ch] = m_samples.get() + std::size_t{capacity} * ch;
    }
}

void ChannelBank::Free::operator()(double* samples) const { std::free(samples); }

int LoadRecord(const std::string& path, DataFileHeader& header, ChannelBank& bank) {
    const FileError error = LoadDataFile(path, header, bank.Channels());
    return error == FileError::None ? EXIT_OK : FailFile(error, path);
}

int WriteCsvRecord(Output& output, const std::string& path, int selection, std::uint32_t count,
                   const double* const channels[DLF_CHANNELS]) {
    const auto write = [&output](const char* text, std::size_t size) { return output.WriteAll(text, size); };
    const FileError error = WriteCsvStream(write, selection, count, channels);
    return error == FileError::None ? EXIT_OK : FailOutput(output, path);
}

int CloseOutput(Output& output, const std::string& path) {
    return output.Close() ? EXIT_OK : FailOutput(output, path);
}

int FailOutput(const Output& output, const std::string& path) {
    return FailFileCause(FileError::Write, path, output.Cause());
}

int ProbeReplaceable(const std::string& path, bool& beside) {
    beside = false;
    if (const int error = ProbeWritable(path); error != 0) {
        return error;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    // The existing file is replaced by a new one beside it, which the folder must take.
    ReplacementFile probe;
    if (probe.Open(path)) {
        return 0;
    }
    const int error = errno;
    beside = error != EWOULDBLOCK;  // a lock held by another program is no fault of the folder
    return error;
}

namespace {

bool g_outputClosed = false;
int g_outputCause = 0;  // errno of the first failed flush
bool g_outputFailed = false;

}  // namespace

void PrepareStandardOutput() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        const int reserved = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
        if (reserved >= 0 && reserved != fd) {
            ::dup2(reserved, fd);
            ::close(reserved);
        }
        g_outputClosed = g_outputClosed || fd == STDOUT_FILENO;
    }
}

bool StandardOutputWasClosed() { return g_outputClosed; }

bool FlushStandardOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 && !g_outputFailed) {
        g_outputCause = errno;
    }
    g_outputFailed = g_outputFailed || std::ferror(stdout) != 0;
    if (g_outputCause == EPIPE) {
        // As cat does when its reader has gone; a signal's way out, without a signal.
        RemoveUncommittedFiles();
        std::_Exit(EXIT_PIPE);
    }
    return !g_outputFailed;
}

int FinishStandardOutput(int status) {
    FlushStandardOutput();
    errno = 0;
    if (std::fclose(stdout) != 0 && !g_outputFailed) {
        g_outputFailed = true;
        g_outputCause = errno;
    }
    if (!g_outputFailed) {
        return status;
    }
    Fail(EXIT_FILE, FileErrorMessage(FileError::Write),
         "standard output: " + FileErrorGloss(FileError::Write, {}, g_outputCause) +
             "; what the command printed did not all reach it");
    return status == EXIT_OK ? EXIT_FILE : status;
}

}  // namespace vosctl
