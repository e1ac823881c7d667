#include "app/ctestapp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string_view>

#include "app/ctestdlg.h"
#include "doctor/paths.h"
#include "files/file.h"
#include "files/series_names.h"
#include "vos/version.h"

void AddFileArguments(QCommandLineParser& parser) {
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QStringLiteral("Data files to open: one as Open opens it, several (such as a recording's "
                       "PREFIX-000001.dlf PREFIX-000002.dlf ...) as one record, in the order given; a "
                       "recording's PREFIX alone opens all its PREFIX-NNNNNN.dlf in order. A file or the "
                       "PREFIX of a recording still running shows it whole and follows it."),
        QStringLiteral("[FILE.dlf|PREFIX...]"));
}

std::string RawArgument(const QString& value, const std::vector<std::string>& raw) {
    // Qt's text of a name that is no UTF-8 has lost its bytes: they are found where they were given.
    for (const std::string& argument : raw) {
        if (QFile::decodeName(QByteArray::fromStdString(argument)) == value) return argument;
        const std::size_t equals = argument.find('=');
        if (argument.starts_with("--") && equals != std::string::npos &&
            QFile::decodeName(QByteArray::fromStdString(argument.substr(equals + 1))) == value) {
            return argument.substr(equals + 1);
        }
    }
    return QFile::encodeName(value).toStdString();
}

void OpenFileArguments(CtestDlg& window, const QCommandLineParser& parser, const std::vector<std::string>& raw) {
    std::vector<std::string> arguments;
    for (const QString& argument : parser.positionalArguments()) arguments.push_back(RawArgument(argument, raw));
    // A recording's prefix opens its whole series, and one still recorded is followed; a name that is
    // also a file stays that file.
    window.OpenFileNames(ExpandPrefixes(arguments).files);
}

namespace {

// vosviewer's options: the same for the window and for --help and --version.
struct CommandLine {
    QCommandLineParser parser;
    const QCommandLineOption driver{
        QStringLiteral("driver"),
        QStringLiteral("Load this D2XX driver library instead of libftd2xx.so from the library search path."),
        QStringLiteral("PATH")};
    const QCommandLineOption simulator{
        QStringLiteral("simulator"),
        QStringLiteral("Load the simulated logger (package vosviewer-sim; from a build tree, the one built there).")};
    const QCommandLineOption follow{
        QStringLiteral("follow"),
        QStringLiteral("Show the recording of the series PREFIX (vosctl record -o PREFIX) while it runs, growing with it; "
                       "once it ends, its whole series. One that has not started yet is waited for."),
        QStringLiteral("PREFIX")};

    CommandLine() {
        QCoreApplication::setApplicationName(QStringLiteral("VOS Viewer"));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(VOS_VERSION));
        parser.setApplicationDescription(
            QStringLiteral("Records and shows the four channels of a VOS-12 or VOS-16 logger."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(driver);
        parser.addOption(simulator);
        parser.addOption(follow);
        AddFileArguments(parser);
    }
};

// Whether the command line asks for the help or the version text, which Qt's parser prints and ends with.
bool AsksForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") break;
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (argument == option) return true;
        }
    }
    return false;
}

}  // namespace

int CtestApp::InitInstance(int argc, char** argv) {
    // A save into a closed pipe or past the file-size limit must fail with a
    // message, not end the program with an unsaved recording.
    IgnoreFileSignals();
    if (AsksForText(argc, argv)) {
        // Printed without the window's application, which needs a display.
        QCoreApplication application(argc, argv);
        CommandLine line;
        line.parser.process(application);
        return 0;
    }
    QApplication application(argc, argv);
    CommandLine line;
    QCommandLineParser& parser = line.parser;
    const QCommandLineOption& driver = line.driver;
    const QCommandLineOption& simulator = line.simulator;
    const QCommandLineOption& follow = line.follow;
    parser.process(application);
    if (parser.isSet(simulator) && parser.isSet(driver)) {
        std::fprintf(stderr, "vosviewer: --simulator and --driver exclude each other\n");
        return 2;
    }
    std::string library = parser.isSet(driver) ? parser.value(driver).toStdString() : D2XX_LIBRARY_NAME;
    if (parser.isSet(simulator)) {
        library = vosdoctor::SimulatorLibraryPath();
    }
    // The window holds 32 MB of samples; it lives on the heap at a stable address.
    auto dialog = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver(library));
    if (!qEnvironmentVariableIsSet("VOS_VIEWER_QUIT_WHEN_SHOWN")) {
        // Once the window is shown, the runs an earlier start did not live to end.
        QTimer::singleShot(0, dialog.get(), [window = dialog.get()] { window->OfferLeftoverRuns(); });
    } else {
        // For the package test: report the shown window and the driver it found, then end.
        QTimer::singleShot(0, dialog.get(), [window = dialog.get(), library] {
            if (window->isVisible()) {
                std::printf("window shown; driver %s %s\n", library.c_str(),
                            ProbeDriverLibrary(library.c_str()) ? "loaded" : "not loaded");
                std::fflush(stdout);
            }
            window->done(0);
        });
    }
    // The files open once the window is shown, so their progress and messages show in it.
    int status = 0;
    const std::vector<std::string> raw(argv, argv + argc);
    QTimer::singleShot(0, dialog.get(), [window = dialog.get(), &parser, &follow, &status, &raw] {
        if (parser.isSet(follow)) {
            std::string message;
            // Refused as a command's argument is: on stderr, with a status a script can test.
            if (!window->FollowRecording(RawArgument(parser.value(follow), raw), message)) {
                std::fprintf(stderr, "vosviewer: %s: %s\n", parser.value(follow).toLocal8Bit().constData(), message.c_str());
                status = 1;
                window->done(0);
            }
            return;
        }
        OpenFileArguments(*window, parser, raw);
    });
    dialog->exec();
    dialog.reset();
    return status;
}
