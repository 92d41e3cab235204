// How the reader reads a stream that cannot seek (a pipe, a FIFO, a
// socket). Internal to the library.
#pragma once

#include "Wave.h"

#include <cstdint>
#include <cstdio>

// A pipe's header can say more than the pipe will hold (a writer that
// could not go back to set the sizes says the most there can be), and what
// it does hold may end in chunks after the samples (a LIST written last).
// A file tells both by its size and its last bytes; a pipe tells them only
// when it ends. So the stream is read through a window that holds its last
// kTrailerWindow bytes back until the stream ends: then the chunks that
// close it are cut off, and the reader sees a stream that ends where the
// samples do, as it would see the file. The bytes a caller read already to
// see what the stream holds come first. Until the reader has found the
// samples, it is given one byte a call, so that stdio's buffer holds none
// of them before the window is in place.
class CWave::Lookahead {
  public:
    // Opens a stdio stream that reads `head` and then `fd`, which it closes
    // (fd < 0: the head alone); null with errno set on failure.
    static FILE* Open(int fd, const unsigned char* head, size_t headBytes, Lookahead** state);

    // No byte past `end` (a stream offset) belongs to the file: a RIFF
    // file is no longer than its 32-bit size can say, an RF64 file than
    // its ds64 chunk says.
    void Limit(uint64_t end);
    // The samples start at stream offset `top` and are declared to end at
    // `end`; from here on a stream that ends short of `end` is cut back by
    // the chunks that close it.
    void Data(uint64_t top, uint64_t end);
    // The next `n` bytes, read but not given; null where the stream ends
    // (or fails) before them.
    const unsigned char* Peek(size_t n);
    bool InData() const { return m_inData; }
    // The bytes cut off at the end as chunks after the samples.
    uint64_t TrailingBytes() const { return m_trailing; }

  private:
    Lookahead() = default;
    ~Lookahead() { delete[] m_buffer; }
    Lookahead(const Lookahead&) = delete;
    Lookahead& operator=(const Lookahead&) = delete;
    static ssize_t Read(void* cookie, char* to, size_t size);
    static int Close(void* cookie);
    bool Fill(size_t want); // false on a failed read, errno set
    void CutTrailer();

    int m_fd = -1;
    // A plain array: the library exports CWave alone, and a std::vector
    // would export its own functions with it.
    unsigned char* m_buffer = nullptr;
    size_t m_size = 0;
    size_t m_begin = 0, m_end = 0; // the bytes read and not yet given
    uint64_t m_given = 0;          // the stream offset of m_buffer[m_begin]
    uint64_t m_limit = UINT64_MAX;
    uint64_t m_top = 0, m_dataEnd = UINT64_MAX;
    bool m_inData = false;
    bool m_ended = false; // no more bytes will come
    bool m_cut = false;   // the end has been looked at for chunks
    uint64_t m_trailing = 0;
};
