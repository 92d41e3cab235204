// The runs of samples between two flips of a switch, eight samples at a
// time (Lanes.h): each run is scanned for the sample that ends it, its
// extreme is taken and its output written. The follower's runs last tens
// of frames, where a loop of one sample at a time, or a chunk test that the
// compiler must reduce to one flag, costs several times the rule it serves.
#pragma once

#include "Lanes.h"

#include <algorithm>

namespace regen {

// The run of `y` from `from` (below `frames`) on. `kHigh`: it lasts while
// the samples are at least `least`, and its extreme is its largest sample;
// else while they are below `least`, and its extreme is the smallest. Each
// sample of the run is replaced by `level`; `extreme` receives the run's
// extreme and `last` its last sample as it was, both left as they are when
// the run is empty. Returns the frame that ends the run (its sample is left
// as it is), or `frames`.
template <bool kHigh>
int FollowRun(short* y, int from, int frames, int least, short level, short& extreme, short& last) {
    using namespace lanes;
    // The test as "beyond `limit`", a sample value; or a run that its
    // first sample ends.
    if (kHigh ? least > 32767 : least <= -32768)
        return from;
    const short limit = short(kHigh ? std::max(least, -32768) : std::min(least - 1, 32767));
    const Shorts limits = Each(limit), levels = Each(level);
    Shorts most = Each(y[from]);
    short before = last; // locals, so that the loop keeps them in registers
    int i = from;
    int ends = kShorts;
    for (; i + kShorts <= frames; i += kShorts) {
        const Shorts v = Load(y + i);
        ends = FirstSet(kHigh ? v < limits : v > limits);
        if (ends < kShorts)
            break;
        most = Extreme<kHigh>(most, v);
        before = y[i + kShorts - 1];
        Store(y + i, levels);
    }
    short e = Extreme<kHigh>(most);
    // The samples before the one that ends the run among the last eight,
    // or the last few of `y`.
    const int stop = ends < kShorts ? i + ends : frames;
    for (; i < stop && (kHigh ? y[i] >= limit : y[i] <= limit); ++i) {
        e = Extreme<kHigh>(e, y[i]);
        before = y[i];
        y[i] = level;
    }
    if (i > from) {
        extreme = e;
        last = before;
    }
    return i;
}

} // namespace regen
