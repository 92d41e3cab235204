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
    // A carrier squelch: the output takes a half-period's level only
    // while the carrier is up, that is from the kCarrierOpens-th of a run
    // of half-periods peaking beyond this from the midpoint until
    // kCarrierCloses in a row have not, and holds its level (silence to a
    // decoder) otherwise. 0: no squelch.
    int carrier = 0;
};

// Four half-periods (two cycles of a tone) past the level raise the
// carrier: a pause's noise seldom peaks past it four times in a row, and
// a leader of two bits still leaves a decoder its start. Eight under it
// drop it: a tone that noise or a band limit lowers for a cycle keeps it.
constexpr int kCarrierOpens = 4;
constexpr int kCarrierCloses = 8;

class LevelFollower : public Stage {
  public:
    explicit LevelFollower(const FollowSettings& settings);

    int Flow(const short* in, int frames, short* out) override;
    // The level it holds, as Process returns it: the sign of the input's
    // swing it regenerates, before the output's inversion.
    short Level() const { return m_settings.invert ? short(-m_out) : m_out; }

    // Replaces each of `frames` samples of `y` (baseline out) by the
    // regenerated level, negated unless not inverting, as Regenerate does:
    // 0 until the first sample above the upper threshold, then +-amplitude,
    // held where the carrier squelch keeps half-periods out. Returns the
    // level it leaves.
    short Process(short* y, int frames);

    int Midpoint() const { return int(m_mid); }
    int Height() const { return int((m_high - m_low) / 2); }
    int Gap() const { return int(m_gap); }

  private:
    void Close(int state);
    // Whether the half-period that begins now is written, after the one
    // that ends here peaked `peak` beyond the midpoint.
    bool Carried(float peak);

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
    short m_out = 0;  // the level written: the half-period's, or the one held
    bool m_carrier = false;
    int m_run = 0; // half-periods in a row on the carrier's other side
};

} // namespace regen
