// Whether a recording holds a pulse train for --auto to regenerate: a blank
// tape side (silence) or noise gives none, and a batch job must be able to
// tell such a recording from a good one by the run's status.
#pragma once

#include "Settings.h"
#include "Wave.h"

#include <optional>
#include <vector>

namespace regen {

enum class Found {
    kPulseTrain,
    kSilence, // no block swings past the active level
    kNoise,   // flips at the switch level come at no stable intervals
};

// A pulse train flips at a few widths, each held to within a fifth of
// itself: at least this share of the flips fall at the (up to) three
// commonest widths, the rest being noise at the edges of bursts.
constexpr int kStablePercent = 80;
constexpr int kPulseWidths = 3;
// Flips closer than this many frames on average, at kMinPulseRate, are
// noise, not pulses: at such widths the tolerance above no longer tells
// noise from pulses. The bound is a time (90 us), so it scales with the
// rate: at 8 kHz the tones of a modem lie closer than 4 frames apart.
constexpr int kMinPulseFrames = 4;
constexpr int kMinPulseRate = 44100;
// Fewer flips than this are a click or two, not a train.
constexpr int kMinTrainFlips = 16;

// The share, in percent, of `intervals` that fall within a fifth of the
// kPulseWidths widths that hold the most of them.
int StablePercent(std::vector<int> intervals);
// The verdict on a recording from what --auto measured: whether any block is
// active, and the intervals between flips at the switch level in the first
// active blocks.
// `minPulseFrames` is the shortest average flip interval of a pulse train.
Found JudgePulseTrain(bool anyActive, const std::vector<int>& intervals,
                      int minPulseFrames = kMinPulseFrames);
// Reads the first active blocks of `channel` as ProbeWindow does and judges
// them; active blocks too short to time flips in count as a pulse train.
// Empty on a failed seek.
std::optional<Found> FindPulseTrain(CWave& in, const std::vector<unsigned char>& active,
                                    Channel channel, int switchAbove);

} // namespace regen
