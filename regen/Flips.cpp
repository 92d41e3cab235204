#include "Flips.h"

#include "Baseline.h"

#include <algorithm>

namespace regen {

namespace {

// The baseline window spans this many of the longest common half-periods
// (four whole periods), and a recording with too few flips to measure gets
// a window of about 23 ms at 44.1 kHz.
constexpr int kHalfPeriodsPerWindow = 8;
constexpr int kMinWindow = 16;
constexpr int kMinFlips = 32;
constexpr int kLongPercentile = 90; // the "longest common" half-period

} // namespace

void FlipIntervals(const short* x, int frames, int above, std::vector<int>& intervals) {
    const int inner = frames - kDefaultWindow;
    if (inner <= 0)
        return;
    std::vector<short> y(static_cast<size_t>(inner));
    RemoveBaseline(x + kDefaultWindow / 2, inner, kDefaultWindow, y.data());
    int state = 0, since = 0;
    for (int i = 0; i < inner; ++i) {
        ++since;
        const int to = y[size_t(i)] > above ? 1 : y[size_t(i)] < -above ? -1 : state;
        if (to == state)
            continue;
        if (state != 0)
            intervals.push_back(since);
        state = to;
        since = 0;
    }
}

int WindowFor(std::vector<int> intervals) {
    if (intervals.size() < size_t(kMinFlips))
        return kDefaultWindow;
    const size_t at = intervals.size() * kLongPercentile / 100;
    std::nth_element(intervals.begin(), intervals.begin() + long(at), intervals.end());
    const long window = long(intervals[at]) * kHalfPeriodsPerWindow;
    return int(std::min<long>(kMaxWindow, std::max<long>(kMinWindow, window)));
}

} // namespace regen
