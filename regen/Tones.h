// The band filter of --auto for tones: a second-order high-pass below the
// lowest tone and a second-order low-pass above the highest, so that the
// noise outside the tones' band (pink noise and hum below it, white noise
// above it) no longer moves the switch's crossings, as a decoder's own
// filters keep it out of its decision.
#pragma once

#include "Stage.h"

#include <cstdint>

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

// The two edges as one stage. A causal filter: it delays the signal by
// its group delay, a fraction of a tone's cycle, the same all along. It
// starts as if its first sample had been held forever before it. An edge
// of 0, or one at or past kTopOfRate of the rate, is left out.
class Tones : public Stage {
  public:
    Tones(int low, int high, uint32_t rate);
    int Flow(const short* in, int frames, short* out) override;

  private:
    struct Section {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        double Run(double x);
        void Settle(double x);
    };
    Section m_high, m_low; // the high-pass and the low-pass edge
    bool m_started = false;
};

} // namespace regen
