#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/file.h"
#include "files/series.h"

/// What identifies one file's content on disk without reading it all: a
/// file rewritten in place, even with the same size and modification time,
/// changes its change time (and a replaced one its inode).
struct FileIdentity {
    std::string path;          ///< absolute
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

/// The identity of the file at `path` that `info` (its stat) describes.
/// Every reader of data files, and every summary of one, identifies a file
/// by this and trusts what it knows of it only while it is equal: a chmod
/// changes the change time too, and costs a new look at the file.
FileIdentity FileIdentityOf(std::string path, const struct stat& info);

/// Whether `info` describes the file `identity` names, as FileIdentityOf
/// would find it (the path aside).
bool SameFile(const struct stat& info, const FileIdentity& identity);

/// A series of DLF files read as one record, in the given order, on demand
/// with plain reads at any position: no sample is held in memory, and the
/// process's resident memory does not grow with the files read. Every file
/// is checked as Open checks one, and the files together as CheckSeries
/// does. Only a bounded number of the files is held open at a time (the
/// most recently read ones), so a series of any length fits the process's
/// descriptor limit; a file is opened again when it is read again, and must
/// then still be the very file Open found (the same device, inode, size,
/// modification and change time), or the read fails: a file replaced or
/// changed under the series never gives other data. Reads are safe from
/// several threads.
class SeriesReader {
public:
    /// `maxOpen` files at most are held open at a time; 0 raises the
    /// process's soft limit on open files to its hard limit (as a program
    /// holding many files does; `ulimit -n` sets both) and takes a quarter
    /// of it, from 4 to 16,384. For a series of more than 256 files the
    /// descriptors are numbered from FD_SETSIZE on where the limit leaves
    /// room, out of select()'s way.
    explicit SeriesReader(std::size_t maxOpen = 0);
    ~SeriesReader();
    SeriesReader(const SeriesReader&) = delete;
    SeriesReader& operator=(const SeriesReader&) = delete;

    /// Checks every file; on failure nothing stays open and the error of
    /// the first failing file is returned (Open, Read or Format), or Format
    /// when the files do not form one record (different clocks, two
    /// recordings, a gap), with that fault in LastSeriesCheck().
    FileError Open(const std::vector<std::string>& paths);

    /// Samples per channel over all files.
    std::uint64_t Count() const { return m_count; }
    std::size_t FileCount() const { return m_files.size(); }
    /// Header of file `index` (0-based).
    const DataFileHeader& Header(std::size_t index) const { return m_files[index].header; }
    const FileIdentity& Identity(std::size_t index) const { return m_files[index].identity; }
    /// Index in the series of the first sample of file `index`.
    std::uint64_t FirstSample(std::size_t index) const { return m_files[index].first; }

    /// Copies `count` samples of `channel` from `first` on into `out`,
    /// across file boundaries; false on a read error.
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const;

    /// UTC of sample `sample` (< Count()) in microseconds since 1970, from
    /// the recording stamp of the file holding it; nullopt when that file
    /// carries no stamp.
    std::optional<std::int64_t> SampleTimeMicros(std::uint64_t sample) const;

    /// The stamp of a file cut from the series from sample `sample`
    /// (< Count()) on: StampFromSample of the file holding it; nullopt when
    /// that file carries no stamp.
    std::optional<RecordingStamp> StampFrom(std::uint64_t sample) const;

    /// The series check of the last Open (None unless it found a fault).
    const SeriesCheck& LastSeriesCheck() const { return m_check; }

    /// A checksum of the header and a few spread blocks of file `index`,
    /// as Open read them; 0 when they could not be read.
    std::uint64_t ContentSample(std::size_t index) const;

    /// Files held open at this moment (at most the bound given, plus one
    /// per read in progress on another thread).
    std::size_t OpenFiles() const;

private:
    struct File {
        DataFileHeader header;
        FileIdentity identity;
        std::uint64_t first = 0;
        std::uint64_t contentSample = 0;
    };
    class Descriptors;
    FileError OpenFile(const std::string& path, File& f, int& fd, unsigned char* buffer) const;
    std::size_t FileOf(std::uint64_t sample) const;
    bool ReadFile(std::size_t index, void* data, std::size_t size, std::uint64_t offset) const;

    std::vector<File> m_files;
    std::uint64_t m_count = 0;
    SeriesCheck m_check;
    std::unique_ptr<Descriptors> m_open;
};
