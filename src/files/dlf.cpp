#include "files/dlf.h"

#include <bit>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t OFFSET_FORMAT_VERSION = 0;
constexpr std::size_t OFFSET_CLOCK_DIVIDER = 4;
constexpr std::size_t OFFSET_SAMPLE_COUNT = 8;
constexpr std::size_t OFFSET_TRIGGER_CHANNEL = 12;
constexpr std::size_t OFFSET_TRIGGER_TYPE = 16;
constexpr std::size_t OFFSET_THRESHOLD = 20;
constexpr std::size_t OFFSET_DISPLAY_MODE = 28;
constexpr std::size_t OFFSET_STAMP_TAG = 32;
constexpr std::size_t OFFSET_START_MICROS = 40;
constexpr std::size_t OFFSET_IDENTITY = 48;
constexpr std::size_t OFFSET_INDEX = 64;
constexpr std::size_t OFFSET_FIRST_SAMPLE = 72;

constexpr std::int32_t MIN_CLOCK_DIVIDER = 1;
constexpr std::int32_t MAX_CLOCK_DIVIDER = 10000;
constexpr std::int32_t NO_TRIGGER = 0xFF;
constexpr std::int32_t MAX_TRIGGER_TYPE = 4;

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void Put64(std::uint8_t* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Get32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= std::uint32_t{at[i]} << (8 * i);
    }
    return value;
}

std::uint64_t Get64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

std::uint64_t FileLengthFor(std::uint32_t sampleCount) {
    return DLF_HEADER_SIZE + std::uint64_t{DLF_CHANNELS} * sizeof(double) * sampleCount;
}

// Opens `path` for reading and checks its header, leaving `file` positioned
// at the first channel block.
FileError OpenChecked(const std::string& path, LockedFile& file, DataFileHeader& header) {
    if (!file.Open(path, LockedFile::Mode::Read)) {
        return FileError::Open;
    }
    std::uint64_t length = 0;
    if (!file.Length(length)) {
        return FileError::Read;
    }
    if (length < DLF_HEADER_SIZE) {
        return FileError::Format;
    }
    std::uint8_t bytes[DLF_HEADER_SIZE];
    if (!file.ReadAll(bytes, sizeof bytes)) {
        return FileError::Read;
    }
    header = DecodeHeader(bytes);
    return CheckHeader(header, length);
}

}  // namespace

std::string IdentityText(const std::array<std::uint8_t, 16>& identity) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : identity) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0xF];
    }
    return text;
}

std::int64_t StampSampleMicros(const RecordingStamp& stamp, std::int32_t clockDivider, std::uint64_t sample) {
    return stamp.startMicros + static_cast<std::int64_t>(sample) * std::int64_t{clockDivider} * 100;
}

RecordingStamp StampFromSample(const RecordingStamp& stamp, std::int32_t clockDivider, std::uint64_t sample) {
    RecordingStamp moved = stamp;
    moved.startMicros = StampSampleMicros(stamp, clockDivider, sample);
    moved.firstSample = stamp.firstSample + sample;
    return moved;
}

void EncodeHeader(const DataFileHeader& header, std::uint8_t (&out)[DLF_HEADER_SIZE]) {
    std::memset(out, 0, DLF_HEADER_SIZE);
    Put32(out + OFFSET_FORMAT_VERSION, static_cast<std::uint32_t>(header.formatVersion));
    Put32(out + OFFSET_CLOCK_DIVIDER, static_cast<std::uint32_t>(header.clockDivider));
    Put32(out + OFFSET_SAMPLE_COUNT, header.sampleCount);
    Put32(out + OFFSET_TRIGGER_CHANNEL, static_cast<std::uint32_t>(header.triggerChannel));
    Put32(out + OFFSET_TRIGGER_TYPE, static_cast<std::uint32_t>(header.triggerType));
    Put64(out + OFFSET_THRESHOLD, std::bit_cast<std::uint64_t>(header.threshold));
    Put32(out + OFFSET_DISPLAY_MODE, static_cast<std::uint32_t>(header.displayMode));
    if (const auto& stamp = header.stamp) {
        std::memcpy(out + OFFSET_STAMP_TAG, DLF_STAMP_TAG, sizeof DLF_STAMP_TAG);
        Put64(out + OFFSET_START_MICROS, static_cast<std::uint64_t>(stamp->startMicros));
        std::memcpy(out + OFFSET_IDENTITY, stamp->identity.data(), stamp->identity.size());
        Put64(out + OFFSET_INDEX, stamp->index);
        Put64(out + OFFSET_FIRST_SAMPLE, stamp->firstSample);
    }
}

DataFileHeader DecodeHeader(const std::uint8_t (&in)[DLF_HEADER_SIZE]) {
    DataFileHeader header;
    header.formatVersion = static_cast<std::int32_t>(Get32(in + OFFSET_FORMAT_VERSION));
    header.clockDivider = static_cast<std::int32_t>(Get32(in + OFFSET_CLOCK_DIVIDER));
    header.sampleCount = Get32(in + OFFSET_SAMPLE_COUNT);
    header.triggerChannel = static_cast<std::int32_t>(Get32(in + OFFSET_TRIGGER_CHANNEL));
    header.triggerType = static_cast<std::int32_t>(Get32(in + OFFSET_TRIGGER_TYPE));
    header.threshold = std::bit_cast<double>(Get64(in + OFFSET_THRESHOLD));
    header.displayMode = static_cast<std::int32_t>(Get32(in + OFFSET_DISPLAY_MODE));
    if (std::memcmp(in + OFFSET_STAMP_TAG, DLF_STAMP_TAG, sizeof DLF_STAMP_TAG) == 0) {
        RecordingStamp& stamp = header.stamp.emplace();
        stamp.startMicros = static_cast<std::int64_t>(Get64(in + OFFSET_START_MICROS));
        std::memcpy(stamp.identity.data(), in + OFFSET_IDENTITY, stamp.identity.size());
        stamp.index = Get64(in + OFFSET_INDEX);
        stamp.firstSample = Get64(in + OFFSET_FIRST_SAMPLE);
    }
    return header;
}

FileError CheckHeader(const DataFileHeader& header, std::uint64_t fileLength) {
    if (header.clockDivider < MIN_CLOCK_DIVIDER || header.clockDivider > MAX_CLOCK_DIVIDER) {
        return FileError::Format;
    }
    if (header.sampleCount < 1 || header.sampleCount > DLF_MAX_SAMPLE_COUNT) {
        return FileError::Format;
    }
    if (header.triggerType != NO_TRIGGER && (header.triggerType < 0 || header.triggerType > MAX_TRIGGER_TYPE)) {
        return FileError::Format;
    }
    if (header.displayMode != 0 && header.displayMode != 1) {
        return FileError::Format;
    }
    if (fileLength < FileLengthFor(header.sampleCount)) {
        return FileError::Format;
    }
    return FileError::None;
}

FileError SaveDataFile(const std::string& path, const DataFileHeader& header,
                       const double* const channels[DLF_CHANNELS]) {
    const std::size_t blockBytes = std::size_t{header.sampleCount} * sizeof(double);
    return SaveDataFileFrom(path, header, [&](int channel, const ChannelBlockWriter& write) {
        return write(channels[channel], blockBytes) ? FileError::None : FileError::Write;
    });
}

FileError SaveDataFileFrom(const std::string& path, const DataFileHeader& header, const ChannelBlockSource& source,
                           Placement placement) {
    DataFileHeader stored = header;
    stored.formatVersion = DLF_FORMAT_VERSION;
    if (CheckHeader(stored, FileLengthFor(stored.sampleCount)) != FileError::None) {
        return FileError::Format;
    }
    std::uint8_t bytes[DLF_HEADER_SIZE];
    EncodeHeader(stored, bytes);

    ReplacementFile file;
    if (!file.Open(path, placement)) {
        return FileError::Open;
    }
    if (!file.WriteAll(bytes, sizeof bytes)) {
        return FileError::Write;
    }
    // The samples go out exactly as held in memory, which is the file's
    // little-endian layout on every platform this program builds for.
    static_assert(std::endian::native == std::endian::little);
    const std::uint64_t blockBytes = std::uint64_t{stored.sampleCount} * sizeof(double);
    for (int c = 0; c < DLF_CHANNELS; ++c) {
        std::uint64_t given = 0;
        const FileError error = source(c, [&](const void* data, std::size_t size) {
            given += size;
            return given <= blockBytes && file.WriteAll(data, size);
        });
        if (error != FileError::None) {
            return error;
        }
        if (given != blockBytes) {
            return FileError::Read;
        }
    }
    if (file.Commit()) {
        return FileError::None;
    }
    return placement == Placement::NewName && errno == EEXIST ? FileError::Open : FileError::Write;
}

FileError ReadDataFileHeader(const std::string& path, DataFileHeader& header) {
    LockedFile file;
    DataFileHeader read;
    if (const FileError error = OpenChecked(path, file, read); error != FileError::None) {
        return error;
    }
    if (!file.Close()) {
        return FileError::Read;
    }
    header = read;
    return FileError::None;
}

FileError LoadDataFile(const std::string& path, DataFileHeader& header,
                       double* const destinations[DLF_CHANNELS]) {
    LockedFile file;
    DataFileHeader read;
    if (const FileError error = OpenChecked(path, file, read); error != FileError::None) {
        return error;
    }
    const std::size_t blockBytes = std::size_t{read.sampleCount} * sizeof(double);
    for (int c = 0; c < DLF_CHANNELS; ++c) {
        if (!file.ReadAll(destinations[c], blockBytes)) {
            return FileError::Read;
        }
    }
    if (!file.Close()) {
        return FileError::Read;
    }
    header = read;
    return FileError::None;
}
