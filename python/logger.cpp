// The logger from Python: list, one acquisition, and a recording to files,
// each on a thread of its own while the interpreter's thread waits for it,
// so that Ctrl-C (KeyboardInterrupt) stops the run as SIGINT stops vosctl's.
#include "logger.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "acquisition/record.h"
#include "acquisition/record_targets.h"
#include "acquisition/run.h"
#include "cli/cli.h"
#include "cli/options.h"
#include "cli/series_guard.h"
#include "device/access.h"
#include "device/driver.h"
#include "errors.h"
#include "interrupt.h"
#include "files/prefix_lock.h"

namespace py = pybind11;

namespace vospy {

namespace {

// Blocks a recording keeps for a reader that is behind; later ones are missed.
constexpr std::size_t BLOCK_QUEUE = 256;

// Runs a vosctl option parser: its refusal as VosUsageError.
template <typename T>
T Parsed(std::string (*parse)(const std::string&, T&), const std::string& text, const char* what) {
    T value{};
    if (const std::string why = parse(text, value); !why.empty()) ThrowUsage(std::string(what) + ": " + why);
    return value;
}

const D2xxApi& LoadDriver(DriverLibrary& library, const std::string& path) {
    bool loaded;
    {
        py::gil_scoped_release unlocked;
        loaded = library.Load(path.c_str());
    }
    if (!loaded) {
        throw VosError(ErrorKind::Device, DRIVER_MISSING_TEXT, "the D2XX driver could not be loaded: " + library.Error());
    }
    return *library.Api();
}

std::optional<std::int32_t> SerialOf(const std::optional<std::string>& serial) {
    if (!serial) return std::nullopt;
    return Parsed(&vosctl::ParseSerial, *serial, "serial");
}

// The logger a run uses when none is named, as vosctl chooses it: the one Search selects.
std::int32_t DefaultSerial(const D2xxApi& api) {
    std::int32_t serial = 0;
    std::uint32_t result;
    {
        py::gil_scoped_release unlocked;
        result = DefaultLoggerSerial(api, serial);
    }
    if (result != RESULT_OK) ThrowDevice(result);
    return serial;
}

// What one acquisition asks of whoever shows it, answered without a window.
class PythonHost : public AcquisitionHost {
public:
    PythonHost(const AcquisitionSettings& settings, std::optional<std::int32_t> serial)
        : m_settings(settings), m_serial(serial) {}
    AcquisitionSettings ReadSettings() override { return m_settings; }
    std::optional<std::int32_t> SelectedSerial() override { return m_serial; }
    void Started(const AcquisitionSettings& settings, bool) override { record = settings; }
    void Ended(const AcquisitionOutcome& outcome) override {
        if (outcome.failed) return;
        record.sampleCount = outcome.stored;
        dataValid = outcome.stored > 0;
    }

    AcquisitionSettings record;
    bool dataValid = false;

private:
    AcquisitionSettings m_settings;
    std::optional<std::int32_t> m_serial;
};

py::list Loggers(const std::string& driver) {
    DriverLibrary library;
    const D2xxApi& api = LoadDriver(library, driver);
    SearchOutcome outcome;
    {
        py::gil_scoped_release unlocked;
        outcome = SearchLoggers(api);
    }
    if (!outcome.ok) throw VosError(ErrorKind::Device, outcome.message, "the logger list could not be read");
    py::list serials;
    for (const std::int32_t serial : outcome.serials) serials.append(serial);
    return serials;
}

// (channels as a 4 x count array, clock divider, trigger channel, trigger type, threshold)
// Every setting as its text, as vosctl takes it, checked by vosctl's parsers.
py::tuple Acquire(const std::string& driver, const std::string& clock, const std::string& count,
                  const std::optional<std::string>& trigger, const std::optional<std::string>& serial) {
    AcquisitionSettings settings;
    settings.clockDivider = Parsed(&vosctl::ParseClock, clock, "clock");
    settings.sampleCount = Parsed(&vosctl::ParseCount, count, "count");
    if (trigger) {
        const auto choice = Parsed(&vosctl::ParseTrigger, *trigger, "trigger");
        settings.triggerChannel = choice.channel;
        settings.triggerType = choice.type;
        settings.threshold = choice.threshold;
    }
    std::optional<std::int32_t> chosen = SerialOf(serial);
    DriverLibrary library;
    const D2xxApi& api = LoadDriver(library, driver);
    if (!chosen) chosen = DefaultSerial(api);

    py::array_t<double> samples({py::ssize_t{4}, static_cast<py::ssize_t>(settings.sampleCount)});
    double* channels[4];
    for (int c = 0; c < 4; ++c) channels[c] = samples.mutable_data(c, 0);
    std::atomic<std::int32_t> stopRequest{0};
    std::atomic<std::uint32_t> acquiredCount{0};
    std::atomic<bool> acqFinished{false};
    std::atomic<bool> liveViewEnded{false};
    const AcquisitionFlags flags{stopRequest, acquiredCount, acqFinished, liveViewEnded};
    PythonHost host(settings, chosen);
    FT_HANDLE handle = nullptr;
    std::string text;
    bool ok = false;
    const auto result = [&] {
        const std::uint32_t stored = host.dataValid ? host.record.sampleCount : 0;
        py::array_t<double> kept({py::ssize_t{4}, static_cast<py::ssize_t>(stored)});
        for (int c = 0; c < 4; ++c) std::copy(channels[c], channels[c] + stored, kept.mutable_data(c, 0));
        return py::make_tuple(kept, host.record.clockDivider, host.record.triggerChannel, host.record.triggerType,
                              host.record.threshold);
    };
    try {
        RunInterruptible([&] { ok = RunAcquisitionSteps(&api, host, channels, flags, handle, text); },
                         [&] { stopRequest.store(1); });
    } catch (py::error_already_set& interrupt) {
        // Ctrl-C stops the run as Stop does; the samples stored go with the
        // exception, as vosctl writes them on SIGINT.
        if (interrupt.matches(PyExc_KeyboardInterrupt)) {
            interrupt.value().attr("acquisition") = ok && host.dataValid ? py::object(result()) : py::none();
        }
        throw;
    }
    if (!ok) throw VosError(ErrorKind::Device, text, vosctl::MessageGloss(text));
    return result();
}

// One recording to the series PREFIX, run on a thread of its own; the
// blocks it stores are kept for the interpreter to take.
class Recording {
public:
    Recording(const std::string& driver, const std::string& prefix, const std::string& clock,
              const std::optional<std::string>& samples, const std::optional<std::string>& duration,
              const std::string& split, const std::optional<std::string>& trigger,
              const std::optional<std::string>& serial, bool overwrite, bool blocks) {
        // As vosctl record's --duration and --samples, which exclude each other.
        if (samples && duration) ThrowUsage("duration excludes samples: give one of them, or neither");
        const auto divider = static_cast<std::uint32_t>(Parsed(&vosctl::ParseClock, clock, "clock"));
        m_options.divider = divider;
        if (trigger) {
            const auto choice = Parsed(&vosctl::ParseTrigger, *trigger, "trigger");
            m_options.trigger = TriggerSetup{choice.channel, choice.type, choice.threshold, 0};
        }
        m_options.serial = SerialOf(serial);
        if (duration) {
            const std::uint64_t seconds = Parsed(&vosctl::ParseDuration, *duration, "duration");
            m_options.sampleLimit = (seconds * LOGGER_FRAME_RATE + divider - 1) / divider;
        } else if (samples) {
            std::uint64_t limit = 0;
            if (const std::string why = vosctl::ParseWhole(*samples, 1, STREAM_UNLIMITED - 1, limit);
                !why.empty()) {
                ThrowUsage("samples: " + why);
            }
            m_options.sampleLimit = limit;
        }
        std::uint64_t parts = 0;
        if (const std::string why = vosctl::ParseWhole(split, RECORD_MIN_SPLIT, DLF_MAX_SAMPLE_COUNT, parts);
            !why.empty()) {
            ThrowUsage("split: " + why);
        }
        m_options.split = static_cast<std::uint32_t>(parts);
        if (prefix.empty()) ThrowUsage("the recording needs a prefix for its files");
        m_options.prefix = prefix;
        const std::uint64_t lastIndex = m_options.sampleLimit == STREAM_UNLIMITED
                                            ? UINT32_MAX
                                            : (m_options.sampleLimit + m_options.split - 1) / m_options.split;
        const vosctl::RecordTargets targets{prefix, static_cast<std::uint32_t>(std::min<std::uint64_t>(lastIndex, UINT32_MAX)),
                                            "", overwrite};
        {
            vosctl::FailureSink sink;
            if (const int status = vosctl::CheckRecordTargets(targets, m_lock); status != vosctl::EXIT_OK) {
                throw VosError(status == vosctl::EXIT_USAGE ? ErrorKind::Usage : ErrorKind::File, sink.text, sink.gloss);
            }
        }
        m_options.beforeStream = [prefix, overwrite](std::string& failedPath) {
            return overwrite ? vosctl::RemoveSeries(prefix, failedPath) : FileError::None;
        };
        m_options.stopFlag = &m_stop;
        if (blocks) {
            m_options.onBlock = [this](std::uint64_t first, std::uint32_t count, const double* const channels[4]) {
                Keep(first, count, channels);
            };
        }
        const D2xxApi& api = LoadDriver(m_library, driver);
        if (!m_options.serial) m_options.serial = DefaultSerial(api);
        m_recorder = std::make_unique<Recorder>(api, m_options);
        m_thread = std::thread([this] {
            m_outcome = m_recorder->Run();
            {
                const std::lock_guard lock(m_mutex);
                m_ended = true;
            }
            m_wake.notify_all();
        });
    }

    ~Recording() {
        m_stop.store(1);
        if (m_thread.joinable()) {
            py::gil_scoped_release unlocked;
            m_thread.join();
        }
    }

    // The next block as (first sample, 4 x count array), or None once the
    // recording has ended and every kept block was taken.
    py::object NextBlock() {
        std::optional<py::error_already_set> pending;
        for (;;) {
            Block block;
            bool have = false;
            bool ended = false;
            {
                py::gil_scoped_release unlocked;
                std::unique_lock lock(m_mutex);
                m_wake.wait_for(lock, SIGNAL_POLL, [this] { return !m_blocks.empty() || m_ended; });
                if (!m_blocks.empty()) {
                    block = std::move(m_blocks.front());
                    m_blocks.pop_front();
                    have = true;
                }
                ended = m_ended;
            }
            if (SignalArrived(pending)) {
                Stop();
                Finish();
                throw std::move(*pending);
            }
            if (have) {
                py::array_t<double> samples({py::ssize_t{4}, static_cast<py::ssize_t>(block.count)});
                std::copy(block.samples.begin(), block.samples.end(), samples.mutable_data());
                return py::make_tuple(block.first, samples);
            }
            if (ended) return py::none();
        }
    }

    void Stop() { m_stop.store(1); }

    // Waits for the end (stopping the recording on Ctrl-C) and reports it:
    // a dict of what was written, or the failure as an exception.
    py::dict Finish() {
        if (m_thread.joinable()) {
            RunInterruptible([this] { m_thread.join(); }, [this] { m_stop.store(1); });
        }
        const RecordOutcome& outcome = m_outcome;
        switch (outcome.end) {
        case RecordEnd::Device: ThrowDevice(outcome.deviceResult);
        case RecordEnd::File:
            throw VosError(ErrorKind::File, outcome.message,
                           RecordFileFailureText(
                               outcome, vosctl::FileErrorGloss(outcome.fileError, outcome.failedPath, outcome.fileCause),
                               vosctl::CauseGloss(outcome.fileCause, outcome.failedPath)));
        case RecordEnd::WriterBehind:
            throw VosError(ErrorKind::File, outcome.message,
                           "the writer fell behind the logger: all " + std::to_string(outcome.buffers) +
                               " sample buffers were waiting to be written; every sample stored so far is written");
        case RecordEnd::Done: break;
        }
        py::dict result;
        result["samples"] = outcome.samples;
        result["files"] = outcome.files;
        result["samples_in_files"] = outcome.samplesInFiles;
        result["gaps"] = outcome.gaps.size();
        result["lost_samples"] = [&] {
            std::uint64_t lost = 0;
            for (const RecordGap& gap : outcome.gaps) lost += gap.lostSamples;
            return lost;
        }();
        result["blocks_missed"] = m_missed.load();
        return result;
    }

private:
    struct Block {
        std::uint64_t first = 0;
        std::uint32_t count = 0;
        std::vector<double> samples;  // channel c at c * count
    };

    // On the recorder's writer thread: never waits for the interpreter.
    void Keep(std::uint64_t first, std::uint32_t count, const double* const channels[4]) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_blocks.size() >= BLOCK_QUEUE) {
                m_missed.fetch_add(1);
                return;
            }
        }
        Block block{first, count, std::vector<double>(std::size_t{4} * count)};
        for (int c = 0; c < 4; ++c) std::copy(channels[c], channels[c] + count, block.samples.begin() + std::size_t{count} * c);
        {
            const std::lock_guard lock(m_mutex);
            m_blocks.push_back(std::move(block));
        }
        m_wake.notify_all();
    }

    RecordOptions m_options;
    PrefixLock m_lock;
    DriverLibrary m_library;
    std::atomic<std::int32_t> m_stop{0};
    std::unique_ptr<Recorder> m_recorder;
    std::thread m_thread;
    RecordOutcome m_outcome;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Block> m_blocks;
    bool m_ended = false;
    std::atomic<std::uint64_t> m_missed{0};
};

}  // namespace

void BindLogger(py::module_& m) {
    m.def("_loggers", &Loggers, py::arg("driver"));
    m.def("_acquire", &Acquire, py::arg("driver"), py::arg("clock"), py::arg("count"), py::arg("trigger"),
          py::arg("serial"));
    py::class_<Recording>(m, "_Recording")
        .def(py::init<const std::string&, const std::string&, const std::string&, const std::optional<std::string>&,
                      const std::optional<std::string>&, const std::string&, const std::optional<std::string>&,
                      const std::optional<std::string>&, bool, bool>(),
             py::arg("driver"), py::arg("prefix"), py::arg("clock"), py::arg("samples"), py::arg("duration"),
             py::arg("split"), py::arg("trigger"), py::arg("serial"), py::arg("overwrite"), py::arg("blocks"))
        .def("next_block", &Recording::NextBlock)
        .def("stop", &Recording::Stop)
        .def("finish", &Recording::Finish);
    m.attr("SIMULATOR_INSTALLED") = VOS_SIM_INSTALLED;
    m.attr("DRIVER_LIBRARY") = D2XX_LIBRARY_NAME;
}

}  // namespace vospy
