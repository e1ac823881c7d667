// vosctl plot: the window's picture of a data file, drawn without a display.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "cli/plot_module.h"
#include "cli/progress.h"
#include "cli/sample_range.h"
#include "cli/series_summaries.h"
#include "record/part_source.h"

namespace {

struct PlotOptions {
    std::vector<std::string> files;
    std::string output;
    bool overlay = false;
    bool panes = false;
    std::string from;
    std::string to;
};

// The drawing module sits beside vosctl in the build tree, and in the
// program's library folder once installed; a copy of vosctl elsewhere finds
// the installed package's. Its entry `symbol`, or null with `why` naming the
// cause: a module that would not load, or every place looked in.
void* LoadDrawing(const char* symbol, std::string& why) {
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string();
    folder = folder.substr(0, folder.rfind('/') + 1);
    std::string looked;
    const std::string installed = std::filesystem::path(folder + "../" VOS_PLOT_MODULE_LIBDIR "/" + PLOT_MODULE_FILE)
                                      .lexically_normal()
                                      .string();
    for (const std::string& path :
         {folder + PLOT_MODULE_FILE, installed, std::string(VOS_PLOT_MODULE_FULL_LIBDIR "/") + PLOT_MODULE_FILE}) {
        if (::access(path.c_str(), F_OK) != 0) {
            looked += (looked.empty() ? "" : ", ") + path;
            continue;
        }
        // The module stays loaded until the process ends.
        if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (void* entry = ::dlsym(module, symbol)) {
                return entry;
            }
        }
        const char* error = ::dlerror();
        why = error != nullptr ? error : path;
        return nullptr;
    }
    why = std::string(PLOT_MODULE_FILE) + " is in none of " + looked +
          "; run the vosctl of the build tree (src/cli/vosctl) or of the package, or copy " + PLOT_MODULE_FILE +
          " beside this vosctl";
    return nullptr;
}

int CannotLoad(const std::string& why) {
    return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Open), "cannot load the drawing module: " + why);
}

// The display mode: the option's, else the (first) file's.
int DisplayMode(const PlotOptions& options, const DataFileHeader& header) {
    if (options.overlay || options.panes) {
        return options.overlay ? 1 : 0;
    }
    return (header.displayMode & 0xFF) != 0 ? 1 : 0;
}

int NotDrawn(const PlotOptions& options) {
    return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Write),
                        options.output + ": the picture could not be drawn");
}

// Writes the picture `png` of `size` bytes, null when it could not be drawn,
// to the open `output`.
int WritePicture(vosctl::Output& output, const PlotOptions& options, char* png, std::size_t size) {
    const std::unique_ptr<char, decltype(&std::free)> owned(png, &std::free);
    if (!owned) {
        return NotDrawn(options);
    }
    if (!output.WriteAll(owned.get(), size)) {
        return vosctl::FailOutput(output, options.output);
    }
    return vosctl::CloseOutput(output, options.output);
}

int RunPlotFile(const PlotOptions& options) {
    const std::string& file = options.files.front();
    vosctl::ChannelBank bank;
    DataFileHeader header;
    if (const int status = vosctl::LoadRecord(file, header, bank); status != vosctl::EXIT_OK) {
        return status;
    }
    std::string why;
    const auto draw = reinterpret_cast<DrawPngFunction>(LoadDrawing(PLOT_MODULE_SYMBOL, why));
    if (draw == nullptr) {
        return CannotLoad(why);
    }
    std::size_t size = 0;
    char* png = draw(DisplayMode(options, header), bank.Channels(), header.sampleCount, header.clockDivider, &size);
    if (png == nullptr) {
        return NotDrawn(options);
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        std::free(png);
        return vosctl::FailFile(FileError::Open, options.output);
    }
    return WritePicture(*output, options, png, size);
}

// Several files, or a part (--from/--to): one record read on demand through
// its summaries, never held in memory. The files are checked and the output
// opened before the summaries are taken, which may read every file once. A
// part is drawn as a record of its own, through summaries of the part built
// on every core (a part is not cached).
int RunPlotSeries(const PlotOptions& options) {
    vosctl::RecordPart range;
    if (const int status = vosctl::LoadRecordPart(options.files, options.from, options.to, "written", range);
        status != vosctl::EXIT_OK) {
        return status;
    }
    const std::vector<DataFileHeader>& headers = range.headers;
    const bool part = !options.from.empty() || !options.to.empty();
    vosctl::WarnOfGaps("plot", options.files, headers);
    std::string why;
    const auto draw = reinterpret_cast<DrawSeriesPngFunction>(LoadDrawing(PLOT_MODULE_SERIES_SYMBOL, why));
    if (draw == nullptr) {
        return CannotLoad(why);
    }
    const auto output = vosctl::OpenOutput(options.output);
    if (!output) {
        return vosctl::FailFile(FileError::Open, options.output);
    }
    SeriesSource series;
    SummaryPyramid summaries;
    if (!part) {
        if (const int status = vosctl::OpenSeriesSummaries(options.files, series, summaries);
            status != vosctl::EXIT_OK) {
            return status;
        }
        std::size_t size = 0;
        char* png = draw(DisplayMode(options, headers.front()), series, summaries, &size);
        return WritePicture(*output, options, png, size);
    }
    if (series.Open(options.files) != FileError::None) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read),
                            "the files could not be read as one record");
    }
    const PartSource source(series, range.first,
                            range.last - range.first);
    SummaryProgress progress;
    vosctl::CountProgress line(stderr, ::isatty(STDERR_FILENO) == 1, "summaries", progress.done, source.Count());
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const SummaryResult result = BuildSummaries(source, SummaryShape{}, threads, progress, summaries);
    line.Finish();
    if (result != SummaryResult::Done) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Read), "a file of the series could not be read");
    }
    std::size_t size = 0;
    char* png = draw(DisplayMode(options, headers.front()), source, summaries, &size);
    return WritePicture(*output, options, png, size);
}

int RunPlot(const PlotOptions& options) {
    if (const int status = vosctl::RefuseInputAsOutput(options.output, options.files); status != vosctl::EXIT_OK) {
        return status;
    }
    if (const int status = vosctl::RefuseRepeatedOrOutOfOrder(options.files, "nothing was written");
        status != vosctl::EXIT_OK) {
        return status;
    }
    const bool part = !options.from.empty() || !options.to.empty();
    return options.files.size() == 1 && !part ? RunPlotFile(options) : RunPlotSeries(options);
}

}  // namespace

void AddPlotCommand(CLI::App& app, vosctl::Context& context) {
    auto options = std::make_shared<PlotOptions>();
    CLI::App* command = app.add_subcommand(
        "plot", "Draw data files as the window shows them after Open (PNG, the canvas of 1007 x 648 pixels); "
                "several files as one record");
    command->add_option("files", options->files, "DLF data files in recording order, or a recording's PREFIX for its PREFIX-NNNNNN.dlf")
        ->type_name("FILE.dlf")
        ->required();
    command->add_option("-o,--output", options->output, "PNG file, or - for standard output")
        ->type_name("FILE.png")
        ->check(vosctl::NotDataFileName("a picture"))
        ->required();
    auto* overlay =
        command->add_flag("--overlay", options->overlay, "One overlay pane (default: the first file's display mode)");
    command->add_flag("--panes", options->panes, "Four panes (default: the first file's display mode)")->excludes(overlay);
    vosctl::AddRangeOptions(*command, options->from, options->to);
    command->footer("Several files, such as a night's recording (vosctl plot night-*.dlf -o night.png),\n"
                    "are drawn as one record, as the window opens them. They must form one record:\n"
                    "the same clock throughout, and files that a recording stamped all of one\n"
                    "recording, in order, without a repeat; otherwise nothing is written. Gaps\n"
                    "where the recorder lost frames are allowed: the samples are drawn joined.\n"
                    "They are read through their min/max summaries, cached as the window caches\n"
                    "them (and built first, on every core, with a progress line on a terminal), so\n"
                    "no series is held in memory. The output must be none of the files, and is\n"
                    "never a name ending in .dlf.\n\n" +
                    vosctl::RangeHelp() + vosctl::SummaryCacheHelp() + vosctl::ExitStatusHelp());
    command->callback([options, &context] {
        context.status = vosctl::ExpandSeriesArguments(options->files);
        if (context.status == vosctl::EXIT_OK) context.status = RunPlot(*options);
    });
}
