#pragma once

/// The application object: runs the main window modally and ends with it.
class CtestApp {
public:
    /// Builds the window on the system's D2XX driver, runs it and returns the
    /// process exit code once it has ended.
    int InitInstance(int argc, char** argv);
};
