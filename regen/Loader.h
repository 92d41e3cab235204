// The head of every chain: the judged signal loaded from the recording, a
// block at a time, as the loaders give it (mix, one channel, or the
// difference, from a file of any channel count).
#pragma once

#include "Settings.h"
#include "Wave.h"

#include <cstdint>
#include <vector>

namespace regen {

class Loader {
  public:
    Loader(CWave& in, Channel channel);

    // Loads `frames` frames into `block` (silence past the file's end) and
    // returns how many the file held.
    int Load(short* block, int frames);
    // Frames the file has held through this loader so far.
    uint64_t Held() const { return m_held; }

  private:
    CWave& m_in;
    Channel m_channel;
    // One channel or the difference of a file of at most two, taken from
    // the 16-bit loader's pairs of samples (empty otherwise).
    bool m_fromPairs;
    std::vector<short> m_pairs;
    std::vector<float> m_scratch;
    uint64_t m_held = 0;
};

// One load without a Loader.
void LoadSignal(CWave& in, short* block, int frames, Channel channel, std::vector<float>& scratch);

} // namespace regen
