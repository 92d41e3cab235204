// The timing of the pulses, measured for the baseline window: the intervals
// between the flips of a provisional switch, and the window they call for.
#pragma once

#include <vector>

namespace regen {

// Appends the intervals between the flips of a two-threshold switch at
// +-`above` over `frames` samples, once a provisional baseline is out; the
// first and last half-window of samples, whose baseline is unknown here,
// only serve as context.
void FlipIntervals(const short* x, int frames, int above, std::vector<int>& intervals);
// The baseline window for flips `intervals` apart: a few of the longest
// common pulses, so that the mean over it cancels the pulses themselves.
int WindowFor(std::vector<int> intervals);

constexpr int kMaxWindow = 8192;     // at most a block's worth of look-ahead
constexpr int kDefaultWindow = 1024; // for recordings with too few flips to measure
constexpr int kNoWindow = 0;

} // namespace regen
