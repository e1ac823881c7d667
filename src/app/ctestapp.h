#pragma once

#include <string>
#include <vector>

class CtestDlg;
class QCommandLineParser;
class QString;

/// Adds vosviewer's file arguments to `parser`: FILE... opened at start.
void AddFileArguments(QCommandLineParser& parser);

/// Opens the files `parser` found on the command line in `window`, as Open
/// does: one file as a data file, several as one record in the order given.
/// `raw` is the command line as bytes: a name that is no UTF-8 is taken from
/// it as it was given.
void OpenFileArguments(CtestDlg& window, const QCommandLineParser& parser, const std::vector<std::string>& raw = {});

/// The bytes of the command-line value `value` as given in `raw` (itself,
/// or after "--option="); its UTF-8 when `raw` has none that reads as it.
std::string RawArgument(const QString& value, const std::vector<std::string>& raw);

/// The application object: runs the main window modally and ends with it.
class CtestApp {
public:
    /// Builds the window on the system's D2XX driver, runs it and returns the
    /// process exit code once it has ended.
    int InitInstance(int argc, char** argv);
};
