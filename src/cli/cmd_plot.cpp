// vosctl plot: the window's picture of a data file, drawn without a display.
#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QPalette>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/commands.h"
#include "cli/output.h"
#include "display/geometry.h"
#include "display/plotview.h"

namespace {

// Qt's notes about the missing desktop session are no errors of this tool;
// only critical and fatal messages reach standard error.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "vosctl: %s\n", message.toLocal8Bit().constData());
    }
}

struct PlotOptions {
    std::string file;
    std::string output;
    bool overlay = false;
    bool panes = false;
};

int RunPlot(const PlotOptions& options) {
    vosctl::ChannelBank bank;
    DataFileHeader header;
    if (const int status = vosctl::LoadRecord(options.file, header, bank); status != vosctl::EXIT_OK) {
        return status;
    }
    // The canvas needs Qt's painting but no screen.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(QuietQtMessages);
    int argc = 1;
    char name[] = "vosctl";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    int mode = (header.displayMode & 0xFF) != 0 ? 1 : 0;
    if (options.overlay || options.panes) {
        mode = options.overlay ? 1 : 0;
    }
    PlotView view(DefaultPaneGeometry(), QGuiApplication::palette().color(QPalette::Button));
    view.RedrawAll(mode, true, bank.Channels(), header.sampleCount, header.clockDivider);

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!view.Canvas().save(&buffer, "PNG")) {
        return vosctl::FailFile(FileError::Write, options.output);
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    if (!output->WriteAll(png.constData(), static_cast<std::size_t>(png.size()))) {
        return vosctl::FailFile(FileError::Write, options.output);
    }
    return vosctl::CloseOutput(*output, options.output);
}

}  // namespace

void AddPlotCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<PlotOptions>();
    CLI::App* command = app.add_subcommand(
        "plot", "Draw a data file as the window shows it after Open (PNG, the canvas of 1007 x 648 pixels)");
    command->add_option("file", options->file, "DLF data file")->type_name("FILE.dlf")->required();
    command->add_option("-o,--output", options->output, "PNG file, or - for standard output")
        ->type_name("FILE.png")
        ->required();
    auto* overlay = command->add_flag("--overlay", options->overlay, "One overlay pane (default: the file's display mode)");
    command->add_flag("--panes", options->panes, "Four panes (default: the file's display mode)")->excludes(overlay);
    command->footer(vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunPlot(*options); });
}
