#include "WriteBehind.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace wav {

WriteBehind::WriteBehind(int fd, unsigned char* first, unsigned char* second, size_t bytes)
    : m_fd(fd), m_buffer{first, second}, m_bytes(bytes) {}

WriteBehind::~WriteBehind() {
    if (!m_started)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    pthread_join(m_thread, nullptr);
}

bool WriteBehind::Append(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const size_t n = std::min(size, m_bytes - m_fill);
        std::memcpy(m_buffer[m_current] + m_fill, p, n);
        m_fill += n;
        p += n;
        size -= n;
        if (m_fill == m_bytes && !Hand(m_fill))
            return false;
    }
    return true;
}

bool WriteBehind::Flush() {
    if (m_fill > 0 && !Hand(m_fill))
        return false;
    return Settled();
}

bool WriteBehind::Settled() {
    int error;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_pending < 0; });
        error = m_error;
    }
    if (error != 0)
        errno = error;
    return error == 0;
}

bool WriteBehind::Hand(size_t bytes) {
    if (!m_started && !m_unthreaded)
        m_unthreaded = !Start();
    if (m_unthreaded) {
        const int error = m_error ? m_error : WriteAll(m_fd, m_buffer[m_current], bytes);
        m_error = error;
        m_fill = 0;
        if (error != 0)
            errno = error;
        return error == 0;
    }
    // The thread is done with the other buffer once nothing is pending.
    if (!Settled())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = m_current;
        m_pendingBytes = bytes;
    }
    m_changed.notify_all();
    m_current ^= 1;
    m_fill = 0;
    return true;
}

// The thread takes no signal: with every signal blocked while it is made,
// it starts with them all blocked, and a signal that ends the run reaches
// the caller's thread, which may hold it off while it renames the output.
// (A POSIX thread, not a std::thread, whose instantiated state the shared
// library would export.)
bool WriteBehind::Start() {
    sigset_t all, before;
    sigfillset(&all);
    if (pthread_sigmask(SIG_SETMASK, &all, &before) != 0)
        return false;
    const auto run = [](void* self) -> void* {
        static_cast<WriteBehind*>(self)->Run();
        return nullptr;
    };
    m_started = pthread_create(&m_thread, nullptr, run, this) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return m_started;
}

void WriteBehind::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_pending >= 0 || m_stop; });
        if (m_pending < 0)
            return; // stopped, nothing left
        const unsigned char* p = m_buffer[m_pending];
        const size_t n = m_pendingBytes;
        const bool failed = m_error != 0; // after a failure nothing more is written
        lock.unlock();
        const int error = failed ? 0 : WriteAll(m_fd, p, n);
        lock.lock();
        if (error != 0 && m_error == 0)
            m_error = error;
        m_pending = -1;
        m_changed.notify_all();
    }
}

// Writes all `n` bytes, again after a signal cuts a write short.
int WriteBehind::WriteAll(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t done = write(fd, p, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return done < 0 ? errno : EIO;
        p += done;
        n -= size_t(done);
    }
    return 0;
}

} // namespace wav
