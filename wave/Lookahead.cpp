#include "Lookahead.h"
#include "Stream.h"
#include "WavFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

// Room for the window held back, the largest read a loader asks for and a
// large read of the descriptor, so that a pipe is read in few calls.
constexpr size_t kBufferBytes = wav::kStreamBufferBytes + 2 * wav::kTrailerWindow;

} // namespace

FILE* CWave::Lookahead::Open(int fd, const unsigned char* head, size_t headBytes,
                             Lookahead** state) {
    auto* self = new (std::nothrow) Lookahead;
    if (!self) {
        errno = ENOMEM;
        return nullptr;
    }
    self->m_size = std::max(kBufferBytes, headBytes + kBufferBytes);
    self->m_buffer = new (std::nothrow) unsigned char[self->m_size];
    if (!self->m_buffer) {
        delete self;
        errno = ENOMEM;
        return nullptr;
    }
    self->m_fd = fd;
    if (headBytes > 0)
        std::memcpy(self->m_buffer, head, headBytes);
    self->m_end = headBytes;
    self->m_ended = fd < 0;
    FILE* fp = fopencookie(self, "rb", cookie_io_functions_t{Read, nullptr, nullptr, Close});
    if (!fp) {
        const int error = errno;
        delete self;
        errno = error;
        return nullptr;
    }
    *state = self;
    return fp;
}

void CWave::Lookahead::Limit(uint64_t end) {
    m_limit = end;
    const uint64_t held = m_given + (m_end - m_begin);
    if (held > end) // read already: dropped
        m_end -= size_t(std::min<uint64_t>(held - end, m_end - m_begin)), m_ended = true;
}

void CWave::Lookahead::Data(uint64_t top, uint64_t end) {
    m_top = top;
    m_dataEnd = end;
    m_inData = true;
}

bool CWave::Lookahead::Fill(size_t want) {
    while (!m_ended && m_end - m_begin < want) {
        if (m_size - m_end < wav::kTrailerWindow) { // the read bytes go to the front
            std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        const uint64_t at = m_given + (m_end - m_begin);
        const size_t room =
            size_t(std::min<uint64_t>(m_size - m_end, m_limit > at ? m_limit - at : 0));
        if (room == 0) {
            m_ended = true;
            break;
        }
        const ssize_t got = read(m_fd, m_buffer + m_end, room);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            m_ended = true;
        m_end += size_t(got);
    }
    return true;
}

// The stream has ended short of the samples its header declares: the last
// bytes that form whole chunks with ids that close a file are none of them.
void CWave::Lookahead::CutTrailer() {
    m_cut = true;
    const uint64_t streamEnd = m_given + (m_end - m_begin);
    if (streamEnd >= m_dataEnd)
        return;
    const size_t window = std::min(m_end - m_begin, wav::kTrailerWindow);
    const uint64_t end =
        wav::TrailingChunksStart(m_buffer + m_end - window, window, streamEnd, m_top);
    m_trailing = streamEnd - end;
    m_end -= size_t(m_trailing);
}

const unsigned char* CWave::Lookahead::Peek(size_t n) {
    if (!Fill(n) || m_end - m_begin < n)
        return nullptr;
    return m_buffer + m_begin;
}

ssize_t CWave::Lookahead::Read(void* cookie, char* to, size_t size) {
    auto& self = *static_cast<Lookahead*>(cookie);
    // Until the samples are found, a byte at a time: stdio buffers what it
    // is given, and no byte of the samples may pass before the stream's
    // end is known. From then on in large reads, the window held back.
    const size_t hold = self.m_inData ? wav::kTrailerWindow : 0;
    size = std::min(size, self.m_inData ? self.m_size - 2 * wav::kTrailerWindow : 1);
    if (!self.Fill(size + hold))
        return -1;
    if (self.m_ended && self.m_inData && !self.m_cut)
        self.CutTrailer();
    const size_t held = self.m_end - self.m_begin;
    const size_t give = std::min(size, self.m_ended ? held : held - hold);
    std::memcpy(to, self.m_buffer + self.m_begin, give);
    self.m_begin += give;
    self.m_given += give;
    return ssize_t(give);
}

int CWave::Lookahead::Close(void* cookie) {
    auto* self = static_cast<Lookahead*>(cookie);
    const int result = self->m_fd >= 0 ? close(self->m_fd) : 0;
    delete self;
    return result;
}
