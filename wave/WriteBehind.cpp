#include "WriteBehind.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace wav {

namespace {

// Writes all `n` bytes, at `offset` when it is not negative, again after a
// signal cuts a write short; 0 or the errno of the failure.
int WriteAll(int fd, const unsigned char* p, size_t n, off_t offset = -1) {
    while (n > 0) {
        const ssize_t done = offset < 0 ? write(fd, p, n) : pwrite(fd, p, n, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return done < 0 ? errno : EIO;
        p += done;
        n -= size_t(done);
        if (offset >= 0)
            offset += done;
    }
    return 0;
}

} // namespace

WriteBehind::WriteBehind(int fd, unsigned char* first, unsigned char* second, size_t bytes)
    : m_fd(fd), m_buffer{first, second}, m_bytes(bytes), m_worker(WritePending, this) {}

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

bool WriteBehind::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (!Flush())
        return false;
    const int error = WriteAll(m_fd, static_cast<const unsigned char*>(data), size, off_t(offset));
    if (error != 0)
        errno = error;
    return error == 0;
}

bool WriteBehind::Settled() {
    m_worker.Wait();
    if (m_error != 0)
        errno = m_error;
    return m_error == 0;
}

// After a failure nothing more is written: the first errno stands.
void WriteBehind::WritePending(void* self) {
    auto* w = static_cast<WriteBehind*>(self);
    if (w->m_error == 0)
        w->m_error = WriteAll(w->m_fd, w->m_buffer[w->m_pending], w->m_pendingBytes);
}

bool WriteBehind::Hand(size_t bytes) {
    // The worker is done with the other buffer once it has settled.
    if (!Settled())
        return false;
    m_pending = m_current;
    m_pendingBytes = bytes;
    if (!m_worker.Post()) { // no thread: written here
        WritePending(this);
        if (!Settled())
            return false;
    }
    m_current ^= 1;
    m_fill = 0;
    return true;
}

} // namespace wav
