// vosctl record: one unattended stream split into DLF files, optionally streamed as CSV.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "acquisition/record.h"
#include "acquisition/record_targets.h"
#include "settings/settings.h"
#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/series_guard.h"
#include "cli/signals.h"
#include "device/access.h"
#include "files/prefix_lock.h"
#include "files/series_names.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto PROGRESS_PERIOD = std::chrono::milliseconds(200);
// Bus indices asked for the simulator's overrun count; unused ones report 0.
constexpr unsigned SIMULATED_DEVICES = 128;

struct RecordCommandOptions {
    std::string serial;
    std::string clock = CLOCK_TEXTS[0];
    std::string trigger;
    std::string duration;
    std::string samples;
    std::string split = std::to_string(DLF_MAX_SAMPLE_COUNT);
    std::string csv;
    std::string channel = CSV_CHANNEL_TEXTS[CSV_CHANNEL_ALL];
    std::string prefix;
    bool overwrite = false;
};

// The simulator's count of frames lost at a full receive queue, when the loaded driver is the simulator.
std::optional<std::uint64_t> SimulatorOverruns(const char* driverName) {
    void* module = ::dlopen(driverName, RTLD_LAZY | RTLD_NOLOAD);
    if (module == nullptr) return std::nullopt;
    using OverrunCount = std::uint64_t (*)(unsigned);
    const auto count = reinterpret_cast<OverrunCount>(::dlsym(module, "VosSim_OverrunCount"));
    std::optional<std::uint64_t> total;
    if (count != nullptr) {
        total = 0;
        for (unsigned device = 0; device < SIMULATED_DEVICES; ++device) *total += count(device);
    }
    ::dlclose(module);
    return total;
}

std::string ProgressText(const Recorder& recorder, bool triggerArmed, std::int64_t elapsed) {
    const std::uint64_t samples = recorder.Samples();
    char text[160];
    if (triggerArmed && samples == 0) {
        std::snprintf(text, sizeof text, "waiting for trigger  %s elapsed  largest queue %u bytes",
                      vosctl::ClockText(elapsed).c_str(), recorder.LargestQueue());
    } else {
        std::snprintf(text, sizeof text, "%s elapsed  %s  %s  largest queue %u bytes",
                      vosctl::ClockText(elapsed).c_str(), vosctl::CountText(samples, "sample").c_str(),
                      vosctl::CountText(recorder.Files(), "file").c_str(), recorder.LargestQueue());
    }
    return text;
}

// Redraws one progress line on a terminal until the recording has ended.
class RecordProgress {
public:
    RecordProgress(const Recorder& recorder, bool triggerArmed) {
        if (::isatty(STDERR_FILENO) != 1) return;
        m_thread = std::thread([this, &recorder, triggerArmed] {
            const auto start = Clock::now();
            std::unique_lock lock(m_mutex);
            do {
                const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
                std::fprintf(stderr, "\r%s\033[K", ProgressText(recorder, triggerArmed, elapsed).c_str());
                std::fflush(stderr);
            } while (!m_wake.wait_for(lock, PROGRESS_PERIOD, [this] { return m_done; }));
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        });
    }
    ~RecordProgress() {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

std::string GapLine(const RecordGap& gap, const std::string& prefix) {
    return "vosctl record: " + RecordGapText(gap, prefix);
}

// Says what was received and exactly what of it is on disk; nothing when the run never started.
void PrintSummary(const RecordOutcome& outcome, const RecordOptions& options, std::int64_t elapsed,
                  const char* driverName) {
    const auto overruns = SimulatorOverruns(driverName);
    const std::string text = RecordSummaryText(outcome, options, elapsed,
                                               overruns ? ", simulator overruns " + std::to_string(*overruns) : "");
    if (text.empty()) return;
    std::string lines = "vosctl record: " + text;
    for (const RecordGap& gap : outcome.gaps) lines += "\n" + GapLine(gap, options.prefix);
    std::fprintf(stderr, "%s\n", lines.c_str());
    std::fflush(stderr);
}

// What a signal that ends the recording at once leaves on disk, from the
// signal thread while the recorder's threads still run: the files are listed
// as they are on disk, not as the writer last counted them, once the
// converter removes no more of them.
void PrintAbruptEnd(Recorder& recorder, const std::string& prefix) {
    recorder.FreezeFiles();
    std::string text = "vosctl record: ended at once by a signal: " + std::to_string(recorder.Samples()) +
                       " samples received";
    if (!prefix.empty()) {
        const SeriesListing series = ListSeries(prefix);
        const auto range = [](const std::vector<SeriesMember>& files) {
            return files.size() == 1 ? files.front().path : files.front().path + " to " + files.back().path;
        };
        text += series.dataFiles.empty() ? ", no data file"
                                         : ", " + vosctl::CountText(series.dataFiles.size(), "data file") + " " +
                                               range(series.dataFiles);
        if (!series.workingFiles.empty()) {
            text += "; what reached the disk" + std::string(series.dataFiles.empty() ? "" : " after them") +
                    " is in the working file" +
                    std::string(series.workingFiles.size() == 1 ? " " : "s ") + range(series.workingFiles) +
                    ", left for `vosctl recover " + prefix + "`, which makes DLF files of it";
        }
    }
    text += "\n";
    // Written directly: another thread may hold the stream of standard error.
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (wrote <= 0) break;
        done += static_cast<std::size_t>(wrote);
    }
}

int RunRecord(const RecordCommandOptions& command, vosctl::Context& context) {
    RecordOptions options;
    std::int32_t divider = 1;
    vosctl::ParseClock(command.clock, divider);
    options.divider = static_cast<std::uint32_t>(divider);
    if (!command.trigger.empty()) {
        vosctl::TriggerChoice trigger;
        vosctl::ParseTrigger(command.trigger, trigger);
        options.trigger = TriggerSetup{trigger.channel, trigger.type, trigger.threshold, 0};
    }
    if (!command.duration.empty()) {
        std::uint64_t seconds = 0;
        vosctl::ParseDuration(command.duration, seconds);
        options.sampleLimit = RecordSampleLimit(seconds, options.divider);
    } else if (!command.samples.empty()) {
        vosctl::ParseWhole(command.samples, 1, STREAM_UNLIMITED - 1, options.sampleLimit);
    }
    std::uint64_t split = DLF_MAX_SAMPLE_COUNT;
    vosctl::ParseWhole(command.split, RECORD_MIN_SPLIT, DLF_MAX_SAMPLE_COUNT, split);
    options.split = static_cast<std::uint32_t>(split);
    vosctl::ParseCsvChannel(command.channel, options.csvSelection);
    if (command.prefix.empty() && command.csv.empty()) {
        return vosctl::Fail(vosctl::EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                            "record needs -o PREFIX, --csv, or both");
    }

    // Where the files go is checked before the logger is opened; nothing the
    // user has is changed until it is open and has accepted the settings.
    if (command.csv == "-") {
        if (const int status = vosctl::RefuseInputAsOutput("-", {}); status != vosctl::EXIT_OK) return status;
    }
    options.prefix = command.prefix;
    const vosctl::RecordTargets targets{command.prefix, RecordLastIndex(options.sampleLimit, options.split), command.csv,
                                        command.overwrite};
    // Held until the process ends, so that no other recording takes the prefix meanwhile.
    PrefixLock prefixLock;
    if (const int status = vosctl::CheckRecordTargets(targets, prefixLock); status != vosctl::EXIT_OK) return status;
    std::unique_ptr<vosctl::Output> csv;
    if (!command.csv.empty()) {
        csv = vosctl::OpenOutput(command.csv, vosctl::Output::Mode::Stream);
        if (!csv) return vosctl::FailFile(FileError::Open, command.csv);
        options.csvFd = csv->Descriptor();
    }
    bool begun = false;
    options.beforeStream = [&](std::string& failedPath) {
        if (command.overwrite && !command.prefix.empty()) {
            if (const FileError error = vosctl::RemoveSeries(command.prefix, failedPath); error != FileError::None) {
                return error;
            }
        }
        if (csv && !csv->Begin()) {
            failedPath = command.csv;
            return FileError::Write;
        }
        begun = true;
        return FileError::None;
    };
    if (const int status = context.ChooseLogger(command.serial, options.serial); status != vosctl::EXIT_OK) {
        if (csv) csv->RemoveIfCreated();
        return status;
    }
    const D2xxApi* api = context.LoadDriver();
    // The handler keeps the flag's address for the rest of the process.
    static std::atomic<std::int32_t> stopRequest{0};
    vosctl::StopSignals::Install(stopRequest);
    options.stopFlag = &stopRequest;

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    options.onGap = [&options, terminal](const RecordGap& gap) {
        // On a terminal the line replaces the progress line, which is drawn again below it.
        std::fprintf(stderr, "%s%s\n", terminal ? "\r\033[K" : "", GapLine(gap, options.prefix).c_str());
        std::fflush(stderr);
    };
    options.onClockStep = [terminal](std::int64_t step) {
        std::fprintf(stderr, "%svosctl record: %s\n", terminal ? "\r\033[K" : "", ClockStepText(step).c_str());
        std::fflush(stderr);
    };
    const auto start = Clock::now();
    Recorder recorder(*api, options);
    vosctl::StopSignals::SetLastWords([&](int) {
        PrintAbruptEnd(recorder, options.prefix);
        prefixLock.Release();
    });
    RecordOutcome outcome;
    {
        RecordProgress progress(recorder, options.trigger.type != TRIGGER_NONE);
        outcome = recorder.Run();
    }
    vosctl::StopSignals::SetLastWords({});
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    // A CSV file created for a run that never began goes again.
    if (csv && !begun) csv->RemoveIfCreated();
    const bool csvClosed = !csv || !begun || csv->Close();

    PrintSummary(outcome, options, elapsed, context.DriverName());
    if (outcome.csvStopped) {
        vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Write),
                     (command.csv == "-" ? std::string("standard output") : command.csv) + ": " +
                         vosctl::FileErrorGloss(FileError::Write, {}, outcome.csvCause) +
                         "; the CSV stream stopped there, and the data files went on");
    }
    switch (outcome.end) {
    case RecordEnd::Device: return vosctl::FailDevice(outcome.deviceResult);
    case RecordEnd::File:
        if (outcome.failedPath.empty()) {
            // The stream was the only output: its reader leaving ends the command as it ends csv.
            return vosctl::FailFileCause(FileError::Write, command.csv, outcome.csvCause);
        }
        return vosctl::Fail(vosctl::EXIT_FILE, outcome.message,
                            RecordFileFailureText(outcome,
                                                  vosctl::FileErrorGloss(outcome.fileError, outcome.failedPath,
                                                                         outcome.fileCause),
                                                  vosctl::CauseGloss(outcome.fileCause, outcome.failedPath)));
    case RecordEnd::WriterBehind:
        return vosctl::Fail(vosctl::EXIT_OVERRUN, outcome.message,
                            "the writer fell behind the logger: all " + std::to_string(outcome.buffers) +
                                " sample buffers were waiting to be written; every sample stored so far is written");
    case RecordEnd::Done: break;
    }
    if (outcome.csvStopped) return vosctl::EXIT_FILE;
    if (!csvClosed) return vosctl::FailFile(FileError::Write, command.csv);
    const int signal = vosctl::StopSignals::Received();
    return signal != 0 ? vosctl::EXIT_SIGNAL_BASE + signal : vosctl::EXIT_OK;
}

}  // namespace

void AddRecordCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<RecordCommandOptions>();
    CLI::App* command = app.add_subcommand(
        "record", "Record without a limit but the disk: one stream, split into PREFIX-000001.dlf, PREFIX-000002.dlf, ...");
    vosctl::AddStreamOptions(*command, options->serial, options->clock, options->trigger);
    CLI::Option* duration =
        command->add_option("--duration", options->duration, "Record this long, e.g. 90s, 15m, 8h, 2d or 1h30m")
            ->type_name("TIME")
            ->check(vosctl::Check(&vosctl::ParseDuration));
    vosctl::AddWholeOption(*command, "--samples", options->samples, 1, STREAM_UNLIMITED - 1,
                           "Record this many samples per channel")
        ->excludes(duration);
    vosctl::AddWholeOption(*command, "--split", options->split, RECORD_MIN_SPLIT, DLF_MAX_SAMPLE_COUNT,
                           "Samples per file, 1000 to 1000000")
        ->capture_default_str();
    CLI::Option* csv =
        command->add_option("--csv", options->csv, "Also stream the rows of CSV-Save to this file, or - for standard output")
            ->type_name("FILE")
            ->check(vosctl::NotDataFileName("CSV"));
    // The data files always hold all four channels.
    vosctl::AddCsvChannelOption(*command, options->channel)->needs(csv);
    command->add_option("-o,--output", options->prefix, "Prefix of the data files: PREFIX-000001.dlf, ...")
        ->type_name("PREFIX")
        ->check(vosctl::NotAFolder("the prefix", "run"));
    command->add_flag("--overwrite", options->overwrite,
                      "Remove an earlier series of this prefix (its data and working files) and replace the --csv "
                      "file, once the logger is open");
    command->footer(
        "The trigger is tested once, before the first stored sample.\n"
        "Without --duration or --samples the recording runs until SIGINT (Ctrl-C), SIGTERM or SIGHUP (a\n"
        "hang-up), which write the current file with the samples it holds; a second signal ends at once.\n"
        "A prefix that has files already (data files, or working files of an interrupted recording) and an\n"
        "existing --csv file are refused before the logger is opened, unless --overwrite is given: then the\n"
        "old series is removed, and the CSV file emptied, once the logger is open. A prefix that a running\n"
        "recording holds is refused at once, with or without --overwrite. Every name of the series is tried\n"
        "before the logger is opened. If the CSV stream fails (its reader went away), only the stream\n"
        "stops: the data files go on, and the status is 4; without -o, a reader of --csv - that goes\n"
        "away ends the recording with status 141.\n"
        "On a terminal a progress line shows the elapsed time, the samples and files so far and the\n"
        "driver's largest receive queue; a summary goes to standard error at the end. View a series with\n"
        "`vosctl info PREFIX`, or export it as one table with `vosctl csv PREFIX -o all.csv`.\n\n" +
        vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunRecord(*options, context); });
}
