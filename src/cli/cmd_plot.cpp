// vosctl plot: the window's picture of a data file, drawn without a display.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "cli/plot_module.h"

namespace {

struct PlotOptions {
    std::string file;
    std::string output;
    bool overlay = false;
    bool panes = false;
};

// The drawing module sits beside vosctl in the build tree, and in the
// program's library folder once installed.
DrawPngFunction LoadDrawing(std::string& why) {
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string();
    folder = folder.substr(0, folder.rfind('/') + 1);
    for (const std::string& path :
         {folder + PLOT_MODULE_FILE, folder + "../" VOS_PLOT_MODULE_LIBDIR "/" + PLOT_MODULE_FILE}) {
        // The module stays loaded until the process ends.
        if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (void* entry = ::dlsym(module, PLOT_MODULE_SYMBOL)) {
                return reinterpret_cast<DrawPngFunction>(entry);
            }
        }
        const char* error = ::dlerror();
        why = error != nullptr ? error : path;
    }
    return nullptr;
}

int RunPlot(const PlotOptions& options) {
    if (const int status = vosctl::RefuseInputAsOutput(options.output, {&options.file, 1}); status != vosctl::EXIT_OK) {
        return status;
    }
    vosctl::ChannelBank bank;
    DataFileHeader header;
    if (const int status = vosctl::LoadRecord(options.file, header, bank); status != vosctl::EXIT_OK) {
        return status;
    }
    std::string why;
    const DrawPngFunction draw = LoadDrawing(why);
    if (draw == nullptr) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Open),
                            "cannot load the drawing module: " + why);
    }
    int mode = (header.displayMode & 0xFF) != 0 ? 1 : 0;
    if (options.overlay || options.panes) {
        mode = options.overlay ? 1 : 0;
    }
    std::size_t size = 0;
    const std::unique_ptr<char, decltype(&std::free)> png(
        draw(mode, bank.Channels(), header.sampleCount, header.clockDivider, &size), &std::free);
    if (!png) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Write),
                            options.output + ": the picture could not be drawn");
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    if (!output->WriteAll(png.get(), size)) {
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
        ->check(vosctl::NotDataFileName("a picture"))
        ->required();
    auto* overlay = command->add_flag("--overlay", options->overlay, "One overlay pane (default: the file's display mode)");
    command->add_flag("--panes", options->panes, "Four panes (default: the file's display mode)")->excludes(overlay);
    command->footer("The output must not be the data file, and is never a name ending in .dlf.\n\n" +
                    vosctl::ExitStatusHelp());
    command->callback([options, &context] { context.status = RunPlot(*options); });
}
