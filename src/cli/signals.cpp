#include "cli/signals.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "cli/cli.h"
#include "files/file.h"

namespace vosctl {

namespace {

std::atomic<std::atomic<std::int32_t>*> g_stopRequest{nullptr};
std::atomic<int> g_first{0};
std::atomic<pid_t> g_signalThread{0};
std::mutex g_lastWordsMutex;
std::function<void(int)> g_lastWords;

bool IsStopSignal(int signal) { return signal == SIGINT || signal == SIGTERM || signal == SIGHUP; }

sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,
                             SIGPWR, SIGXCPU, SIGSTKFLT}) {
        sigaddset(&set, signal);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
    return set;
}

[[noreturn]] void EndNow(int status) {
    RemoveUncommittedFiles();
    {
        const std::lock_guard lock(g_lastWordsMutex);
        if (g_lastWords) g_lastWords(status);
    }
    ::_exit(status);
}

void TakeSignals(sigset_t set) {
    g_signalThread.store(static_cast<pid_t>(::syscall(SYS_gettid)));
    for (;;) {
        const int signal = ::sigwaitinfo(&set, nullptr);
        if (signal <= 0) continue;
        int none = 0;
        const bool first = g_first.compare_exchange_strong(none, signal);
        std::atomic<std::int32_t>* stopRequest = g_stopRequest.load();
        if (first && stopRequest != nullptr && IsStopSignal(signal)) {
            stopRequest->store(1, std::memory_order_release);
            continue;
        }
        EndNow(EXIT_SIGNAL_BASE + g_first.load());
    }
}

// A thread that did not block the signals (one a library started with its
// own mask) hands them on to the signal thread.
extern "C" void HandOn(int signal) {
    const pid_t thread = g_signalThread.load();
    if (thread != 0) ::syscall(SYS_tgkill, ::getpid(), thread, signal);
}

}  // namespace

void StopSignals::InstallExit() {
    static_assert(std::atomic<std::atomic<std::int32_t>*>::is_always_lock_free &&
                  std::atomic<std::int32_t>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);
    const sigset_t set = EndingSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    struct sigaction action {};
    action.sa_handler = HandOn;
    action.sa_mask = set;
    action.sa_flags = SA_RESTART;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&set, signal) == 1) ::sigaction(signal, &action, nullptr);
    }
    std::thread(TakeSignals, set).detach();
}

void StopSignals::Install(std::atomic<std::int32_t>& stopRequest) { g_stopRequest.store(&stopRequest); }

int StopSignals::Received() { return g_first.load(); }

void StopSignals::SetLastWords(std::function<void(int status)> lastWords) {
    const std::lock_guard lock(g_lastWordsMutex);
    g_lastWords = std::move(lastWords);
}

}  // namespace vosctl
