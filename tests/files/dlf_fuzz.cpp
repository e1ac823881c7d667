// libFuzzer target for the DLF reader: arbitrary bytes as a header with
// arbitrary claimed lengths, and the same bytes as a whole file on disk.
#include "files/dlf.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Scratch {
    std::string path;
    std::array<std::vector<double>, DLF_CHANNELS> data;
    double* pointers[DLF_CHANNELS];

    Scratch() {
        const char* base = std::getenv("TMPDIR");
        path = std::string(base != nullptr ? base : "/tmp") + "/vos_dlf_fuzz_" + std::to_string(::getpid()) + ".dlf";
        for (int c = 0; c < DLF_CHANNELS; ++c) {
            data[c].resize(DLF_MAX_SAMPLE_COUNT);
            pointers[c] = data[c].data();
        }
    }
    ~Scratch() { ::unlink(path.c_str()); }
};

void CheckArbitraryHeader(const std::uint8_t* data, std::size_t size) {
    std::uint8_t bytes[DLF_HEADER_SIZE] = {};
    std::memcpy(bytes, data, size < DLF_HEADER_SIZE ? size : DLF_HEADER_SIZE);
    const DataFileHeader header = DecodeHeader(bytes);
    std::uint8_t again[DLF_HEADER_SIZE];
    EncodeHeader(header, again);
    if (std::memcmp(bytes, again, 32) != 0) {
        std::abort();  // the codec lost a bit
    }
    for (const std::uint64_t length : {std::uint64_t{0}, std::uint64_t{size}, std::uint64_t{32000256}, ~std::uint64_t{0}}) {
        const FileError result = CheckHeader(header, length);
        if (result != FileError::None && result != FileError::Format) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Scratch scratch;
    CheckArbitraryHeader(data, size);

    const int fd = ::open(scratch.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size) || ::close(fd) != 0) {
        std::abort();
    }
    DataFileHeader header{};
    const FileError result = LoadDataFile(scratch.path, header, scratch.pointers);
    if (result == FileError::None && CheckHeader(header, size) != FileError::None) {
        std::abort();  // accepted a file the checks refuse
    }
    if (result == FileError::Open || result == FileError::Write) {
        std::abort();
    }
    return 0;
}
