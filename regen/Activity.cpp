#include "Activity.h"

#include <algorithm>

namespace regen {

int Peak(const short* block, int frames, int enough) {
    // Examined in runs with no exit inside a run, so that the compiler can
    // take the extremes of many samples per instruction; a block is read to
    // its end unless it passes `enough`.
    constexpr int kRun = 256;
    int peak = 0;
    for (int i = 0; i < frames && peak <= enough; i += kRun) {
        const int end = std::min(frames, i + kRun);
        int low = 0, high = 0;
        for (int k = i; k < end; ++k) {
            low = std::min(low, int(block[k]));
            high = std::max(high, int(block[k]));
        }
        peak = std::max(peak, std::max(high, -low));
    }
    return peak;
}

std::vector<unsigned char> Judge(const std::vector<int>& peaks, int activeAbove) {
    std::vector<unsigned char> active(peaks.size());
    for (size_t b = 0; b < peaks.size(); ++b)
        active[b] = peaks[b] > activeAbove;
    return active;
}

Span FindSpan(const std::vector<unsigned char>& active) {
    Span span;
    for (size_t b = 0; b < active.size(); ++b) {
        if (!active[b])
            continue;
        if (span.first < 0)
            span.first = int64_t(b);
        span.last = int64_t(b);
    }
    return span;
}

} // namespace regen
