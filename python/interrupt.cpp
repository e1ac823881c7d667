#include "interrupt.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace py = pybind11;

namespace vospy {

bool SignalArrived(std::optional<py::error_already_set>& pending) {
    if (pending || PyErr_CheckSignals() == 0) return false;
    pending.emplace();  // fetches and clears the error
    return true;
}

void RunInterruptible(const std::function<void()>& work, const std::function<void()>& stop,
                      const std::function<void()>& poll) {
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread thread([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        ended.notify_all();
    });
    std::optional<py::error_already_set> pending;
    for (;;) {
        {
            py::gil_scoped_release unlocked;
            std::unique_lock lock(mutex);
            if (ended.wait_for(lock, SIGNAL_POLL, [&] { return done; })) break;
        }
        if (SignalArrived(pending)) {
            stop();
        } else if (!pending && poll) {
            try {
                poll();
            } catch (py::error_already_set& error) {
                pending.emplace(error);
                stop();
            }
        }
    }
    {
        py::gil_scoped_release unlocked;
        thread.join();
    }
    if (pending) throw std::move(*pending);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace vospy
