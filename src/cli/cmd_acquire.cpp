// vosctl acquire: one acquisition with the window's semantics, written as DLF or CSV.
#include <atomic>
#include <memory>
#include <optional>
#include <unistd.h>

#include "acquisition/run.h"
#include "settings/settings.h"
#include "cli/commands.h"
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
    void CommitSettings(const AcquisitionSettings& settings) override { record = settings; }
    void ClearPanes() override {}
    void SetDataValid(bool valid) override { dataValid = valid; }
    void ResetCaptionAndSummary() override {}
    void StartLiveView(bool triggerArmed) override {
        m_progress.Start(m_flags, record.sampleCount, record.clockDivider, triggerArmed);
    }
    void CommitSampleCount(std::uint32_t count) override { record.sampleCount = count; }
    void ShowStandBy() override {}
    void ShowRecord() override {}

    AcquisitionSettings record;
    bool dataValid = false;

private:
    AcquisitionSettings m_settings;
    std::optional<std::int32_t> m_serial;
    vosctl::ProgressBar& m_progress;
    const AcquisitionFlags& m_flags;
};

int WriteRecord(const AcquireOptions& options, const AcquisitionSettings& record, const double* const channels[4]) {
    vosctl::OutputKind kind{};
    vosctl::ParseOutputKind(options.output, kind);
    if (kind == vosctl::OutputKind::Dlf) {
        DataFileHeader header;
        header.clockDivider = record.clockDivider;
        header.sampleCount = record.sampleCount;
        header.triggerChannel = record.triggerChannel;
        header.triggerType = record.triggerType;
        header.threshold = record.threshold;
        header.displayMode = 0;
        const FileError error = SaveDataFile(options.output, header, channels);
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
    std::optional<std::int32_t> serial;
    if (!options.serial.empty()) {
        std::int32_t number = 0;
        vosctl::ParseSerial(options.serial, number);
        serial = number;
    }

    const D2xxApi* api = context.LoadDriver();
    if (api == nullptr) {
        return vosctl::EXIT_DEVICE;
    }

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
    vosctl::StopSignals::SetDeviceBusy(true);
    const bool ok = RunAcquisitionSteps(api, host, bank.Channels(), flags, handle, text);
    vosctl::StopSignals::SetDeviceBusy(false);
    progress.Join();

    const int signal = vosctl::StopSignals::Received();
    if (vosctl::StopSignals::Abandoned()) {
        return vosctl::EXIT_SIGNAL_BASE + signal;
    }
    if (!ok) {
        return vosctl::Fail(vosctl::EXIT_DEVICE, text, vosctl::MessageGloss(text));
    }
    if (!host.dataValid) {
        vosctl::Fail(vosctl::EXIT_OK, ResultMessage(RESULT_OK), "stopped before the first sample; nothing written");
        return signal != 0 ? vosctl::EXIT_SIGNAL_BASE + signal : vosctl::EXIT_OK;
    }
    const int status = WriteRecord(options, host.record, bank.Channels());
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
        ->check(vosctl::Check(&vosctl::ParseCount, "COUNT"))
        ->capture_default_str();
    vosctl::AddCsvChannelOption(*command, options->channel);
    command->add_option("-o,--output", options->output, "FILE.dlf, FILE.csv, or - for CSV on standard output")
        ->type_name("FILE")
        ->required()
        ->check(vosctl::Check(&vosctl::ParseOutputKind, "FILE"));
    command->footer("A progress bar is shown on standard error when it is a terminal. SIGINT or SIGTERM\n"
                    "stops the run and writes the samples stored so far; a second SIGINT ends at once.\n\n" +
                    vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunAcquire(*options, context); });
}
