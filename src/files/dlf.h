#pragma once

#include "files/file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

/// Size of the DLF header; the four channel blocks follow it directly.
inline constexpr std::size_t DLF_HEADER_SIZE = 256;
/// The format version the writer stores; the reader ignores the field.
inline constexpr std::int32_t DLF_FORMAT_VERSION = 1;
/// Largest sample count per channel a DLF file may hold.
inline constexpr std::uint32_t DLF_MAX_SAMPLE_COUNT = 1000000;
/// Channel blocks in a DLF file: CH0 to CH3, in that order.
inline constexpr int DLF_CHANNELS = 4;

/// The tag at offset 32 that marks a header carrying a RecordingStamp.
inline constexpr char DLF_STAMP_TAG[8] = {'V', 'O', 'S', 'R', 'E', 'C', '0', '1'};

/// Where and when a recorded file belongs, kept in the header's spare area,
/// which other readers ignore. On disk, little-endian after the tag
/// DLF_STAMP_TAG at offset 32: startMicros 40, identity 48 (16 bytes),
/// index 64, firstSample 72; bytes 80 to 255 are zero.
struct RecordingStamp {
    std::int64_t startMicros = 0;              ///< UTC of the first sample, microseconds since 1970-01-01T00:00:00Z
    std::array<std::uint8_t, 16> identity{};   ///< random, shared by every file of one recording
    std::uint64_t index = 0;                   ///< 1 for PREFIX-000001.dlf
    std::uint64_t firstSample = 0;             ///< samples per channel recorded before this file (0 in file 1)

    bool operator==(const RecordingStamp&) const = default;
};

/// The identity as 32 lowercase hexadecimal digits, the way it is shown.
std::string IdentityText(const std::array<std::uint8_t, 16>& identity);

/// UTC of sample `sample` of a file stamped `stamp` taken every
/// `clockDivider` x 100 us, in microseconds since 1970.
std::int64_t StampSampleMicros(const RecordingStamp& stamp, std::int32_t clockDivider, std::uint64_t sample);

/// The stamp of a file cut from a file stamped `stamp` from its sample
/// `sample` on: the same recording and index, its start the UTC of that
/// sample and its first sample moved on by `sample`, so the cut still says
/// when and where in the recording it was taken.
RecordingStamp StampFromSample(const RecordingStamp& stamp, std::int32_t clockDivider, std::uint64_t sample);

/// The settings stored in a DLF header. On disk every field is little-endian
/// at a fixed offset: formatVersion 0, clockDivider 4, sampleCount 8,
/// triggerChannel 12, triggerType 16, threshold 20 (a double directly after
/// an int32, not aligned to 8), displayMode 28; bytes 32 to 255 hold the
/// stamp, or are zero when there is none.
struct DataFileHeader {
    std::int32_t formatVersion = DLF_FORMAT_VERSION;
    std::int32_t clockDivider = 1;     ///< sample period in units of 100 us
    std::uint32_t sampleCount = 0;     ///< samples per channel
    std::int32_t triggerChannel = 0;   ///< the reader uses the low byte
    std::int32_t triggerType = 0xFF;   ///< 0..3, or 255 for no trigger
    double threshold = 0.0;            ///< volts
    std::int32_t displayMode = 0;      ///< 0 four panes, 1 overlaid
    /// Set in files that a recording wrote; nullopt in the window's saves.
    std::optional<RecordingStamp> stamp;

    bool operator==(const DataFileHeader&) const = default;
};

/// Serialises `header` byte by byte: the stamp when there is one, every
/// other byte of 32..255 zero.
void EncodeHeader(const DataFileHeader& header, std::uint8_t (&out)[DLF_HEADER_SIZE]);

/// The inverse of EncodeHeader. The stamp is read when bytes 32..39 hold
/// DLF_STAMP_TAG; any other spare content is ignored (no stamp), and so are
/// bytes 80..255. The threshold keeps its exact bit pattern, NaN payloads
/// included.
DataFileHeader DecodeHeader(const std::uint8_t (&in)[DLF_HEADER_SIZE]);

/// The checks a file must pass after its header was read, in this order:
/// clock divider 1..10000, sample count 1..1000000, trigger type 255 or
/// 0..4, display mode 0 or 1, and a file of at least 256 + 32 * sampleCount
/// bytes (longer files are accepted). Returns Format for the first that
/// fails, None when all pass.
FileError CheckHeader(const DataFileHeader& header, std::uint64_t fileLength);

/// Reads and checks only the header of the DLF file `path`, as
/// LoadDataFile does, without reading the samples. Returns None and sets
/// `header`, or Open, Read or Format as LoadDataFile would.
FileError ReadDataFileHeader(const std::string& path, DataFileHeader& header);

/// Writes a DLF file: the header (and its stamp, if any) with the format version forced to
/// DLF_FORMAT_VERSION, then header.sampleCount doubles from each of
/// channels[0..3], unconverted, through a ReplacementFile: an existing file
/// is replaced only once the new one is complete on disk. A header that
/// CheckHeader would refuse is rejected with Format before the file is
/// touched, so no file is written that cannot be opened again and no channel
/// is read beyond DLF_MAX_SAMPLE_COUNT values. Returns Open when the file
/// cannot be opened or is in use, Write when a write or the commit fails
/// (an existing file then keeps its old content).
FileError SaveDataFile(const std::string& path, const DataFileHeader& header,
                       const double* const channels[DLF_CHANNELS]);

/// Takes the bytes of a channel block in order; false once they cannot be written.
using ChannelBlockWriter = std::function<bool(const void* data, std::size_t size)>;
/// Gives channel `channel`'s values through `write`: None, or why it could not.
using ChannelBlockSource = std::function<FileError(int channel, const ChannelBlockWriter& write)>;

/// SaveDataFile with each channel block produced in turn by `source`, so that
/// a file's samples need not be in memory at once. The source must give
/// exactly header.sampleCount doubles per channel (otherwise Read); its own
/// failure is returned as it is, and the old file stays. With
/// Placement::NewName a name already in use, at the start or when the file
/// is put in place, is refused with Open and that file is left as it is.
FileError SaveDataFileFrom(const std::string& path, const DataFileHeader& header, const ChannelBlockSource& source,
                           Placement placement = Placement::Replace);

/// Reads and checks a DLF file. Each destinations[c] must hold
/// DLF_MAX_SAMPLE_COUNT doubles.
///
/// Contract: nothing but destinations[0..3] and `header` is ever written.
/// The destinations are written only after the header passed every check,
/// so a failure with Open, Format, or a Read while taking the length or
/// reading the header leaves them untouched; a Read failure while reading
/// the channel blocks may leave them partly overwritten, which is why the
/// caller should read into spare buffers and adopt them only on success.
/// `header` is set only when the result is None.
FileError LoadDataFile(const std::string& path, DataFileHeader& header,
                       double* const destinations[DLF_CHANNELS]);
