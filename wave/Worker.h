// A thread that runs one job at a time for its owner, who posts the job and
// later waits for it, and works on meanwhile. The thread takes no signal:
// made with every signal blocked, it starts with them all blocked, so a
// signal that ends the run reaches the owner's thread, which may hold it
// off (while it renames an output, say). Header-only and internal: the
// writer's WriteBehind and the signal path's InThread use it, and a shared
// library exports none of it. A POSIX thread, not a std::thread, whose
// instantiated state such a library would export.
#pragma once

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <pthread.h>

namespace wav {

class Worker {
  public:
    // `job(arg)` is the job.
    Worker(void (*job)(void*), void* arg) : m_job(job), m_arg(arg) {}
    // Waits for the job posted last, then stops the thread.
    ~Worker() {
        if (!m_started)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        pthread_join(m_thread, nullptr);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs the job on the thread once the one posted before has run. False
    // when no thread can be made: the owner then runs the job itself.
    bool Post() {
        if (!m_started && !Start())
            return false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_busy; });
            m_busy = true;
        }
        m_changed.notify_all();
        return true;
    }
    // Returns once the job posted last has run; what it wrote is then the
    // owner's to read.
    void Wait() {
        if (!m_started)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_busy; });
    }

  private:
    bool Start() {
        if (m_failed)
            return false;
        sigset_t all, before;
        sigfillset(&all);
        if (pthread_sigmask(SIG_SETMASK, &all, &before) != 0)
            return !(m_failed = true);
        const auto run = [](void* self) -> void* {
            static_cast<Worker*>(self)->Run();
            return nullptr;
        };
        m_started = pthread_create(&m_thread, nullptr, run, this) == 0;
        m_failed = !m_started;
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return m_started;
    }
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_busy || m_stop; });
            if (!m_busy)
                return;
            lock.unlock();
            m_job(m_arg);
            lock.lock();
            m_busy = false;
            m_changed.notify_all();
        }
    }

    void (*const m_job)(void*);
    void* const m_arg;
    std::mutex m_mutex; // guards m_busy and m_stop
    std::condition_variable m_changed;
    bool m_busy = false, m_stop = false;
    pthread_t m_thread{};
    bool m_started = false, m_failed = false;
};

} // namespace wav
