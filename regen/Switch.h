// The decision: a two-threshold switch that turns the judged signal into a
// square wave of a fixed amplitude.
#pragma once

#include "Settings.h"
#include "Stage.h"

#include <vector>

namespace regen {

// Replaces each sample by the level of the two-threshold switch (negated
// unless `settings.invert` is false) and returns the level it leaves, to
// carry into the next block. `crossings`, when given, receives the counts.
short Regenerate(short* block, int frames, short level, const Settings& settings = Settings{},
                 Crossings* crossings = nullptr);

// The switch as a stage. It counts the crossings of each block of its
// output, blocks counted from its first sample, for the advice given after
// a run; `crossings`, when given, receives one record per block begun.
class Switch : public Stage {
  public:
    explicit Switch(const Settings& settings, std::vector<Crossings>* crossings = nullptr)
        : m_settings(settings), m_crossings(crossings) {}

    int Flow(const short* in, int frames, short* out) override;
    // The level the switch holds: 0 until the wave starts, then the
    // amplitude with the sign of the last swing.
    short Level() const { return m_level; }

  private:
    Settings m_settings;
    std::vector<Crossings>* m_crossings;
    short m_level = 0;
    int m_intoBlock = 0; // samples of the current output block already switched
};

} // namespace regen
