#include "app/ending_signals.h"

#include "files/file.h"

namespace {

// Async-signal-safe throughout: the removal, sigaction and raise. The
// signal stays blocked until the handler returns, and is then taken with
// its default action.
extern "C" void EndBySignal(int signal) {
    RemoveUncommittedFiles();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

}  // namespace

void RemoveUnfinishedFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = EndBySignal;
    // A second ending signal waits for the first handler to finish.
    sigemptyset(&action.sa_mask);
    for (const int signal : ENDING_SIGNALS) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : ENDING_SIGNALS) {
        ::sigaction(signal, &action, nullptr);
    }
}
