// The judged signal, read block after block: one channel, the mix or the
// difference as the loaders give them, or the two channels of a stereo
// recording lined up and combined by their weights (Align.h).
#pragma once

#include "Align.h"
#include "Settings.h"
#include "Wave.h"

#include <memory>
#include <vector>

namespace regen {

// Whether `settings` ask for the two channels to be lined up or weighted.
bool Combines(const Settings& settings);

class JudgedSource {
  public:
    explicit JudgedSource(const Settings& settings);
    // The next `frames` frames of the judged signal into `block`.
    void Load(CWave& in, short* block, int frames);

  private:
    Settings m_settings;
    std::unique_ptr<Aligner> m_aligner; // when combining
    std::vector<float> m_scratch;
    std::vector<short> m_stereo;
};

} // namespace regen
