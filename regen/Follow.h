// The decision of --auto: a two-threshold switch around the signal's
// tracked midpoint, with a gap that the noise sets and the pulses' tracked
// height bounds. A streaming stage: its state carries from one call to the
// next, so a run feeds it block after block.
#pragma once

#include "Stage.h"

namespace regen {

struct FollowSettings {
    int height = 0;     // the pulses' height (half the swing) to start from
    int hysteresis = 0; // the switch flips beyond midpoint +- this at most
    int follow = 0;     // the levels average over this many half-periods; 0 keeps them fixed
    int pause = 0;      // a half-period longer than this (frames) is a pause: levels held
    short amplitude = 0;
    bool invert = true; // write the negated level, as Regenerate does
    // Each flip's first sample holds the two levels in the shares of the
    // frame before and after the threshold's crossing, found between the
    // two samples that straddle it: the edge keeps its time to a fraction
    // of a frame instead of moving to the next frame.
    bool timed = false;
};

class LevelFollower : public Stage {
  public:
    explicit LevelFollower(const FollowSettings& settings);

    int Flow(const short* in, int frames, short* out) override;
    // The level it holds, as Process returns it.
    short Level() const { return short(m_state * m_settings.amplitude); }

    // Replaces each of `frames` samples of `y` (baseline out) by the
    // regenerated level, negated unless not inverting, as Regenerate does:
    // 0 until the first sample above the upper threshold, then +-amplitude.
    // Returns the level it leaves (the sign of the last half-period).
    short Process(short* y, int frames);

    int Midpoint() const { return int(m_mid); }
    int Height() const { return int((m_high - m_low) / 2); }
    int Gap() const { return int(m_gap); }

  private:
    void Close(int state);

    FollowSettings m_settings;
    float m_high, m_low, m_mid, m_gap;
    float m_judgedFrom; // the midpoint before the last level's move: where peaks are taken from
    float m_alpha;
    int m_state = 0; // 0 before the wave starts, else the sign of the half-period
    // The current half-period's peak: where a drooping or band-limited
    // pulse shows its height whatever its length, which its mean does not.
    short m_extreme = 0;
    int m_count = 0;
    short m_last = 0; // the last sample given, for a flip at the start of the next call
};

} // namespace regen
