#include "record.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <limits>
#include <thread>

#include "cli/cli.h"
#include "cli/files_check.h"
#include "device/access.h"
#include "display/envelope.h"
#include "errors.h"
#include "files/dlf.h"
#include "files/series_names.h"
#include "files/series_text.h"
#include "record/statistics.h"
#include "record/summary_cache.h"
#include "record/time_map.h"

namespace py = pybind11;

namespace vospy {

struct Mapping {
    void* address = MAP_FAILED;
    std::size_t size = 0;
    ~Mapping() {
        if (address != MAP_FAILED) ::munmap(address, size);
    }
};

namespace {

// Samples read at a time when only their extremes are kept.
constexpr std::uint64_t MINMAX_BLOCK = 1 << 20;

// The one file of a record mapped read-only, when it is still the very file
// the reader checked; null otherwise (its reads then go through the reader).
// The window and vosctl replace a data file by renaming a new one over it,
// so the mapped file is never written while mapped.
std::shared_ptr<Mapping> MapFile(const SeriesReader& reader) {
    if constexpr (std::endian::native != std::endian::little) {
        return nullptr;
    }
    const FileIdentity& identity = reader.Identity(0);
    const int fd = ::open(identity.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    auto mapping = std::make_shared<Mapping>();
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_ino) == identity.inode &&
        static_cast<std::uint64_t>(info.st_dev) == identity.device &&
        static_cast<std::uint64_t>(info.st_size) == identity.size) {
        mapping->size = static_cast<std::size_t>(info.st_size);
        mapping->address = ::mmap(nullptr, mapping->size, PROT_READ, MAP_SHARED, fd, 0);
    }
    ::close(fd);
    return mapping->address == MAP_FAILED ? nullptr : mapping;
}

[[noreturn]] void ThrowUsage(const std::string& gloss) {
    throw VosError(ErrorKind::Usage, ResultMessage(RESULT_INVALID_PARAMETER), gloss);
}

[[noreturn]] void ThrowUnreadable() {
    throw VosError(ErrorKind::File, FileErrorMessage(FileError::Read),
                   "a file of the series could not be read; it changed, shrank or went away since it was opened");
}

}  // namespace

Record::Record(const std::vector<std::string>& arguments) {
    if (arguments.empty()) ThrowUsage("no file was named");
    ExpandedArguments expanded = ExpandPrefixes(arguments);
    if (!expanded.ambiguous.empty()) {
        const std::vector<SeriesMember>& series = expanded.ambiguousSeries;
        ThrowUsage(expanded.ambiguous + " is a file and also the prefix of the series " + series.front().path +
                   (series.size() > 1 ? " to " + series.back().path : std::string()) +
                   "; nothing was read: rename the file, or name the series' files");
    }
    m_paths = std::move(expanded.files);
    py::gil_scoped_release unlocked;
    if (const std::string why = vosctl::RepeatedOrOutOfOrderText(m_paths); !why.empty()) {
        throw VosError(ErrorKind::File, FileErrorMessage(FileError::Format), why + "; nothing was read");
    }
    std::vector<DataFileHeader> headers(m_paths.size());
    for (std::size_t i = 0; i < m_paths.size(); ++i) {
        if (const FileError error = ReadDataFileHeader(m_paths[i], headers[i]); error != FileError::None) {
            ThrowFile(error, m_paths[i], errno);
        }
    }
    if (const std::string mix = MixedFilesText(m_paths, headers); !mix.empty()) {
        throw VosError(ErrorKind::File, FileErrorMessage(FileError::Format),
                       mix + "; they do not form one record, nothing was read");
    }
    if (const FileError error = m_source.Open(m_paths); error != FileError::None) {
        // The headers passed, so what is left is a file that changed meanwhile.
        throw VosError(ErrorKind::File, FileErrorMessage(error), "the files could not be read as one record");
    }
    if (m_paths.size() == 1) m_mapping = MapFile(Reader());
}

std::uint64_t Record::Range(int channel, std::uint64_t first, std::optional<std::uint64_t> count) const {
    if (channel < 0 || channel >= DLF_CHANNELS) {
        throw py::index_error("channel " + std::to_string(channel) + " does not exist; the channels are 0 to 3");
    }
    const std::uint64_t total = Count();
    if (first > total) {
        throw py::index_error("first sample " + std::to_string(first) + " is past the record's " +
                              std::to_string(total) + " samples");
    }
    const std::uint64_t n = count.value_or(total - first);
    if (n > total - first) {
        throw py::index_error(std::to_string(n) + " samples from " + std::to_string(first) + " run past the record's " +
                              std::to_string(total) + " samples");
    }
    return n;
}

py::array_t<double> Record::Read(int channel, std::uint64_t first, std::optional<std::uint64_t> count) const {
    const std::uint64_t n = Range(channel, first, count);
    if (m_mapping) {
        const auto* samples = static_cast<const double*>(m_mapping->address) + DLF_HEADER_SIZE / sizeof(double) +
                              static_cast<std::uint64_t>(Header().sampleCount) * channel + first;
        auto* owner = new std::shared_ptr<Mapping>(m_mapping);
        py::capsule base(owner, [](void* p) { delete static_cast<std::shared_ptr<Mapping>*>(p); });
        py::array_t<double> view({static_cast<py::ssize_t>(n)}, {static_cast<py::ssize_t>(sizeof(double))}, samples, base);
        py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
        return view;
    }
    py::array_t<double> out(static_cast<py::ssize_t>(n));
    double* data = out.mutable_data();
    bool ok = true;
    {
        py::gil_scoped_release unlocked;
        ok = Reader().Copy(channel, first, n, data);
    }
    if (!ok) ThrowUnreadable();
    return out;
}

py::array Record::Times(std::uint64_t first, std::optional<std::uint64_t> count) const {
    const std::uint64_t n = Range(0, first, count);
    py::array out(py::dtype("datetime64[us]"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
    auto* micros = static_cast<std::int64_t*>(out.mutable_data());
    const TimeMap times = TimeMap::OfSeries(Reader());
    py::gil_scoped_release unlocked;
    for (std::uint64_t s = first; s < first + n; ++s) {
        // A file without a stamp (a window's save) has no times: NaT.
        micros[s - first] = times.Utc(s).value_or(std::numeric_limits<std::int64_t>::min());
    }
    return out;
}

const SummaryPyramid& Record::Summaries() {
    // The lock is taken without the GIL, so that a thread waiting for it
    // never holds what the building thread needs to return.
    py::gil_scoped_release unlocked;
    const std::lock_guard lock(m_summariesMutex);
    if (!m_summaries) {
        SummaryProgress progress;
        SummaryPyramid pyramid;
        const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        if (SummariesOf(m_source, threads, progress, pyramid) != SummaryResult::Done) ThrowUnreadable();
        m_summaries = std::move(pyramid);
    }
    return *m_summaries;
}

py::tuple Record::Envelope(int channel, std::uint32_t columns, std::uint64_t first, std::optional<std::uint64_t> count) {
    const std::uint64_t n = Range(channel, first, count);
    if (columns == 0) throw py::value_error("columns must be at least 1");
    const std::uint32_t used = static_cast<std::uint32_t>(std::min<std::uint64_t>(columns, n));
    py::array_t<double> low(used);
    py::array_t<double> high(used);
    if (used == 0) return py::make_tuple(low, high);
    const SummaryPyramid& summaries = Summaries();
    double* lows = low.mutable_data();
    double* highs = high.mutable_data();
    bool readable = true;
    {
        py::gil_scoped_release unlocked;
        for (std::uint32_t c = 0; c < used; ++c) {
            // Column c takes samples n*c/used .. n*(c+1)/used-1: every column at least one.
            const std::uint64_t begin = first + n * c / used;
            const std::uint64_t end = first + n * (c + 1) / used;
            const SampleExtremes found = summaries.Extremes(m_source, channel, begin, end);
            readable = readable && !IsUnreadable(found);
            const SampleExtremes e = AsDrawn(found);
            lows[c] = e.low;
            highs[c] = e.high;
        }
    }
    if (!readable) ThrowUnreadable();
    return py::make_tuple(low, high);
}

py::tuple Record::MinMax(int channel, std::uint64_t first, std::optional<std::uint64_t> count) const {
    const std::uint64_t n = Range(channel, first, count);
    double low = std::numeric_limits<double>::quiet_NaN();
    double high = low;
    bool ok = true;
    {
        py::gil_scoped_release unlocked;
        std::vector<double> block(static_cast<std::size_t>(std::min(n, MINMAX_BLOCK)));
        for (std::uint64_t done = 0; done < n && ok; done += MINMAX_BLOCK) {
            const std::uint64_t size = std::min(MINMAX_BLOCK, n - done);
            ok = Reader().Copy(channel, first + done, size, block.data());
            for (std::uint64_t i = 0; ok && i < size; ++i) {
                const double v = block[i];
                if (std::isnan(v)) continue;
                if (!(v >= low)) low = v;
                if (!(v <= high)) high = v;
            }
        }
    }
    if (!ok) ThrowUnreadable();
    return py::make_tuple(low, high);
}

py::dict Record::Statistics(int channel, std::uint64_t first, std::optional<std::uint64_t> count) {
    const std::uint64_t n = Range(channel, first, count);
    const SummaryPyramid& summaries = Summaries();
    std::optional<RangeStatistics> s;
    {
        py::gil_scoped_release unlocked;
        s = StatisticsOf(m_source, &summaries, channel, first, first + n);
    }
    if (!s) ThrowUnreadable();
    py::dict out;
    out["count"] = s->count;
    out["nan_count"] = s->nanCount;
    out["minimum"] = s->minimum;
    out["minimum_at"] = s->minimumAt;
    out["maximum"] = s->maximum;
    out["maximum_at"] = s->maximumAt;
    out["mean"] = s->mean;
    out["rms"] = s->rms;
    out["standard_deviation"] = s->deviation;
    out["peak_to_peak"] = s->peakToPeak;
    return out;
}

}  // namespace vospy

namespace vospy {

namespace {

py::object UtcDatetime(std::int64_t micros) {
    const py::module_ datetime = py::module_::import("datetime");
    const py::object epoch = datetime.attr("datetime")(1970, 1, 1, 0, 0, 0, 0, datetime.attr("timezone").attr("utc"));
    return epoch + datetime.attr("timedelta")(py::arg("microseconds") = micros);
}

py::object StampOf(const DataFileHeader& header) {
    if (!header.stamp) return py::none();
    const RecordingStamp& stamp = *header.stamp;
    return py::module_::import("vosviewer").attr("Stamp")(UtcDatetime(stamp.startMicros), IdentityText(stamp.identity),
                                                          stamp.index, stamp.firstSample);
}

// The four channels as contiguous float64 arrays of one length.
std::vector<py::array_t<double, py::array::c_style | py::array::forcecast>> ChannelArrays(const py::sequence& channels) {
    if (py::len(channels) != DLF_CHANNELS) {
        throw py::value_error("a record has 4 channels; " + std::to_string(py::len(channels)) + " arrays were given");
    }
    std::vector<py::array_t<double, py::array::c_style | py::array::forcecast>> arrays;
    for (const py::handle channel : channels) {
        auto array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(channel);
        if (!array || array.ndim() != 1) throw py::value_error("each channel must be a one-dimensional array of numbers");
        if (!arrays.empty() && array.size() != arrays.front().size()) {
            throw py::value_error("the channels have different lengths (" + std::to_string(arrays.front().size()) +
                                  " and " + std::to_string(array.size()) + " samples)");
        }
        arrays.push_back(std::move(array));
    }
    return arrays;
}

void Save(const std::string& path, const py::sequence& channels, std::int32_t clockDivider, std::int32_t triggerChannel,
          std::int32_t triggerType, double threshold, std::int32_t displayMode) {
    const auto arrays = ChannelArrays(channels);
    DataFileHeader header;
    header.clockDivider = clockDivider;
    header.sampleCount = static_cast<std::uint32_t>(std::min<py::ssize_t>(arrays.front().size(), UINT32_MAX));
    header.triggerChannel = triggerChannel;
    header.triggerType = triggerType;
    header.threshold = threshold;
    header.displayMode = displayMode;
    if (arrays.front().size() > static_cast<py::ssize_t>(DLF_MAX_SAMPLE_COUNT) || arrays.front().size() == 0) {
        throw VosError(ErrorKind::Usage, ResultMessage(RESULT_INVALID_PARAMETER),
                       "a data file holds 1 to " + std::to_string(DLF_MAX_SAMPLE_COUNT) + " samples per channel, not " +
                           std::to_string(arrays.front().size()) + "; nothing was written");
    }
    if (CheckHeader(header, UINT64_MAX) != FileError::None) {
        throw VosError(ErrorKind::Usage, ResultMessage(RESULT_INVALID_PARAMETER),
                       "the settings are not those of a data file (clock divider 1 to 10000, trigger type 0 to 4 or "
                       "255, display mode 0 or 1); nothing was written");
    }
    const double* pointers[DLF_CHANNELS];
    for (int c = 0; c < DLF_CHANNELS; ++c) pointers[c] = arrays[static_cast<std::size_t>(c)].data();
    FileError error;
    int cause;
    {
        py::gil_scoped_release unlocked;
        error = SaveDataFile(path, header, pointers);
        cause = errno;
    }
    if (error != FileError::None) ThrowFile(error, path, cause);
}

}  // namespace

void BindRecord(py::module_& m) {
    py::class_<Record>(m, "Record", R"(One record: a DLF file, or the files of a series read as one.

Made by vosviewer.open(). Samples are read from the files when asked for, so
a series of any length can be opened; nothing but the headers is read at
open. A single file is mapped into memory, and read() returns read-only
views of the map instead of copies.)")
        .def_property_readonly("files", &Record::Files, "The files of the record, in order.")
        .def_property_readonly("count", &Record::Count, "Samples per channel, over all files.")
        .def("__len__", &Record::Count)
        .def_property_readonly(
            "clock_divider", [](const Record& r) { return r.Header().clockDivider; },
            "Sample period in units of 100 us (1 is 10 kHz, 10000 is 1 Hz).")
        .def_property_readonly(
            "sample_period", [](const Record& r) { return r.Header().clockDivider * 1e-4; },
            "Sample period in seconds.")
        .def_property_readonly(
            "trigger_channel", [](const Record& r) { return r.Header().triggerChannel & 0xFF; },
            "Trigger channel, 0 to 3.")
        .def_property_readonly(
            "trigger_type", [](const Record& r) { return r.Header().triggerType; },
            "Trigger type: 0 to 4, or 255 for no trigger.")
        .def_property_readonly(
            "threshold", [](const Record& r) { return r.Header().threshold; }, "Trigger threshold in volts.")
        .def_property_readonly(
            "display_mode", [](const Record& r) { return r.Header().displayMode; },
            "0: four panes, 1: overlaid.")
        .def_property_readonly(
            "stamp", [](const Record& r) { return StampOf(r.Header()); },
            "The recording stamp of the first file (a vosviewer.Stamp), or None for a file without one, such "
            "as the window's saves.")
        .def_property_readonly(
            "file_stamps",
            [](const Record& r) {
                py::list stamps;
                for (std::size_t f = 0; f < r.Reader().FileCount(); ++f) stamps.append(StampOf(r.Reader().Header(f)));
                return stamps;
            },
            "The stamp of each file (None where a file has none).")
        .def_property_readonly(
            "file_first_samples",
            [](const Record& r) {
                py::list firsts;
                for (std::size_t f = 0; f < r.Reader().FileCount(); ++f) firsts.append(r.Reader().FirstSample(f));
                return firsts;
            },
            "Index in the record of the first sample of each file.")
        .def("read", &Record::Read, py::arg("channel"), py::arg("first") = 0, py::arg("count") = py::none(),
             R"(Samples of one channel as a float64 array in volts.

channel: 0 to 3. first: the first sample. count: how many (None: to the end).
Reads only these samples. For a single file the array is a read-only view of
the mapped file; copy it (numpy.array(a)) to change it. The window and vosctl
replace a file by a new one, which leaves a view as it was; a program that
cuts the file short in place while a view is used ends the interpreter
(SIGBUS), as with numpy.memmap.
Raises IndexError for a range outside the record, VosFileError when a file
changed or went away since it was opened.)")
        .def("times", &Record::Times, py::arg("first") = 0, py::arg("count") = py::none(),
             R"(UTC times of samples as a datetime64[us] array, from each file's recording stamp.

Samples of a file without a stamp are NaT.)")
        .def("envelope", &Record::Envelope, py::arg("channel"), py::arg("columns") = 1000, py::arg("first") = 0,
             py::arg("count") = py::none(),
             R"(The min/max envelope of a range at `columns` columns: a tuple (low, high) of float64 arrays.

Column c covers samples first + count*c//columns up to the next column's
first; never more columns than samples. As the window draws them, NaN and
values below -1 V count as -1 V. Read through the summaries the window uses
(taken once per record, and cached in the user's summaries cache as the window
caches them), so a whole night takes milliseconds once they exist.)")
        .def("minmax", &Record::MinMax, py::arg("channel"), py::arg("first") = 0, py::arg("count") = py::none(),
             R"(The smallest and largest sample of a range as a tuple (min, max); NaN samples are skipped.

(nan, nan) when the range holds no number. Reads every sample of the range.)")
        .def("statistics", &Record::Statistics, py::arg("channel"), py::arg("first") = 0, py::arg("count") = py::none(),
             R"(The statistics of a range as `vosctl info --from/--to` gives them: a dict of count, nan_count,
minimum and minimum_at, maximum and maximum_at (the first sample holding each, as an
index into the record), mean, rms, standard_deviation (over the numbers) and
peak_to_peak. NaN samples are counted and otherwise left out; with no number in
the range the values are nan. Taken from the summaries' statistics cells and raw
samples only at the range's ends, so a night costs what a second does.)")
        .def("__repr__", [](const Record& r) {
            return "<vosviewer.Record " + std::to_string(r.Files().size()) + " file(s), " + std::to_string(r.Count()) +
                   " samples per channel, clock divider " + std::to_string(r.Header().clockDivider) + ">";
        });

    m.def(
        "_open", [](const std::vector<std::string>& arguments) { return std::make_unique<Record>(arguments); },
        py::arg("files"));
    m.def("_save", &Save, py::arg("path"), py::arg("channels"), py::arg("clock_divider"), py::arg("trigger_channel"),
          py::arg("trigger_type"), py::arg("threshold"), py::arg("display_mode"));
    m.attr("DLF_MAX_SAMPLE_COUNT") = DLF_MAX_SAMPLE_COUNT;
}

}  // namespace vospy
