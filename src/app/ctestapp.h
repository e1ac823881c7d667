#pragma once

class CtestDlg;
class QCommandLineParser;

/// Adds vosviewer's file arguments to `parser`: FILE... opened at start.
void AddFileArguments(QCommandLineParser& parser);

/// Opens the files `parser` found on the command line in `window`, as Open
/// does: one file as a data file, several as one record in the order given.
void OpenFileArguments(CtestDlg& window, const QCommandLineParser& parser);

/// The application object: runs the main window modally and ends with it.
class CtestApp {
public:
    /// Builds the window on the system's D2XX driver, runs it and returns the
    /// process exit code once it has ended.
    int InitInstance(int argc, char** argv);
};
