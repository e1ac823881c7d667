#include "app/workers.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <chrono>
#include <condition_variable>

void CallOnThreadOf(QObject& object, const std::function<void()>& call) {
    if (QThread::currentThread() == object.thread()) {
        call();
        return;
    }
    // A queued call and a wait of our own rather than a blocking connection:
    // the hand-over then goes through a standard mutex, which race checkers see.
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    QMetaObject::invokeMethod(
        &object,
        [&] {
            call();
            std::lock_guard lock(mutex);
            done = true;
            finished.notify_one();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done; });
}

WorkerThreads::~WorkerThreads() {
    std::lock_guard lock(m_mutex);
    for (auto& worker : m_threads) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }
}

void WorkerThreads::Start(std::function<void()> body) {
    JoinFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_active.fetch_add(1);
    std::thread thread([this, done, body = std::move(body)] {
        body();
        m_active.fetch_sub(1);
        done->store(true);
    });
    std::lock_guard lock(m_mutex);
    m_threads.push_back({std::move(thread), std::move(done)});
}

void WorkerThreads::JoinFinished() {
    std::lock_guard lock(m_mutex);
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

void WorkerThreads::WaitAll(const std::function<void()>& pump) {
    while (m_active.load() > 0) {
        pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard lock(m_mutex);
    for (auto& worker : m_threads) {
        worker.thread.join();
    }
    m_threads.clear();
}
