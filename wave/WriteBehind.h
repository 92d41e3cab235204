// Writing behind the caller: an output's bytes gather in one of two
// buffers, and a full one goes to a Worker, whose thread writes it to the
// file while the caller fills the other. The copy into the page cache then
// costs the caller nothing but the wait for a buffer, where a write in the
// caller's thread stopped the decoding for as long. Internal to the
// library.
#pragma once

#include "Worker.h"

#include <cstddef>
#include <cstdint>

namespace wav {

class WriteBehind {
  public:
    // Writes to `fd`, which stays the caller's, through the two buffers
    // `first` and `second` of `bytes` each.
    WriteBehind(int fd, unsigned char* first, unsigned char* second, size_t bytes);
    // Waits for the buffer being written; what was appended after it and
    // not flushed is not written.
    ~WriteBehind() = default;
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Appends `size` bytes. False once a write has failed, with errno set
    // to that first failure's.
    bool Append(const void* data, size_t size);
    // Writes everything appended and waits until it is written; false as
    // Append.
    bool Flush();
    // Flushes, then writes `size` bytes at `offset` (a size in a header
    // written before it was known); false with errno set when either fails.
    bool WriteAt(uint64_t offset, const void* data, size_t size);

  private:
    bool Hand(size_t bytes); // the current buffer's first `bytes`, to the thread
    bool Settled();          // waits for the thread's buffer; false after a failure
    static void WritePending(void* self);

    const int m_fd;
    unsigned char* const m_buffer[2];
    const size_t m_bytes;
    int m_current = 0; // the buffer being filled
    size_t m_fill = 0; // bytes in it
    // The buffer the worker writes, and errno of the first failed write:
    // the worker's while it runs, the caller's once it has waited.
    int m_pending = 0;
    size_t m_pendingBytes = 0;
    int m_error = 0;
    Worker m_worker; // last: destroyed first, while the buffers still stand
};

} // namespace wav
