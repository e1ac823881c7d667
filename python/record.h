#pragma once
// One record opened from Python: a DLF file or a series read on demand.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "record/samplesource.h"
#include "record/summaries.h"

namespace vospy {

class Record {
public:
    /// Opens `arguments` (files, or prefixes naming a series) as one record
    /// with vosctl csv's checks; raises VosFileError or VosUsageError.
    explicit Record(const std::vector<std::string>& arguments);

    const std::vector<std::string>& Files() const { return m_paths; }
    /// Working files (.vrec) of the series named by prefix: not part of the record.
    const std::vector<std::string>& WorkingFiles() const { return m_working; }
    std::uint64_t Count() const { return Reader().Count(); }
    const DataFileHeader& Header() const { return Reader().Header(0); }
    const SeriesReader& Reader() const { return m_source.Reader(); }

    /// Samples first .. first+count-1 of `channels` as a (channels, count)
    /// array: a new one, or `out` (C-contiguous float64 of that shape).
    pybind11::array_t<double> Read(const std::vector<int>& channels, std::uint64_t first, std::uint64_t count,
                                   std::optional<pybind11::array_t<double>> out) const;
    pybind11::array Times(std::uint64_t first, std::optional<std::uint64_t> count) const;
    /// Samples [first, last) that `start` and `stop` name as vosctl's --from
    /// and --to do ("" for the record's start and end).
    std::pair<std::uint64_t, std::uint64_t> Between(const std::string& start, const std::string& stop) const;
    pybind11::tuple Envelope(int channel, std::uint32_t columns, std::uint64_t first, std::uint64_t count, bool drawn,
                             const pybind11::object& progress);
    pybind11::dict Statistics(int channel, std::uint64_t first, std::uint64_t count, const pybind11::object& progress);
    /// (first sample after the gap, UTC micros of its start and end, samples lost) of each gap.
    pybind11::list Gaps() const;

private:
    // Checks first .. first+count-1 against the record.
    void Range(int channel, std::uint64_t first, std::uint64_t count) const;
    // The summaries, built on first use while Ctrl-C and `progress` are heard.
    const SummaryPyramid& Summaries(const pybind11::object& progress);
    // Raises VosFileError naming the first file of first .. first+count-1 that changed.
    [[noreturn]] void ThrowUnreadable(std::uint64_t first, std::uint64_t count) const;

    std::vector<std::string> m_paths;
    std::vector<std::string> m_working;
    SeriesSource m_source;
    std::mutex m_summariesMutex;
    std::optional<SummaryPyramid> m_summaries;
};

/// Adds Record, Stamp, open's core and save to the module.
void BindRecord(pybind11::module_& module);

}  // namespace vospy
