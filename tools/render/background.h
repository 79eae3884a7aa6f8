// One job at a time on a worker thread: file transfers run there while the plug-in processes
// the next blocks on the calling thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace qlrender {

class BackgroundJob {
public:
    BackgroundJob() : worker([this] { loop(); }) {}
    ~BackgroundJob() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        worker.join();
    }
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Waits for the job before, rethrowing what it threw, then starts `next`.
    void post(std::function<void()> next) {
        wait();
        {
            std::lock_guard lock(mutex);
            job = std::move(next);
        }
        changed.notify_all();
    }

    // Waits until no job runs; rethrows what the last one threw.
    void wait() {
        std::unique_lock lock(mutex);
        if (job) {
            const auto start = std::chrono::steady_clock::now();
            changed.wait(lock, [this] { return !job; });
            waited += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
    }

    // Seconds the calling thread has spent waiting for jobs to finish.
    double waitedSeconds() const { return waited; }

private:
    void loop() {
        std::unique_lock lock(mutex);
        while (true) {
            changed.wait(lock, [this] { return job || stopping; });
            if (!job) return;
            lock.unlock();
            std::exception_ptr thrown;
            try {
                job();
            } catch (...) {
                thrown = std::current_exception();
            }
            lock.lock();
            failure = thrown;
            job = nullptr;
            changed.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> job;
    std::exception_ptr failure;
    bool stopping = false;
    double waited = 0.0;
    std::thread worker; // last: starts after the state above exists
};

} // namespace qlrender
