#pragma once

#include <csignal>

/// Signals that end the window as their default action would, after
/// removing the new file of every save or export not yet complete.
inline constexpr int ENDING_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM};

/// Installs the handler of ENDING_SIGNALS: it removes the hidden new file of
/// any Save, CSV-Save or picture not yet committed (RemoveUncommittedFiles),
/// so that an old file stays as it was and nothing is left beside it, then
/// ends the program by the same signal. Call once at start-up, before any
/// thread is started.
void RemoveUnfinishedFilesOnSignals();
