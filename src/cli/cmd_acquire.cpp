// vosctl acquire: one acquisition with the window's semantics, written as DLF or CSV.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "acquisition/run.h"
#include "settings/settings.h"
#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/signals.h"
#include "device/access.h"
#include "files/dlf.h"

namespace {

struct AcquireOptions {
    std::string serial;
    std::string clock = CLOCK_TEXTS[0];
    std::string count = std::to_string(DEFAULT_SAMPLE_COUNT);
    std::string trigger;
    std::string channel = CSV_CHANNEL_TEXTS[CSV_CHANNEL_ALL];
    std::string output;
    bool channelGiven = false;
};

// What the run asks of whoever shows it, answered without a window: the
// settings come from the command line, the progress bar stands in for the
// live view, and the record is kept for writing.
class ToolHost : public AcquisitionHost {
public:
    ToolHost(const AcquisitionSettings& settings, std::optional<std::int32_t> serial, vosctl::ProgressBar& progress,
             const AcquisitionFlags& flags)
        : m_settings(settings), m_serial(serial), m_progress(progress), m_flags(flags) {}

    AcquisitionSettings ReadSettings() override { return m_settings; }
    std::optional<std::int32_t> SelectedSerial() override { return m_serial; }
    void Started(const AcquisitionSettings& settings, bool triggerArmed) override {
        record = settings;
        committed = true;
        m_progress.Start(m_flags, record.sampleCount, record.clockDivider, triggerArmed);
    }
    void Ended(const AcquisitionOutcome& outcome) override {
        if (outcome.failed) return;
        record.sampleCount = outcome.stored;
        dataValid = outcome.stored > 0;
    }

    AcquisitionSettings record;
    bool committed = false;  ///< the logger was open and the record took the settings
    bool dataValid = false;

private:
    AcquisitionSettings m_settings;
    std::optional<std::int32_t> m_serial;
    vosctl::ProgressBar& m_progress;
    const AcquisitionFlags& m_flags;
};

// Characters of the output's name kept in a recovery file's name, which must stay within 255 bytes.
constexpr std::size_t RECOVERY_STEM_MAX = 200;

DataFileHeader RecordHeader(const AcquisitionSettings& record) {
    DataFileHeader header;
    header.clockDivider = record.clockDivider;
    header.sampleCount = record.sampleCount;
    header.triggerChannel = record.triggerChannel;
    header.triggerType = record.triggerType;
    header.threshold = record.threshold;
    header.displayMode = 0;
    return header;
}

int WriteRecord(const AcquireOptions& options, const AcquisitionSettings& record, const double* const channels[4]) {
    vosctl::OutputKind kind{};
    vosctl::ParseOutputKind(options.output, kind);
    if (kind == vosctl::OutputKind::Dlf) {
        const FileError error = SaveDataFile(options.output, RecordHeader(record), channels);
        return error == FileError::None ? vosctl::EXIT_OK : vosctl::FailFile(error, options.output);
    }
    int selection = CSV_CHANNEL_ALL;
    vosctl::ParseCsvChannel(options.channel, selection);
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    const int status = vosctl::WriteCsvRecord(*output, options.output, selection, record.sampleCount, channels);
    return status != vosctl::EXIT_OK ? status : vosctl::CloseOutput(*output, options.output);
}

// The record the output could not take, as a data file beside the output or
// else in the temporary folder, under a name not in use. "" when neither took it.
std::string KeepInRecoveryFile(const std::string& output, const AcquisitionSettings& record,
                               const double* const channels[4]) {
    const std::filesystem::path target(output == "-" ? "vosctl-acquire" : output);
    const std::string name = target.stem().string().substr(0, RECOVERY_STEM_MAX) + "-recovered-" +
                             std::to_string(::getpid()) + ".dlf";
    const char* temporary = std::getenv("TMPDIR");
    const std::string folders[] = {target.parent_path().string(),
                                   temporary != nullptr && *temporary != '\0' ? temporary : "/tmp"};
    for (const std::string& folder : folders) {
        const std::string path = (folder.empty() ? "" : folder + "/") + name;
        std::error_code error;
        if (!std::filesystem::exists(path, error) && !error &&
            SaveDataFile(path, RecordHeader(record), channels) == FileError::None) {
            return path;
        }
    }
    return {};
}

// Writes the record; when the output fails, keeps it in a recovery file and says where.
// Data for a pipe whose reader went away was meant for that reader alone: none is kept.
int WriteOrKeep(const AcquireOptions& options, const AcquisitionSettings& record, const double* const channels[4]) {
    const int status = WriteRecord(options, record, channels);
    if (status == vosctl::EXIT_OK || status == vosctl::EXIT_PIPE) {
        return status;
    }
    const std::string kept = KeepInRecoveryFile(options.output, record, channels);
    if (kept.empty()) {
        std::fprintf(stderr, "vosctl: the %s could not be kept in a recovery file either\n",
                     vosctl::CountText(record.sampleCount, "sample").c_str());
    } else {
        std::fprintf(stderr, "vosctl: the %s %s kept in %s\n", vosctl::CountText(record.sampleCount, "sample").c_str(),
                     record.sampleCount == 1 ? "is" : "are", kept.c_str());
    }
    return status;
}

int RunAcquire(const AcquireOptions& options, vosctl::Context& context) {
    AcquisitionSettings settings;
    vosctl::ParseClock(options.clock, settings.clockDivider);
    vosctl::ParseCount(options.count, settings.sampleCount);
    if (!options.trigger.empty()) {
        vosctl::TriggerChoice trigger;
        vosctl::ParseTrigger(options.trigger, trigger);
        settings.triggerChannel = trigger.channel;
        settings.triggerType = trigger.type;
        settings.threshold = trigger.threshold;
    }
    vosctl::OutputKind kind{};
    vosctl::ParseOutputKind(options.output, kind);
    if (options.channelGiven && kind == vosctl::OutputKind::Dlf) {
        return vosctl::Fail(vosctl::EXIT_USAGE, ResultMessage(RESULT_INVALID_PARAMETER),
                            "--channel chooses the columns of CSV; a .dlf output always holds all four channels");
    }
    // The output is tried before the logger starts, not found wanting after the run.
    if (options.output == "-") {
        if (const int status = vosctl::RefuseInputAsOutput("-", {}); status != vosctl::EXIT_OK) {
            return status;
        }
    } else {
        bool beside = false;
        if (const int error = vosctl::ProbeReplaceable(options.output, beside); error != 0) {
            const std::string cause =
                beside ? "a new file to replace it cannot be created in its folder: " +
                             vosctl::CauseGloss(error, options.output)
                       : vosctl::FileErrorGloss(FileError::Open, options.output, error);
            return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Open),
                                options.output + ": " + cause + "; checked before the logger starts");
        }
    }
    std::optional<std::int32_t> serial;
    if (const int status = context.ChooseLogger(options.serial, serial); status != vosctl::EXIT_OK) {
        return status;
    }
    const D2xxApi* api = context.LoadDriver();

    // The handler keeps the flag's address for the rest of the process.
    static std::atomic<std::int32_t> stopRequest{0};
    std::atomic<std::uint32_t> acquiredCount{0};
    std::atomic<bool> acqFinished{false};
    std::atomic<bool> liveViewEnded{false};
    const AcquisitionFlags flags{stopRequest, acquiredCount, acqFinished, liveViewEnded};
    vosctl::StopSignals::Install(stopRequest);

    vosctl::ChannelBank bank(settings.sampleCount);
    vosctl::ProgressBar progress(stderr, ::isatty(STDERR_FILENO) == 1);
    ToolHost host(settings, serial, progress, flags);
    FT_HANDLE handle = nullptr;
    std::string text;
    const bool ok = RunAcquisitionSteps(api, host, bank.Channels(), flags, handle, text);
    progress.Join();

    const int signal = vosctl::StopSignals::Received();
    if (!ok) {
        // A logger that failed part-way leaves what it sent, written as Stop would.
        // The message says what is on disk: the samples and where, or that the output is untouched.
        const std::uint32_t stored = flags.acquiredCount.load();
        const std::string where = options.output == "-" ? "were written to standard output" : "are in " + options.output;
        std::string kept;
        if (host.committed && stored > 0) {
            host.record.sampleCount = stored;
            if (WriteOrKeep(options, host.record, bank.Channels()) == vosctl::EXIT_OK) {
                kept = "; the " + vosctl::CountText(stored, "sample") + " received before it " + where;
            }
        } else if (host.committed) {
            kept = "; no sample was received, nothing written";
        }
        return vosctl::Fail(vosctl::EXIT_DEVICE, text, vosctl::MessageGloss(text) + kept);
    }
    if (!host.dataValid) {
        vosctl::Fail(vosctl::EXIT_OK, ResultMessage(RESULT_OK), "stopped before the first sample; nothing written");
        return signal != 0 ? vosctl::EXIT_SIGNAL_BASE + signal : vosctl::EXIT_OK;
    }
    const int status = WriteOrKeep(options, host.record, bank.Channels());
    if (status != vosctl::EXIT_OK) {
        return status;
    }
    return signal != 0 ? vosctl::EXIT_SIGNAL_BASE + signal : vosctl::EXIT_OK;
}

}  // namespace

void AddAcquireCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<AcquireOptions>();
    CLI::App* command = app.add_subcommand(
        "acquire", "Run one acquisition as Start does and write the record (.dlf as Save, .csv or - as CSV-Save)");
    vosctl::AddStreamOptions(*command, options->serial, options->clock, options->trigger);
    command->add_option("--count", options->count, "Sampling Count, 1 to 1000000")
        ->type_name("N")
        ->check(vosctl::Check(&vosctl::ParseCount))
        ->capture_default_str();
    CLI::Option* channel = vosctl::AddCsvChannelOption(*command, options->channel);
    command->add_option("-o,--output", options->output, "FILE.dlf, FILE.csv, or - for CSV on standard output")
        ->type_name("FILE")
        ->required()
        ->check(vosctl::NotAFolder("the output", "run.dlf"))
        ->check(vosctl::Check(&vosctl::ParseOutputKind));
    command->footer("A progress bar is shown on standard error when it is a terminal. SIGINT, SIGTERM or\n"
                    "SIGHUP stops the run and writes the samples stored so far; a second signal ends at once.\n"
                    "The output is tried before the logger starts. A logger that fails part-way leaves the\n"
                    "samples it sent, written as Stop writes them (status 3). Should the output fail after the\n"
                    "run, the record is kept in NAME-recovered-PID.dlf beside it or in $TMPDIR (or /tmp);\n"
                    "not for -, when the reader of standard output went away (status 141).\n"
                    "--channel applies to CSV only.\n\n" +
                    vosctl::ExitStatusHelp());
    command->callback([options, channel, &context] {
        options->channelGiven = channel->count() > 0;
        context.status = RunAcquire(*options, context);
    });
}
