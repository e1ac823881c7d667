#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

/// Runs `call` on the thread of `object` and waits for it, as a control call
/// from a worker thread is delivered to the window and waited for; directly
/// when already on that thread.
void CallOnThreadOf(QObject& object, const std::function<void()>& call);

/// The window's worker threads. A worker may still be waiting for the window's
/// thread when the window wants to end, so the window pumps its events until
/// every worker has finished, and only then joins them.
class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads();

    /// Starts `body` on a new thread; threads that have finished are joined first.
    void Start(std::function<void()> body);

    /// Workers whose body has not returned yet.
    int Active() const { return m_active.load(); }

    /// Calls `pump` until no worker is active, then joins them all.
    void WaitAll(const std::function<void()>& pump);

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void JoinFinished();

    std::mutex m_mutex;
    std::vector<Worker> m_threads;
    std::atomic<int> m_active{0};
};
