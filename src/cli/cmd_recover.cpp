// vosctl recover: the DLF files an interrupted recording would have written, from its working files.
#include <cstdio>
#include <string>
#include <memory>

#include "acquisition/recover.h"
#include "cli/commands.h"
#include "cli/progress.h"

namespace {

std::string Seconds(std::int64_t micros) {
    char text[40];
    std::snprintf(text, sizeof text, "%.4f s", static_cast<double>(micros) / 1e6);
    return text;
}

int RunRecover(const std::string& prefix) {
    const RecoveryReport report = RecoverSeries(prefix);
    std::uint64_t samples = 0;
    std::uint64_t lost = 0;
    std::uint32_t written = 0;
    std::size_t gaps = 0;
    std::size_t kept = 0;
    std::int64_t first = 0;
    std::int64_t last = 0;
    for (const RecoveredFile& file : report.files) {
        switch (file.action) {
        case RecoveredFile::Action::Written: {
            if (file.parts.empty()) {
                std::fprintf(stderr, "vosctl recover: %s: no data file was written", file.workingFile.c_str());
                break;
            }
            std::string names;
            for (const RecoveredPart& part : file.parts) names += (names.empty() ? "" : ", ") + part.dataFile;
            std::fprintf(stderr, "vosctl recover: %s: %s (%s to %s) written to %s", file.workingFile.c_str(),
                         vosctl::CountText(file.samples, "sample").c_str(), vosctl::UtcText(file.firstMicros).c_str(),
                         vosctl::UtcText(file.lastMicros).c_str(), names.c_str());
            if (written == 0) first = file.firstMicros;
            written += static_cast<std::uint32_t>(file.parts.size());
            last = file.lastMicros;
            samples += file.samples;
            break;
        }
        case RecoveredFile::Action::Complete:
            std::fprintf(stderr, "vosctl recover: %s: left over; %s was already complete (%s)",
                         file.workingFile.c_str(), file.dataFile.c_str(), vosctl::CountText(file.samples, "sample").c_str());
            break;
        case RecoveredFile::Action::Empty:
            std::fprintf(stderr, "vosctl recover: %s: no sample had reached it", file.workingFile.c_str());
            break;
        }
        if (file.repeated > 0) {
            std::fprintf(stderr, "; %s of repeated blocks were written once",
                         vosctl::CountText(file.repeated, "sample").c_str());
        }
        if (file.tailCut) {
            std::fprintf(stderr, "; a damaged tail was cut after the last good block: %s dropped",
                         vosctl::CountText(file.dropped, "sample").c_str());
        }
        if (!file.keptAs.empty()) {
            ++kept;
            std::fprintf(stderr, "; kept the working file as %s: it holds %s that are in no data file\n",
                         file.keptAs.c_str(), vosctl::CountText(file.keptSamples, "intact sample").c_str());
        } else if (file.stopped) {
            std::fprintf(stderr, "; the working file was left as it is\n");
        } else {
            std::fprintf(stderr, "; removed the working file\n");
        }
        for (const RecoveredGap& gap : file.gaps) {
            ++gaps;
            lost += gap.samples;
            std::fprintf(stderr, "vosctl recover: gap %s%s: %s lost in damaged blocks, from %s for %s\n",
                         gap.before.empty() ? "at the start, before " : ("between " + gap.before + " and ").c_str(),
                         gap.after.c_str(), vosctl::CountText(gap.samples, "sample").c_str(),
                         vosctl::UtcText(gap.fromMicros).c_str(), Seconds(gap.micros).c_str());
        }
    }
    if (report.error != FileError::None) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(report.error),
                            report.failedPath + ": " +
                                (report.reason.empty()
                                     ? vosctl::FileErrorGloss(report.error, report.failedPath, report.cause)
                                     : report.reason));
    }
    if (report.files.empty() && report.seriesFiles == 0) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Open),
                            "no file of the series " + prefix + "-NNNNNN found");
    }
    if (written == 0) {
        std::fprintf(stderr, "vosctl recover: nothing to recover: %s has %s and no working file left\n",
                     prefix.c_str(), vosctl::CountText(report.seriesFiles, "file").c_str());
    } else {
        std::fprintf(stderr, "vosctl recover: %s written, %s, %s to %s; %s has %s",
                     vosctl::CountText(written, "file").c_str(), vosctl::CountText(samples, "sample").c_str(),
                     vosctl::UtcText(first).c_str(), vosctl::UtcText(last).c_str(), prefix.c_str(),
                     vosctl::CountText(report.seriesFiles, "file").c_str());
        if (gaps > 0) {
            std::fprintf(stderr, "; %s, %s lost in damaged blocks", vosctl::CountText(gaps, "gap").c_str(),
                         vosctl::CountText(lost, "sample").c_str());
        }
        std::fprintf(stderr, "\n");
    }
    if (kept > 0) {
        return vosctl::Fail(vosctl::EXIT_FILE, FileErrorMessage(FileError::Format),
                            (kept == 1 ? std::string("1 working file was") : std::to_string(kept) + " working files were") +
                                " damaged where the intact blocks could not be put into data files; kept aside as "
                                "named above");
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
        "cut and counted. Intact blocks after a damaged one go to the next files of the series with their\n"
        "true times, and the gap is reported; where the series already has later files, the working file\n"
        "is kept as PREFIX-NNNNNN.vrec.damaged (status 4). A working file whose DLF file is already\n"
        "complete is removed; a DLF file of another recording is never touched, nor a working file of\n"
        "another recording or one that a running program holds. Running it again finds nothing to do.\n"
        "The prefix is held as a recording holds it: while a recording or another recovery works on it,\n"
        "recover changes nothing (status 4), and a record --overwrite meanwhile is refused.\n\n" +
        vosctl::ExitStatusHelp());
    command->callback([prefix, &context] { context.status = RunRecover(*prefix); });
}
