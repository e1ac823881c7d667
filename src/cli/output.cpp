#include "cli/output.h"

#include <unistd.h>

#include "cli/cli.h"
#include "files/csv_stream.h"

namespace vosctl {

std::unique_ptr<LockedFile> OpenOutput(const std::string& path) {
    if (path == "-") {
        const int fd = ::dup(STDOUT_FILENO);
        return fd < 0 ? nullptr : std::make_unique<LockedFile>(fd);
    }
    auto file = std::make_unique<LockedFile>();
    if (!file->Open(path, LockedFile::Mode::Write)) {
        return nullptr;
    }
    return file;
}

ChannelBank::ChannelBank(std::uint32_t capacity)
    : m_samples(std::make_unique_for_overwrite<double[]>(std::size_t{DLF_CHANNELS} * capacity)) {
    for (int ch = 0; ch < DLF_CHANNELS; ++ch) {
        m_channels[ch] = m_samples.get() + std::size_t{capacity} * ch;
    }
}

int LoadRecord(const std::string& path, DataFileHeader& header, ChannelBank& bank) {
    const FileError error = LoadDataFile(path, header, bank.Channels());
    return error == FileError::None ? EXIT_OK : FailFile(error, path);
}

int WriteCsvRecord(LockedFile& output, const std::string& path, int selection, std::uint32_t count,
                   const double* const channels[DLF_CHANNELS]) {
    const FileError error = WriteCsvStream(output, selection, count, channels);
    return error == FileError::None ? EXIT_OK : FailFile(error, path);
}

int CloseOutput(LockedFile& output, const std::string& path) {
    return output.Close() ? EXIT_OK : FailFile(FileError::Write, path);
}

}  // namespace vosctl
