// vosctl recover: the DLF files an interrupted recording would have written, from its working files.
#include <cstdio>
#include <memory>

#include "acquisition/recover.h"
#include "cli/commands.h"
#include "cli/progress.h"

namespace {

int RunRecover(const std::string& prefix) {
    const RecoveryReport report = RecoverSeries(prefix);
    std::uint64_t samples = 0;
    std::uint32_t written = 0;
    std::int64_t first = 0;
    std::int64_t last = 0;
    for (const RecoveredFile& file : report.files) {
        switch (file.action) {
        case RecoveredFile::Action::Written:
            std::fprintf(stderr, "vosctl recover: %s: %s (%s to %s) written to %s", file.workingFile.c_str(),
                         vosctl::CountText(file.samples, "sample").c_str(), vosctl::UtcText(file.firstMicros).c_str(),
                         vosctl::UtcText(file.lastMicros).c_str(), file.dataFile.c_str());
            if (written++ == 0) first = file.firstMicros;
            last = file.lastMicros;
            samples += file.samples;
            break;
        case RecoveredFile::Action::Complete:
            std::fprintf(stderr, "vosctl recover: %s: left over; %s was already complete (%s)",
                         file.workingFile.c_str(), file.dataFile.c_str(), vosctl::CountText(file.samples, "sample").c_str());
            break;
        case RecoveredFile::Action::Empty:
            std::fprintf(stderr, "vosctl recover: %s: no sample had reached it", file.workingFile.c_str());
            break;
        }
        if (file.tailCut) {
            std::fprintf(stderr, "; a damaged tail was cut after the last good block: %s dropped",
                         vosctl::CountText(file.dropped, "sample").c_str());
        }
        std::fprintf(stderr, "; removed the working file\n");
    }
    if (report.error != FileError::None) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(report.error),
                            report.failedPath + ": " +
                                (report.reason.empty() ? vosctl::FileErrorGloss(report.error) : report.reason));
    }
    if (report.files.empty() && report.seriesFiles == 0) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Open),
                            "no file of the series " + prefix + "-NNNNNN found");
    }
    if (written == 0) {
        std::fprintf(stderr, "vosctl recover: nothing to recover: %s has %s and no working file left\n",
                     prefix.c_str(), vosctl::CountText(report.seriesFiles, "file").c_str());
    } else {
        std::fprintf(stderr, "vosctl recover: %s written, %s, %s to %s; %s has %s\n",
                     vosctl::CountText(written, "file").c_str(), vosctl::CountText(samples, "sample").c_str(),
                     vosctl::UtcText(first).c_str(), vosctl::UtcText(last).c_str(), prefix.c_str(),
                     vosctl::CountText(report.seriesFiles, "file").c_str());
    }
    return vosctl::EXIT_OK;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, vosctl::Context& context) {
    auto prefix = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "recover", "Turn the working files PREFIX-NNNNNN.vrec that an interrupted record left into its DLF files");
    command->add_option("PREFIX", *prefix, "The prefix the recording was given with -o")->required();
    command->footer(
        "Every sample that reached the disk is kept, in order; a damaged tail after the last good block is\n"
        "cut and counted. A working file whose DLF file is already complete is removed; a DLF file of\n"
        "another recording is never touched, nor a working file that a running program holds. Running it\n"
        "again finds nothing to do.\n\n" +
        vosctl::ExitStatusHelp());
    command->callback([prefix, &context] { context.status = RunRecover(*prefix); });
}
