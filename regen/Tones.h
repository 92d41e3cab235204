// The band filter of --auto for tones: a second-order high-pass below the
// lowest tone and a second-order low-pass above the highest, so that the
// noise outside the tones' band (pink noise and hum below it, white noise
// above it) no longer moves the switch's crossings, as a decoder's own
// filters keep it out of its decision.
#pragma once

#include "Stage.h"

#include <cstdint>
#include <vector>

namespace regen {

// Each edge lies this far (as a ratio of frequencies) beyond the tone it
// guards: a second-order Butterworth edge an octave away leaves the tone
// within a third of a dB and turns its phase by the same few degrees for
// every cycle, so the crossings keep their spacing; half an octave turned
// the two tones' phases apart enough to lose lines at their changes.
constexpr double kBandMargin = 2.0;
// The filter is designed up to this share of the rate: closer to half of
// it the low-pass edge would cut the highest tone itself.
constexpr double kTopOfRate = 0.45;

// The band of tones whose half-periods run from `shortest` to `longest`
// frames at `rate`: low and high edges in Hz; a high edge of 0 where the
// highest tone lies too close to half the rate to guard it (a half-period
// of `fewest` frames or less is the shortest that the measurement sees).
struct ToneBand {
    int low = 0;
    int high = 0;
};
ToneBand BandFor(int shortest, int longest, uint32_t rate, int fewest);

// One second-order section in the transposed direct form, its state in
// `T`: a double, or a vector of them that runs several lanes at once with
// the very same arithmetic.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    template <typename T> T Run(T x, T& z1, T& z2) const {
        const T y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    // The state that a constant x leaves.
    void Settle(double x, double& z1, double& z2) const;
    // The frames the section takes to forget its state to within 2^-bits
    // of it: the poles' radius is sqrt(a2).
    int Memory(int bits) const;
};

// The high-pass and the low-pass edge, designed for `rate`; an edge of 0,
// or one at or past kTopOfRate of the rate, is left out (a section that
// passes its input as it is).
struct ToneEdges {
    Biquad high, low;
    ToneEdges(int low, int high, uint32_t rate);
};

// The two edges as one stage. A causal filter: it delays the signal by
// its group delay, a fraction of a tone's cycle, the same all along. It
// starts as if its first sample had been held forever before it.
class Tones : public Stage {
  public:
    Tones(int low, int high, uint32_t rate);
    int Flow(const short* in, int frames, short* out) override;

  private:
    ToneEdges m_edges;
    double m_z[4] = {}; // the two sections' states
    bool m_started = false;
};

// The same filter for a long run, four times as fast: the run is cut into
// segments that four lanes filter side by side, each lane but the first
// starting from a state that it settles over the samples just before its
// segment, long enough for the filter to forget where it started (its
// samples then differ from one filter's at most in the last bits of a
// double, which rounding to 16 bits hides but at a rare tie). Its output
// runs up to MaxDrain frames behind its input, and Drain gives the rest.
// A filter whose memory is too long for the segments runs as one lane.
class TonesInLanes : public Stage {
  public:
    TonesInLanes(int low, int high, uint32_t rate);
    int Flow(const short* in, int frames, short* out) override;
    int Drain(short* out) override;
    int MaxDrain() const override { return m_group > 0 ? m_group - 1 : 0; }

  private:
    using Pair = double __attribute__((vector_size(16)));
    void FilterGroup(short* x);
    template <bool kHigh, bool kLow> void FilterLanes(short* x, Pair (&state)[2][4]);
    void FilterSerially(short* x, int frames);

    ToneEdges m_edges;
    int m_settle = 0;   // frames each lane settles over before its segment
    int m_segment = 0;  // frames a lane gives in a group, the first lane m_settle more
    int m_group = 0;    // frames filtered at once; 0: one lane
    double m_z[4] = {}; // the state the next group's first lane starts from
    bool m_started = false;
    std::vector<short> m_held; // samples from m_start on: m_filtered filtered, then raw
    size_t m_start = 0, m_filtered = 0;
    uint64_t m_in = 0, m_out = 0; // frames taken and given
};

} // namespace regen
