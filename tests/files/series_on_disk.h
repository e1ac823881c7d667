#pragma once

// What a series holds on disk, read apart from the code that follows it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "files/dlf.h"
#include "files/journal.h"
#include "files/journal_fixture.h"
#include "files/series_names.h"

namespace seriestest {

// Samples of the series on disk now: the data files' and the newest working file's good blocks.
inline std::uint64_t OnDisk(const std::string& prefix, std::uint32_t split) {
    const SeriesListing listing = ListSeries(prefix);
    std::uint32_t last = listing.dataFiles.empty() ? 0 : listing.dataFiles.back().index;
    std::uint64_t samples = 0;
    if (!listing.workingFiles.empty() && listing.workingFiles.back().index > last) {
        last = listing.workingFiles.back().index;
        JournalContents contents;
        if (ScanJournal(listing.workingFiles.back().path, true, contents) == FileError::None) samples = contents.samples;
    } else if (last != 0) {
        DataFileHeader header;
        if (ReadDataFileHeader(listing.dataFiles.back().path, header) == FileError::None) samples = header.sampleCount;
    }
    return last == 0 ? 0 : std::uint64_t{last - 1} * split + samples;
}

// The sample bytes and settings of each file, without the stamp (its time and identity differ).
inline std::vector<std::string> SampleBytes(const std::string& prefix) {
    std::vector<std::string> files;
    for (std::uint32_t index = 1; std::filesystem::exists(SeriesMemberName(prefix, index, SERIES_DATA_EXTENSION)); ++index) {
        const std::string bytes = journaltest::ReadBytes(SeriesMemberName(prefix, index, SERIES_DATA_EXTENSION));
        files.push_back(bytes.substr(0, 32) + bytes.substr(256));
    }
    return files;
}

}  // namespace seriestest
