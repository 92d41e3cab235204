#include "Baseline.h"

#include <algorithm>
#include <cstring>

namespace regen {

namespace {

// sums[i] = from[0] + ... + from[i - 1] for i from 0 to count. A running sum
// waits one addition per sample; four of them, over the four quarters of
// the run, proceed side by side, and each quarter is then raised by the
// totals of those before it.
void PrefixSums(const short* from, int count, int32_t* sums) {
    const int quarter = count / 4;
    int32_t a = 0, b = 0, c = 0, d = 0;
    const short *x0 = from, *x1 = from + quarter, *x2 = from + 2 * quarter,
                *x3 = from + 3 * quarter;
    int32_t *s0 = sums + 1, *s1 = s0 + quarter, *s2 = s1 + quarter, *s3 = s2 + quarter;
    for (int i = 0; i < quarter; ++i) {
        a += x0[i], b += x1[i], c += x2[i], d += x3[i];
        s0[i] = a, s1[i] = b, s2[i] = c, s3[i] = d;
    }
    for (int i = 4 * quarter; i < count; ++i)
        d += from[i], sums[i + 1] = d;
    for (int i = 0; i < quarter; ++i)
        s1[i] += a;
    for (int i = 0; i < quarter; ++i)
        s2[i] += a + b;
    for (int i = 0; i < count - 3 * quarter; ++i)
        s3[i] += a + b + c;
    sums[0] = 0;
}

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

Baseline::Baseline(int window) : m_window(std::max(1, window)) {
    m_history.reserve(size_t(m_window - 1));
}

void Baseline::Prime(const short* context) {
    m_history.assign(context, context + m_window / 2);
    m_primed = true;
}

int Baseline::Flow(const short* in, int frames, short* out) {
    if (frames <= 0)
        return 0;
    if (!m_primed) { // the first sample stands for what precedes it
        m_history.assign(size_t(m_window / 2), in[0]);
        m_primed = true;
    }
    // The samples held and the new ones, side by side; every window that
    // ends within them gives one output, worked out as RemoveBaseline does.
    m_history.insert(m_history.end(), in, in + frames);
    const int count = int(m_history.size());
    const int given = std::max(0, count - m_window + 1);
    if (given > 0) {
        m_sums.resize(size_t(count) + 1);
        PrefixSums(m_history.data(), count, m_sums.data());
        const float scale = 1.0f / float(m_window);
        const int32_t* s = m_sums.data();
        const short* centre = m_history.data() + m_window / 2;
        for (int i = 0; i < given; ++i) {
            const int mean = int(float(s[i + m_window] - s[i]) * scale);
            out[i] = Clamp16(int(centre[i]) - mean);
        }
    }
    // The last window - 1 samples are the start of the next windows.
    const size_t keep = std::min(m_history.size(), size_t(m_window - 1));
    m_history.erase(m_history.begin(), m_history.end() - long(keep));
    return given;
}

int Baseline::Drain(short* out) {
    const int ahead = MaxDrain();
    if (!m_primed || ahead == 0)
        return 0;
    const std::vector<short> hold(size_t(ahead), m_history.back());
    return Flow(hold.data(), ahead, out);
}

} // namespace regen
