#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace vosctl {

/// The signals that end a command: SIGINT, SIGTERM and SIGHUP, which a run
/// can make its Stop button, and the others whose default is to end the
/// process (SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,
/// SIGPWR, SIGXCPU, SIGSTKFLT and the real-time signals); SIGPIPE and
/// SIGXFSZ stay ignored. One thread takes them all, one after the other;
/// signals that arrive together are taken lowest number first.
/// Until a run installs its stop flag, any of them ends the command at once
/// with status 128 + the signal. A run makes the first SIGINT, SIGTERM or
/// SIGHUP its Stop button: it sets `stopRequest` to 1, and the run ends
/// keeping what it stored. A second one, or any other of them, ends the
/// process at once with status 128 + the first signal. Every way a signal
/// ends the process first removes the new files of whole-file replacements
/// not yet committed, so no hidden half-written file stays, and then calls
/// the last words a run has set.
class StopSignals {
public:
    /// Blocks the signals in the calling thread, which every thread started
    /// later inherits, and starts the thread that takes them; called once at
    /// start-up, before any other thread exists.
    static void InstallExit();
    /// Makes the first signal set `stopRequest`, which must outlive the process.
    static void Install(std::atomic<std::int32_t>& stopRequest);
    /// Number of the first signal received, 0 while none was.
    static int Received();
    /// Sets what is said and let go of when a signal ends the process at
    /// once, called on the signal thread with the exit status just before
    /// the end; an empty function removes it, waiting for a call under way.
    static void SetLastWords(std::function<void(int status)> lastWords);
};

}  // namespace vosctl
