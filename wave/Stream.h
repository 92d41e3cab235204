// How the library's streams move their bytes: stdio with a large buffer,
// and, for a regular file being read, a read-only mapping of it. Internal
// to the library.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wav {

// A stream moves its bytes in calls of this size: at 1 MiB the system calls
// cost little beside copying the bytes, where stdio's default of a few KiB
// makes hundreds of thousands of them for an hour of stereo.
constexpr size_t kStreamBufferBytes = size_t(1) << 20;

// A mapping is made resident a window of this many bytes at a time: the
// reading finds its pages mapped, and the memory a long file occupies stays
// that of one window, not of the file.
constexpr uint64_t kMappingWindowBytes = uint64_t(4) << 20;

// A regular file mapped read-only from its first byte to the end of its
// data. The loaders decode straight from the page cache, where a read would
// first copy every byte into a buffer. A window is made resident before it
// is read, which reports a page the file cannot give (a failing medium, a
// file cut short since) as a failure instead of a signal on access.
class Mapping {
  public:
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() { Unmap(); }

    // Maps bytes [0, `bytes`) of `fd` when it is a regular file that holds
    // them; false leaves the stream to read them.
    bool Map(int fd, uint64_t bytes) {
        Unmap();
#ifndef MADV_POPULATE_READ // no way to learn of a page the file cannot give
        return false;
#endif
        struct stat st;
        if (bytes == 0 || bytes > SIZE_MAX || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            uint64_t(st.st_size) < bytes)
            return false;
        void* base = mmap(nullptr, size_t(bytes), PROT_READ, MAP_PRIVATE, fd, 0);
        if (base == MAP_FAILED)
            return false;
        madvise(base, size_t(bytes), MADV_SEQUENTIAL); // only advice: it may fail
        m_base = static_cast<unsigned char*>(base);
        m_bytes = bytes;
        m_page = uint64_t(sysconf(_SC_PAGESIZE));
        return true;
    }
    void Unmap() {
        if (m_base)
            munmap(m_base, size_t(m_bytes));
        m_base = nullptr;
        m_low = m_high = 0;
    }
    bool Mapped() const {
        return m_base != nullptr;
    }
    uint64_t Bytes() const {
        return m_bytes;
    }
    const unsigned char* At(uint64_t offset) const {
        return m_base + offset;
    }

    // Makes bytes [from, to) resident: a window of them, from the page that
    // holds `from`, of kMappingWindowBytes or more where they need it. The
    // pages of the window before that are not among them are handed back
    // (the page cache keeps them). False when the file cannot give them.
    bool Ready(uint64_t from, uint64_t to) {
        if (from >= to || (from >= m_low && to <= m_high))
            return true;
        const uint64_t low = from / m_page * m_page;
        const uint64_t high = std::min(m_bytes, std::max(to, low + kMappingWindowBytes));
        if (m_low < low)
            Drop(m_low, std::min(m_high, low));
        if (m_high > high)
            Drop(std::max(m_low, high), m_high);
        m_low = m_high = 0;
#ifdef MADV_POPULATE_READ
        if (madvise(m_base + low, size_t(high - low), MADV_POPULATE_READ) != 0)
            return false;
#endif
        m_low = low;
        m_high = high;
        return true;
    }

  private:
    void Drop(uint64_t from, uint64_t to) {
        if (from < to)
            madvise(m_base + from, size_t(to - from), MADV_DONTNEED);
    }

    unsigned char* m_base = nullptr;
    uint64_t m_bytes = 0;
    uint64_t m_page = 0;
    uint64_t m_low = 0, m_high = 0; // the resident window
};

// What an attached stream holds outside the object: stdio's buffer and,
// for a file being read, its mapping.
struct StreamBuffers {
    unsigned char stdio[kStreamBufferBytes];
    Mapping mapping;
};

// Gives a stream just opened, before any read or write, a buffer of
// kStreamBufferBytes and returns it with room for a mapping; the caller
// deletes it once the stream is closed. A stream that cannot have one keeps
// stdio's default, and the result is null.
inline StreamBuffers* UseLargeBuffer(FILE* fp) {
    auto* buffers = new (std::nothrow) StreamBuffers;
    if (buffers &&
        setvbuf(fp, reinterpret_cast<char*>(buffers->stdio), _IOFBF, kStreamBufferBytes) != 0) {
        delete buffers;
        buffers = nullptr;
    }
    return buffers;
}

} // namespace wav
