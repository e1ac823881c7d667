#pragma once

#include <string>

class QApplication;

/// The application object: runs the main window modally and ends with it.
class CtestApp {
public:
    /// Builds the window on the D2XX driver, runs it and returns the process
    /// exit code once it has ended.
    int InitInstance(int argc, char** argv);

private:
    /// The library named by --driver PATH, or libftd2xx.so through the
    /// system's library search path; --help prints the options and ends.
    static std::string DriverLibraryName(const QApplication& application);
};
