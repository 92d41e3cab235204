// What every stage of the regeneration chain shares: the block, the tool's
// fixed levels and output format, the judged signals, and the records that
// pass between the stages and the passes.
#pragma once

#include "Wave.h"

#include <cstdint>

namespace regen {

constexpr int kBlockFrames = 10240;
constexpr int kActiveAbove = 10000; // a block with a larger magnitude is active
constexpr int kSwitchAbove = 8000;  // the square wave flips beyond +-8,000
constexpr short kPulseLevel = 30000;
constexpr CWave::tOutputWaveFormat kOutputFormat{44100, 2, 1};

// Every magnitude is at most 32,768: a bound that asks for exact peaks.
constexpr int kExactPeaks = 32768;

// The judged signal of a stereo file, as LoadWaveFloat's mix modes; kMix is
// the average of all channels that LoadWaveShort gives.
enum class Channel {
    kMix = CWave::kMixAverage,
    kLeft = CWave::kMixLeft,
    kRight = CWave::kMixRight,
    kDiff = CWave::kMixDifference,
};

// How a run judges and regenerates; the defaults are the tool's own.
struct Settings {
    int activeAbove = kActiveAbove; // a block whose peak exceeds this is active
    int switchAbove = kSwitchAbove; // the wave starts and flips beyond +-this
    short amplitude = kPulseLevel;
    Channel channel = Channel::kMix;
    bool invert = true; // write the negated level, the inverse of the input's swings
    // --auto's band filter and tracked levels (see Band.h and Follow.h):
    int smooth = 1;     // frames averaged around each before the switch; 1 for none
    int follow = 0;     // half-periods the tracked levels average over; 0 for fixed levels
    int height = 0;     // the pulses' height the tracked levels start from
    int pause = 0;      // a half-period longer than this many frames holds the levels
    bool timed = false; // a flip's first sample keeps the crossing's time (see Follow.h)
    int carrier = 0;    // the tracked levels' carrier squelch (see Follow.h); 0 for none
    // A band-pass before the switch, edges in Hz (see Tones.h); 0 for none.
    int bandLow = 0;
    int bandHigh = 0;
    bool Banded() const { return bandLow > 0 || bandHigh > 0; }
    // The two channels of a stereo mix or difference lined up and weighted
    // (see Align.h):
    double lag = 0;   // frames the right channel lags the left; negative: it leads
    int balance = 50; // percent: the left channel's share
};

// First and last active block; both -1 when no block is active.
struct Span {
    int64_t first = -1;
    int64_t last = -1;
};

// How many samples of a block lay beyond the upper and below the lower
// threshold once the wave had started.
struct Crossings {
    int above = 0;
    int below = 0;
};

} // namespace regen
