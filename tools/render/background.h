// File transfers on a worker thread while the plug-in processes the next blocks on the calling
// thread. Reading and writing share one thread: on a two-core machine a thread for each would
// take turns with the processing thread instead of running beside it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace qlrender {

class BackgroundJob;

// Runs the posted jobs one after another, in the order they were posted.
class FileThread {
  public:
    FileThread() : worker([this] { loop(); }) {}
    ~FileThread() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        worker.join();
    }
    FileThread(const FileThread&) = delete;
    FileThread& operator=(const FileThread&) = delete;

  private:
    friend class BackgroundJob;
    void loop();

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<BackgroundJob*> queue;
    bool stopping = false;
    std::thread worker; // last: starts after the state above exists
};

// One job at a time for one owner (the reader or the writer) on a shared FileThread.
class BackgroundJob {
  public:
    explicit BackgroundJob(FileThread& thread) : thread(thread) {}
    // Lets a job in flight finish (its failure is dropped: the owner is going anyway).
    ~BackgroundJob() {
        std::unique_lock lock(thread.mutex);
        thread.changed.wait(lock, [this] { return !job; });
    }
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Waits for the job before, rethrowing what it threw, then queues `next`.
    void post(std::function<void()> next) {
        wait();
        {
            std::lock_guard lock(thread.mutex);
            job = std::move(next);
            thread.queue.push_back(this);
        }
        thread.changed.notify_all();
    }

    // Waits until this owner's job has run; rethrows what it threw.
    void wait() {
        std::unique_lock lock(thread.mutex);
        if (job) {
            const auto start = std::chrono::steady_clock::now();
            thread.changed.wait(lock, [this] { return !job; });
            waited +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
    }

    // Seconds the calling thread has spent waiting for this owner's jobs.
    double waitedSeconds() const { return waited; }

  private:
    friend class FileThread;
    FileThread& thread;
    std::function<void()> job; // guarded by thread.mutex; empty once it has run
    std::exception_ptr failure;
    double waited = 0.0;
};

inline void FileThread::loop() {
    std::unique_lock lock(mutex);
    while (true) {
        changed.wait(lock, [this] { return !queue.empty() || stopping; });
        if (queue.empty()) return;
        BackgroundJob* owner = queue.front();
        queue.pop_front();
        std::function<void()> run = owner->job; // the owner waits until `job` is cleared
        lock.unlock();
        std::exception_ptr thrown;
        try {
            run();
        } catch (...) {
            thrown = std::current_exception();
        }
        lock.lock();
        owner->failure = thrown;
        owner->job = nullptr;
        changed.notify_all();
    }
}

} // namespace qlrender
