#include "record.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <thread>

#include "cli/cli.h"
#include "cli/files_check.h"
#include "cli/sample_range.h"
#include "device/access.h"
#include "display/envelope.h"
#include "errors.h"
#include "files/dlf.h"
#include "files/series.h"
#include "files/series_names.h"
#include "files/series_text.h"
#include "interrupt.h"
#include "record/statistics.h"
#include "record/summary_cache.h"
#include "record/time_map.h"

namespace py = pybind11;

namespace vospy {

namespace {

// Samples per channel copied between two looks for Ctrl-C: some milliseconds.
constexpr std::uint64_t READ_BLOCK = 1 << 20;

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
    // A prefix's working file (a recording under way, or one that ended
    // without completing it) holds samples the record leaves out.
    for (const std::string& argument : arguments) {
        struct stat info {};
        if (::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode)) continue;
        for (const SeriesMember& working : ListSeries(argument).workingFiles) m_working.push_back(working.path);
    }
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
}

void Record::Range(int channel, std::uint64_t first, std::uint64_t count) const {
    if (channel < 0 || channel >= DLF_CHANNELS) {
        throw py::index_error("channel " + std::to_string(channel) + " does not exist; the channels are 0 to 3");
    }
    const std::uint64_t total = Count();
    if (first > total) {
        throw py::index_error("first sample " + std::to_string(first) + " is past the record's " +
                              std::to_string(total) + " samples");
    }
    if (count > total - first) {
        throw py::index_error(std::to_string(count) + " samples from " + std::to_string(first) +
                              " run past the record's " + std::to_string(total) + " samples");
    }
}

void Record::ThrowUnreadable(std::uint64_t first, std::uint64_t count) const {
    const SeriesReader& reader = Reader();
    std::size_t culprit = reader.FileCount();
    int cause = 0;
    for (std::size_t f = 0; f < reader.FileCount() && culprit == reader.FileCount(); ++f) {
        const std::uint64_t begin = reader.FirstSample(f);
        if (begin >= first + std::max<std::uint64_t>(count, 1) || begin + reader.Header(f).sampleCount <= first) {
            continue;
        }
        const FileIdentity& identity = reader.Identity(f);
        struct stat info {};
        if (::stat(identity.path.c_str(), &info) != 0) {
            culprit = f;
            cause = errno;
        } else if (static_cast<std::uint64_t>(info.st_size) != identity.size ||
                   static_cast<std::uint64_t>(info.st_ino) != identity.inode) {
            culprit = f;
        }
    }
    if (culprit == reader.FileCount()) {
        throw VosError(ErrorKind::File, FileErrorMessage(FileError::Read),
                       "a file of the record could not be read; it changed, shrank or went away since it was opened");
    }
    const std::string& path = reader.Identity(culprit).path;
    throw VosError(ErrorKind::File, FileErrorMessage(FileError::Read),
                   path + ": the file " + (cause == ENOENT ? "went away" : "changed or shrank") +
                       " since the record was opened; open it again",
                   path, cause);
}

py::array_t<double> Record::Read(const std::vector<int>& channels, std::uint64_t first, std::uint64_t count,
                                 std::optional<py::array_t<double>> out) const {
    for (const int channel : channels) Range(channel, first, count);
    const auto rows = static_cast<py::ssize_t>(channels.size());
    py::array_t<double> array = out ? *out : py::array_t<double>({rows, static_cast<py::ssize_t>(count)});
    if (array.ndim() != 2 || array.shape(0) != rows || array.shape(1) != static_cast<py::ssize_t>(count) ||
        !(array.flags() & py::array::c_style) || !array.writeable()) {
        throw py::value_error("out must be a writable C-contiguous float64 array of " + std::to_string(count) +
                              " samples per channel read");
    }
    double* data = array.mutable_data();
    for (std::size_t row = 0; row < channels.size(); ++row) {
        for (std::uint64_t done = 0; done < count; done += READ_BLOCK) {
            const std::uint64_t n = std::min(READ_BLOCK, count - done);
            bool ok;
            {
                py::gil_scoped_release unlocked;
                ok = Reader().Copy(channels[row], first + done, n, data + row * count + done);
            }
            if (!ok) ThrowUnreadable(first + done, n);
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    }
    return array;
}

py::array Record::Times(std::uint64_t first, std::optional<std::uint64_t> count) const {
    const std::uint64_t n = count.value_or(Count() - std::min(first, Count()));
    Range(0, first, n);
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

std::pair<std::uint64_t, std::uint64_t> Record::Between(const std::string& start, const std::string& stop) const {
    for (const auto& [name, text] : {std::pair{"start", &start}, std::pair{"stop", &stop}}) {
        vosctl::RangeBound bound;
        if (const std::string why = text->empty() ? "" : vosctl::ParseRangeBound(*text, bound); !why.empty()) {
            ThrowUsage(std::string(name) + " " + *text + ": " + why);
        }
    }
    std::vector<DataFileHeader> headers;
    for (std::size_t f = 0; f < Reader().FileCount(); ++f) headers.push_back(Reader().Header(f));
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    vosctl::FailureSink refusal;
    if (vosctl::ResolveRange(start, stop, vosctl::SpanOfFiles(headers), first, last, {"start", "stop"}) != vosctl::EXIT_OK) {
        ThrowUsage(refusal.text + " (" + refusal.gloss + ")");
    }
    return {first, last};
}

const SummaryPyramid& Record::Summaries(const py::object& progress) {
    // The lock is taken without the GIL, so that a thread waiting for it
    // never holds what the building thread needs to return.
    {
        py::gil_scoped_release unlocked;
        m_summariesMutex.lock();
    }
    const std::lock_guard lock(m_summariesMutex, std::adopt_lock);
    if (!m_summaries) {
        SummaryProgress counted;
        SummaryPyramid pyramid;
        SummaryResult result = SummaryResult::ReadError;
        const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        const std::uint64_t total = Count();
        RunInterruptible([&] { result = SummariesOf(m_source, threads, counted, pyramid); },
                         [&] { counted.cancel.store(true); },
                         [&] {
                             if (!progress.is_none()) progress(counted.done.load(), total);
                         });
        if (result != SummaryResult::Done) ThrowUnreadable(0, total);
        // The end told too, so that a caller hears of every build, however short.
        if (!progress.is_none()) progress(total, total);
        m_summaries = std::move(pyramid);
    }
    return *m_summaries;
}

py::tuple Record::Envelope(int channel, std::uint32_t columns, std::uint64_t first, std::uint64_t count, bool drawn,
                           const py::object& progress) {
    Range(channel, first, count);
    if (columns == 0) throw py::value_error("columns must be at least 1");
    const auto used = static_cast<std::uint32_t>(std::min<std::uint64_t>(columns, count));
    py::array_t<double> low(used);
    py::array_t<double> high(used);
    if (used == 0) return py::make_tuple(low, high);
    const SummaryPyramid& summaries = Summaries(progress);
    double* lows = low.mutable_data();
    double* highs = high.mutable_data();
    bool readable = true;
    {
        py::gil_scoped_release unlocked;
        constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
        for (std::uint32_t c = 0; c < used; ++c) {
            // Column c takes samples n*c/used .. n*(c+1)/used-1: every column at least one.
            const std::uint64_t begin = first + count * c / used;
            const std::uint64_t end = first + count * (c + 1) / used;
            const SampleExtremes found = summaries.Extremes(m_source, channel, begin, end);
            readable = readable && !IsUnreadable(found);
            if (drawn) {
                const SampleExtremes e = AsDrawn(found);
                lows[c] = e.low;
                highs[c] = e.high;
            } else {
                // A column holding a NaN is a gap: NaN, which a plot leaves out.
                const bool gap = found.low != found.low;
                lows[c] = gap ? NaN : found.low;
                highs[c] = gap ? NaN : found.high;
            }
        }
    }
    if (!readable) ThrowUnreadable(first, count);
    return py::make_tuple(low, high);
}

py::dict Record::Statistics(int channel, std::uint64_t first, std::uint64_t count, const py::object& progress) {
    Range(channel, first, count);
    std::optional<RangeStatistics> s;
    if (count == 0) {
        s.emplace();
    } else {
        const SummaryPyramid& summaries = Summaries(progress);
        py::gil_scoped_release unlocked;
        s = StatisticsOf(m_source, &summaries, channel, first, first + count);
    }
    if (!s) ThrowUnreadable(first, count);
    // With no number in the range there are no extremes and no positions,
    // as vosctl info --json gives them: null.
    const bool numbers = s->count > s->nanCount;
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    const auto value = [&](double v) { return numbers ? v : NaN; };
    py::dict out;
    out["count"] = s->count;
    out["nan_count"] = s->nanCount;
    out["minimum"] = value(s->minimum);
    out["minimum_at"] = numbers ? py::object(py::int_(s->minimumAt)) : py::object(py::none());
    out["maximum"] = value(s->maximum);
    out["maximum_at"] = numbers ? py::object(py::int_(s->maximumAt)) : py::object(py::none());
    out["mean"] = value(s->mean);
    out["rms"] = value(s->rms);
    out["standard_deviation"] = value(s->deviation);
    out["peak_to_peak"] = value(s->peakToPeak);
    return out;
}

py::list Record::Gaps() const {
    const SeriesReader& reader = Reader();
    std::vector<DataFileHeader> headers;
    for (std::size_t f = 0; f < reader.FileCount(); ++f) headers.push_back(reader.Header(f));
    py::list gaps;
    for (const SeriesGap& gap : SeriesGaps(headers)) {
        gaps.append(py::make_tuple(reader.FirstSample(gap.after), gap.fromMicros, gap.toMicros, gap.lostSamples));
    }
    return gaps;
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
    if (triggerChannel < 0 || triggerChannel >= DLF_CHANNELS) {
        ThrowUsage("trigger channel " + std::to_string(triggerChannel) + " does not exist; the channels are 0 to 3; "
                   "nothing was written");
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
    // The primitives vosviewer.Record is built on: arguments checked there.
    py::class_<Record>(m, "_Record")
        .def(py::init<const std::vector<std::string>&>(), py::arg("files"))
        .def_property_readonly("files",
                               [](const Record& r) {
                                   py::list files;
                                   for (const std::string& path : r.Files()) files.append(py::bytes(path));
                                   return files;
                               })
        .def_property_readonly("count", &Record::Count)
        .def_property_readonly("working_files",
                               [](const Record& r) {
                                   py::list files;
                                   for (const std::string& path : r.WorkingFiles()) files.append(py::bytes(path));
                                   return files;
                               })
        .def_property_readonly("clock_divider", [](const Record& r) { return r.Header().clockDivider; })
        .def_property_readonly("trigger_channel", [](const Record& r) { return r.Header().triggerChannel & 0xFF; })
        .def_property_readonly("trigger_type", [](const Record& r) { return r.Header().triggerType; })
        .def_property_readonly("threshold", [](const Record& r) { return r.Header().threshold; })
        .def_property_readonly("display_mode", [](const Record& r) { return r.Header().displayMode; })
        .def_property_readonly("file_stamps",
                               [](const Record& r) {
                                   py::list stamps;
                                   for (std::size_t f = 0; f < r.Reader().FileCount(); ++f) {
                                       stamps.append(StampOf(r.Reader().Header(f)));
                                   }
                                   return stamps;
                               })
        .def_property_readonly("file_first_samples",
                               [](const Record& r) {
                                   py::list firsts;
                                   for (std::size_t f = 0; f < r.Reader().FileCount(); ++f) {
                                       firsts.append(r.Reader().FirstSample(f));
                                   }
                                   return firsts;
                               })
        .def("read", &Record::Read, py::arg("channels"), py::arg("first"), py::arg("count"), py::arg("out"))
        .def("times", &Record::Times, py::arg("first"), py::arg("count"))
        .def("between", &Record::Between, py::arg("start"), py::arg("stop"))
        .def("envelope", &Record::Envelope, py::arg("channel"), py::arg("columns"), py::arg("first"), py::arg("count"),
             py::arg("drawn"), py::arg("progress"))
        .def("statistics", &Record::Statistics, py::arg("channel"), py::arg("first"), py::arg("count"),
             py::arg("progress"))
        .def("gaps", &Record::Gaps);

    m.def("_save", &Save, py::arg("path"), py::arg("channels"), py::arg("clock_divider"), py::arg("trigger_channel"),
          py::arg("trigger_type"), py::arg("threshold"), py::arg("display_mode"));
    m.attr("DLF_MAX_SAMPLE_COUNT") = DLF_MAX_SAMPLE_COUNT;
}

}  // namespace vospy
