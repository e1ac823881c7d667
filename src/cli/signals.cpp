#include "cli/signals.h"

#include <csignal>
#include <unistd.h>

#include "cli/cli.h"
#include "files/file.h"

namespace vosctl {

namespace {

// Only lock-free atomics are touched by the handler.
std::atomic<std::atomic<std::int32_t>*> g_stopRequest{nullptr};
std::atomic<int> g_first{0};

[[noreturn]] void EndNow(int status) {
    RemoveUncommittedFiles();
    ::_exit(status);
}

extern "C" void OnSignal(int signal) {
    std::atomic<std::int32_t>* stopRequest = g_stopRequest.load();
    int none = 0;
    if (stopRequest == nullptr) {
        EndNow(EXIT_SIGNAL_BASE + signal);
    }
    if (g_first.compare_exchange_strong(none, signal)) {
        stopRequest->store(1, std::memory_order_release);
        return;
    }
    EndNow(EXIT_SIGNAL_BASE + g_first.load());
}

}  // namespace

void StopSignals::InstallExit() {
    static_assert(std::atomic<std::atomic<std::int32_t>*>::is_always_lock_free &&
                  std::atomic<std::int32_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted driver reads and file writes go on; the stop flag ends a run.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

void StopSignals::Install(std::atomic<std::int32_t>& stopRequest) { g_stopRequest.store(&stopRequest); }

int StopSignals::Received() { return g_first.load(); }

}  // namespace vosctl
