// The INPUT argument made readable: with seeking where the reader goes
// through the data twice, which a pipe cannot do; else as it comes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace files {

// A RIFF file cannot be longer than the 8 bytes before its size field and
// the most that 32-bit field can hold (4 GiB + 7 bytes), so a RIFF stream is
// copied no further. An RF64 file states its RIFF size in 64 bits, in its
// ds64 chunk: it is copied as far as that says (without one, as RIFF).
constexpr uint64_t kRiffMaxBytes = uint64_t(UINT32_MAX) + 8;
// A stream read as it comes keeps its header in memory up to this size
// (lists and tags before the samples are far smaller); past it, it is copied.
constexpr size_t kStreamHeadBytes = size_t(1) << 20;

class Input {
  public:
    // Prepare's result for a stream whose first 12 bytes are not a RIFF/WAVE
    // (or RF64/WAVE, BW64/WAVE) header; errno values are positive.
    static constexpr int kNotWave = -1;

    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Makes `arg` readable ("-" is standard input). A regular file or a block
    // device is read in place: by its path, or through descriptor 0 from its
    // current offset. Anything else (a pipe, a FIFO, a character device) is
    // copied into an anonymous file under $TMPDIR, once its first 12 bytes
    // show a WAV header, chunk header by chunk header up to the data chunk
    // (stopping after the first that is none), then up to the size the
    // header gives (kRiffMaxBytes for a RIFF file). Returns 0,
    // kNotWave, or the errno of a failure, about the file Culprit() names:
    // the input, or the temporary directory when the copy cannot be made.
    // With `once` (the reader goes through the data once) such a stream is
    // not copied: its header, up to the data chunk's, is read into memory
    // (copied as above where it passes kStreamHeadBytes), and the reader
    // takes StreamHead() and then the descriptor.
    int Prepare(const char* arg, bool once = false);
    // The stream is read as it comes: StreamHead(), then the descriptor
    // where the head reached the data chunk (else the head is all the
    // reader is to see, as it would be of the copy).
    bool Streamed() const { return m_streamed; }
    bool StreamGoesOn() const { return m_streamGoesOn; }
    const std::string& StreamHead() const { return m_streamHead; }
    // Where to read what Prepare made readable: the descriptor, positioned
    // at the first byte of the WAV file, or -1 when it is to be opened by
    // Path(). Each call goes back to the first byte, so a second reader (to
    // explain a refusal) sees the same file as the first.
    int Descriptor() const;
    const std::string& Path() const { return m_path; }
    // A descriptor of its own on the same file, at the WAV file's first
    // byte, for a reader that reads beside the first; the caller closes it.
    // -1 for a stream read as it comes, or where the path no longer names
    // the file Prepare found.
    int Reopen() const;
    const std::string& Culprit() const { return m_culprit; }
    // The copy stopped at kRiffMaxBytes with more of the stream to come.
    bool Cut() const { return m_cut; }
    // The copy stopped after a header that is no chunk: how short the copy
    // is tells nothing of the stream.
    bool Stopped() const { return m_stopped; }
    // Up to `n` bytes from where the WAV file would start, to tell what a
    // refused input is: those of a stream refused by its first 12 bytes
    // included; empty when it cannot be read.
    std::optional<std::string> Head(size_t n) const;
    bool IsDirectory() const { return m_directory; }

  private:
    struct Copier;
    int Spool(int from, bool once);
    bool CopyChunks(Copier& copy, bool rf64);

    std::string m_path;
    std::string m_culprit;
    int m_fd = -1;      // read through this descriptor rather than by path
    off_t m_start = 0;  // where the WAV file starts in m_fd
    dev_t m_device = 0; // the file Prepare found by its path
    ino_t m_inode = 0;
    bool m_found = false;
    bool m_owned = false; // m_fd is the copy, closed with this object
    bool m_cut = false;
    bool m_stopped = false;
    bool m_directory = false;
    bool m_streamed = false;
    bool m_streamGoesOn = false;
    std::string m_streamHead;
    std::string m_refusedHead; // the bytes of a stream refused as no WAV file
};

// True when the two arguments name the same file: the same path, or an
// existing output that is the input under another name or link ("-" is the
// file on standard input). Writing such an output would destroy the input
// before it is read.
bool SameFile(const char* input, const char* output);

} // namespace files
