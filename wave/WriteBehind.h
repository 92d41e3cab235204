// Writing behind the caller: an output's bytes gather in one of two
// buffers, and a full one goes to a thread of its own, which writes it to
// the file while the caller fills the other. The copy into the page cache
// then costs the caller nothing but the wait for a buffer, where a write
// in the caller's thread stopped the decoding for as long. Internal to the
// library.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <pthread.h>

namespace wav {

class WriteBehind {
  public:
    // Writes to `fd`, which stays the caller's, through the two buffers
    // `first` and `second` of `bytes` each.
    WriteBehind(int fd, unsigned char* first, unsigned char* second, size_t bytes);
    // Waits for the buffer being written, then stops the thread; what was
    // appended after it and not flushed is not written.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Appends `size` bytes. False once a write has failed, with errno set
    // to that first failure's.
    bool Append(const void* data, size_t size);
    // Writes everything appended and waits until it is written; false as
    // Append.
    bool Flush();

  private:
    bool Hand(size_t bytes); // the current buffer's first `bytes`, to the thread
    bool Settled();          // waits for the thread's buffer; false after a failure
    void Run();
    static int WriteAll(int fd, const unsigned char* p, size_t n); // 0 or the errno
    bool Start();

    const int m_fd;
    unsigned char* const m_buffer[2];
    const size_t m_bytes;
    int m_current = 0;  // the buffer being filled
    size_t m_fill = 0;  // bytes in it
    std::mutex m_mutex; // guards what follows
    std::condition_variable m_changed;
    int m_pending = -1; // the buffer the thread writes, or -1
    size_t m_pendingBytes = 0;
    int m_error = 0; // errno of the first failed write
    bool m_stop = false;
    pthread_t m_thread{};
    bool m_started = false, m_unthreaded = false; // no thread could be made: write here
};

} // namespace wav
