#include "cli/signals.h"

#include <csignal>
#include <unistd.h>

#include "cli/cli.h"

namespace vosctl {

namespace {

// Only lock-free atomics are touched by the handler.
std::atomic<std::int32_t>* g_stopRequest = nullptr;
std::atomic<int> g_first{0};
std::atomic<bool> g_abandoned{false};
std::atomic<bool> g_deviceBusy{false};

extern "C" void OnStopSignal(int signal) {
    int none = 0;
    if (g_first.compare_exchange_strong(none, signal)) {
        g_stopRequest->store(1, std::memory_order_release);
        return;
    }
    g_abandoned.store(true);
    if (!g_deviceBusy.load()) {
        ::_exit(EXIT_SIGNAL_BASE + g_first.load());
    }
}

}  // namespace

void StopSignals::Install(std::atomic<std::int32_t>& stopRequest) {
    static_assert(std::atomic<std::int32_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free);
    g_stopRequest = &stopRequest;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted driver reads and file writes go on; the stop flag ends the run.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void StopSignals::SetDeviceBusy(bool busy) { g_deviceBusy.store(busy); }

int StopSignals::Received() { return g_first.load(); }

bool StopSignals::Abandoned() { return g_abandoned.load(); }

}  // namespace vosctl
