// Output held back: the regenerated blocks after the last active block
// found so far belong to the output only if a later block is active too.
// They wait in memory, and past kMemoryFrames in a file that the caller
// provides (an anonymous temporary file), so that a long quiet gap between
// two bursts costs no more memory than a short one.
#pragma once

#include "Wave.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace regen {

class Held {
  public:
    // About 48 s at 44.1 kHz, in 4 MiB.
    static constexpr size_t kMemoryFrames = size_t(2) << 20;

    // `spillFile` opens the file for what memory does not hold: a
    // descriptor open for reading and writing, or -1 with errno set.
    explicit Held(std::function<int()> spillFile) : m_spillFile(std::move(spillFile)) {}
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    // Holds `frames` more samples; false with errno set when the file for
    // them cannot be opened or written.
    bool Hold(const short* samples, int frames);
    // Appends everything held to `out`, in order, and holds nothing more;
    // false with errno set when the file cannot be read back.
    bool Release(CWave& out);
    // Forgets everything held.
    void Drop();
    // Whether a Hold or a Release has failed.
    bool Failed() const { return m_failed; }

  private:
    bool Spill(const short* samples, size_t frames);

    std::function<int()> m_spillFile;
    std::vector<short> m_memory;
    int m_fd = -1;
    uint64_t m_spilled = 0; // frames in the file
    bool m_failed = false;
};

} // namespace regen
