#pragma once

#include <atomic>
#include <cstdint>

namespace vosctl {

/// SIGINT and SIGTERM as the Stop button of a run. The first signal sets
/// `stopRequest` to 1. A second one ends the process at once with status
/// 128 + the first signal, except while the logger is open: then it is only
/// noted (Abandoned), and the run, already told to stop, closes the logger
/// and ends without writing anything.
class StopSignals {
public:
    /// Installs the handlers; `stopRequest` must outlive the process.
    static void Install(std::atomic<std::int32_t>& stopRequest);
    /// Marks the span in which the logger may be open.
    static void SetDeviceBusy(bool busy);
    /// Number of the first signal received, 0 while none was.
    static int Received();
    /// A second signal arrived while the logger was open.
    static bool Abandoned();
};

}  // namespace vosctl
