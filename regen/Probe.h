// The measurements --auto makes on a few active blocks of the judged
// signal: the pulses' shortest and longest common half-periods, the band
// filter and baseline window they call for, the noise apart from the
// pulses' height, and the switch's gap that the noise needs.
#pragma once

#include "Settings.h"
#include "Wave.h"

#include <optional>
#include <vector>

namespace regen {

// What the band-pass for tones gives: its edges and what is measured behind it.
struct ToneShape {
    int low = 0;  // Hz: the band's edges; low 0 where the signal is not taken for tones
    int high = 0; // 0: no upper edge
    int noise = 0, height = 0, gap = 0;
    int carrier = 0; // the level of the carrier squelch (CarrierFor)
    bool drowned = false;
};

struct Shape {
    int shortest = 0;      // frames: the shortest common half-period
    int longest = 0;       // and the longest
    int smooth = 1;        // the band filter's window
    int window = 0;        // the baseline's window
    int noise = 0;         // standard deviation on the flat tops, after the band filter
    int middles = 0;       // the same from the half-periods' middles alone
    int height = 0;        // of the flat tops
    int gap = 0;           // the switch flips beyond the midpoint +- this
    bool drowned = false;  // the noise leaves no gap that the short pulses pass
    int paired = 0;        // percent of the half-periods as long as the next one
    bool stable = false;   // the filtered half-periods keep to a few widths, as a pulse train's
    bool balanced = false; // the pulses come in equal pairs: a short baseline keeps no bias
    bool measured = false; // enough half-periods to measure them
    int fill = 0;          // percent: the half-periods' mean over their middle
    // Percent: where the pulses do not balance, how high the longest
    // half-periods end under the longest baseline (SagOf); 100 elsewhere.
    int sag = 100;
    // Data that does not balance is decided at its tracked midpoint, with
    // a gap of kLeastGap, behind the longest baseline (see ProbeShape).
    bool midpoint = false;
    // The noise on the flat tops lies under a tenth of the height: data
    // decided by its level then needs no band filter (see ProbeShape).
    bool quiet = false;
    ToneShape tones; // the band-pass in place of the smoothing, for tones
};

// A gap below this is the last bits of a sample.
constexpr int kLeastGap = 24;

// The half-periods the levels follow over, in --auto: enough to average
// the noise of a few pulses away, few enough to follow a dropout's edge
// within a millisecond or two of tape.
constexpr int kFollowHalfPeriods = 8;
// A half-period longer than this is a pause: half the baseline window,
// four of the longest common half-periods.
int PauseFor(int window);

// The gap for pulses of `height` (their median peak) in noise of `noise`
// (a standard deviation): a few of the noise's, but at most a quarter of
// the height, so that a short pulse that a band limit or a dropout leaves
// lower still flips it, and at least an eighth, the baseline's ripple at
// a burst's ends.
int GapFor(int noise, int height);
// The gap for tones behind their band-pass, in noise of `noise` by the
// line through the neighbours and `band` by the middles: the same, but
// for the floor of an eighth, which becomes three standard deviations of
// the noise in the tones' band where that is less. The noise there is as
// smooth as the tones, so it cannot flip the switch to and fro while a
// crossing passes: the gap has to keep it out of the pauses, where it
// alone is left (it passes three deviations in one half-period of a
// hundred), and no more. An eighth would stop the switch in a dropout of
// 20 dB that the noise leaves clear. `band` 0 (not measured) keeps it.
int ToneGapFor(int noise, int band, int height);
// The carrier squelch's level for tones of `height` in noise of `band`
// in their band: the same three deviations, which the tones pass and the
// noise of a pause seldom does, at most a quarter of the height. 0 where
// `band` was not measured. Without it the noise before a burst comes out
// as a square wave at full scale, in which a decoder finds a carrier and
// frames junk that runs into the first bytes of the burst.
int CarrierFor(int band, int height);
// The baseline window for pulses whose longest common half-period is
// `longest`, at least a few band-filter windows long.
int BaselineFor(int longest, int smooth);

// Reads up to a few active blocks spread over the recording and measures
// them, refining the band filter from the pulses it lets through. The
// first measurement's gap starts from `largest`, the largest swing; `swing`,
// the loud blocks' typical swing, sets the levels where too few pulses are
// found to measure. Empty on a failed seek.
std::optional<Shape> ProbeShape(CWave& in, const std::vector<unsigned char>& active,
                                const Settings& settings, int swing, int largest);

// How the two channels of a stereo recording pair up.
struct Pairing {
    double lag = 0;   // frames the right channel lags the left, to a tenth
    int balance = 50; // percent: the left channel's share of the combination
    int sign = 1;     // -1 when the right channel carries the left's negative
};

// The farthest a head's azimuth puts one channel behind the other: 0.6 ms.
constexpr int kMaxLagMicroseconds = 600;
// One channel is used alone when its share of the combination is at least
// this (percent): beside it the other adds little but its noise.
constexpr int kAlone = 90;

// Reads a few active blocks of a stereo recording: the lag within
// +-maxLag frames, and each channel's share from its signal-to-noise
// ratio. Empty on a failed seek.
std::optional<Pairing> ProbePairing(CWave& in, const std::vector<unsigned char>& active,
                                    int maxLag);

} // namespace regen
