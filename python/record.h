#pragma once
// One record opened from Python: a DLF file or a series read on demand.
#include <cstdint>
#include <memory>
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

/// A single file's samples mapped into memory, shared with the arrays that view it.
struct Mapping;

class Record {
public:
    /// Opens `arguments` (files, or prefixes naming a series) as one record
    /// with vosctl csv's checks; raises VosFileError or VosUsageError.
    explicit Record(const std::vector<std::string>& arguments);

    const std::vector<std::string>& Files() const { return m_paths; }
    std::uint64_t Count() const { return Reader().Count(); }
    const DataFileHeader& Header() const { return Reader().Header(0); }
    const SeriesReader& Reader() const { return m_source.Reader(); }

    pybind11::array_t<double> Read(int channel, std::uint64_t first, std::optional<std::uint64_t> count) const;
    pybind11::array Times(std::uint64_t first, std::optional<std::uint64_t> count) const;
    pybind11::tuple Envelope(int channel, std::uint32_t columns, std::uint64_t first,
                             std::optional<std::uint64_t> count);
    pybind11::tuple MinMax(int channel, std::uint64_t first, std::optional<std::uint64_t> count) const;
    pybind11::dict Statistics(int channel, std::uint64_t first, std::optional<std::uint64_t> count);

private:
    // The range first .. first+count-1, checked against the record.
    std::uint64_t Range(int channel, std::uint64_t first, std::optional<std::uint64_t> count) const;
    const SummaryPyramid& Summaries();

    std::vector<std::string> m_paths;
    SeriesSource m_source;
    std::shared_ptr<Mapping> m_mapping;
    std::mutex m_summariesMutex;
    std::optional<SummaryPyramid> m_summaries;
};

/// Adds Record, Stamp, open's core and save to the module.
void BindRecord(pybind11::module_& module);

}  // namespace vospy
