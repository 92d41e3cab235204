#include "Held.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace regen {

namespace {

// Reads and writes all `size` bytes, again after a signal cuts one short.
bool Transfer(int fd, char* buffer, size_t size, bool reading) {
    for (size_t done = 0; done < size;) {
        const ssize_t n =
            reading ? read(fd, buffer + done, size - done) : write(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = reading ? EIO : ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

} // namespace

Held::~Held() {
    if (m_fd >= 0)
        close(m_fd);
}

bool Held::Hold(const short* samples, int frames) {
    const size_t n = size_t(std::max(frames, 0));
    const size_t room =
        m_spilled > 0 ? 0 : kMemoryFrames - std::min(kMemoryFrames, m_memory.size());
    const size_t kept = std::min(n, room);
    m_memory.insert(m_memory.end(), samples, samples + kept);
    return kept == n || Spill(samples + kept, n - kept);
}

bool Held::Spill(const short* samples, size_t frames) {
    if (m_fd < 0 && (m_fd = m_spillFile()) < 0)
        return !(m_failed = true);
    if (!Transfer(m_fd, const_cast<char*>(reinterpret_cast<const char*>(samples)),
                  frames * sizeof(short), false))
        return !(m_failed = true);
    m_spilled += frames;
    return true;
}

bool Held::Release(CWave& out) {
    out.OutputWaveFrameByMono(m_memory.data(), int(m_memory.size()));
    if (m_spilled > 0) {
        // Read back through the memory part, now written, in pieces of its size.
        if (lseek(m_fd, 0, SEEK_SET) != 0)
            return !(m_failed = true);
        m_memory.resize(kMemoryFrames);
        for (uint64_t left = m_spilled; left > 0;) {
            const size_t n = size_t(std::min<uint64_t>(left, kMemoryFrames));
            if (!Transfer(m_fd, reinterpret_cast<char*>(m_memory.data()), n * sizeof(short), true))
                return !(m_failed = true);
            out.OutputWaveFrameByMono(m_memory.data(), int(n));
            left -= n;
        }
    }
    Drop();
    return true;
}

void Held::Drop() {
    m_memory.clear();
    if (m_spilled > 0) {
        m_spilled = 0;
        if (lseek(m_fd, 0, SEEK_SET) != 0 || ftruncate(m_fd, 0) != 0) {
            close(m_fd); // a new file next time
            m_fd = -1;
        }
    }
}

} // namespace regen
