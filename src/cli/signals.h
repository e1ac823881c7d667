#pragma once

#include <atomic>
#include <cstdint>

namespace vosctl {

/// SIGINT, SIGTERM and SIGHUP. Until a run installs its stop flag, any of
/// them ends the command at once with status 128 + the signal. A run makes
/// the first one its Stop button: it sets `stopRequest` to 1, and the run
/// ends keeping what it stored. A second signal always ends the process at
/// once with status 128 + the first signal. Every way a signal ends the
/// process first removes the new files of whole-file replacements not yet
/// committed, so no hidden half-written file stays.
class StopSignals {
public:
    /// Installs the handlers that end the command; called once at start-up.
    static void InstallExit();
    /// Makes the first signal set `stopRequest`, which must outlive the process.
    static void Install(std::atomic<std::int32_t>& stopRequest);
    /// Number of the first signal received, 0 while none was.
    static int Received();
};

}  // namespace vosctl
