#include "Baseline.h"

#include "Band.h"

#include <algorithm>
#include <cstring>

namespace regen {

namespace {

short Clamp16(int v) {
    return short(std::min(32767, std::max(-32768, v)));
}

} // namespace

void RemoveBaseline(const short* x, int frames, int window, short* out) {
    std::vector<int32_t> sums;
    RemoveBaseline(x, frames, window, out, sums);
}

void RemoveBaseline(const short* x, int frames, int window, short* out,
                    std::vector<int32_t>& sums) {
    if (window <= 0) {
        std::memcpy(out, x, size_t(frames) * sizeof(short));
        return;
    }
    // Prefix sums first (the one serial step), then each mean as the
    // difference of two of them, scaled by a float: a few instructions per
    // sample that run many samples at a time. A window's sum stays below
    // 2^28, so a float holds it to within a part in 2^24.
    const short* from = x - window / 2;
    const int count = frames + window - 1; // the last window ends there
    sums.resize(size_t(count) + 1);
    PrefixSums(from, count, sums.data());
    const float scale = 1.0f / float(window);
    const int32_t* s = sums.data();
    for (int i = 0; i < frames; ++i) {
        const int mean = int(float(s[i + window] - s[i]) * scale);
        out[i] = Clamp16(int(x[i]) - mean);
    }
}

} // namespace regen
