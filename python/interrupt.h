#pragma once
// Long work from Python: run with the GIL released, and stopped by Ctrl-C
// (KeyboardInterrupt) as SIGINT stops vosctl.
#include <chrono>
#include <functional>
#include <optional>

#include <pybind11/pybind11.h>

namespace vospy {

/// How often a waiting interpreter looks for Ctrl-C.
constexpr auto SIGNAL_POLL = std::chrono::milliseconds(50);

/// Python's signal check with the GIL held; a pending exception is kept in
/// `pending` (fetched), so that more Python can run before it is raised.
bool SignalArrived(std::optional<pybind11::error_already_set>& pending);

/// Runs `work` on its own thread and waits for it with the GIL released,
/// calling `poll` (with the GIL) every SIGNAL_POLL meanwhile. A signal's
/// exception (KeyboardInterrupt) or one of `poll` calls `stop` and is raised
/// once the work has ended. An exception of `work` is raised as it is.
void RunInterruptible(const std::function<void()>& work, const std::function<void()>& stop,
                      const std::function<void()>& poll = {});

}  // namespace vospy
