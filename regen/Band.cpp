#include "Band.h"

#include "Lanes.h"

#include <algorithm>

namespace regen {

int SmoothingFor(int shortest) {
    return std::max(1, shortest / 4 * 2 + 1);
}

void PrefixSums(const short* from, int count, int32_t* sums) {
#if PULSE_LANE_SHUFFLES
    lanes::PrefixSums(from, count, sums); // eight samples at a time
#else
    // A running sum waits one addition per sample; four of them, over the
    // four quarters of the run, proceed side by side, and each quarter is
    // then raised by the totals of those before it.
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
#endif
}

int ContextBefore(int window, int smooth) {
    return std::max(window / 2, smooth / 2);
}

int ContextAfter(int window, int smooth) {
    return std::max(window - window / 2, smooth / 2 + 1);
}

void SmoothAndRemoveBaseline(const short* x, int frames, int window, int smooth, short* out,
                             std::vector<int32_t>& sums) {
    const int before = ContextBefore(window, smooth);
    const int count = frames + before + ContextAfter(window, smooth) - 1;
    sums.resize(size_t(count) + 1);
    PrefixSums(x - before, count, sums.data());
    // Index of x[i - k] in the sums: i + before - k. Both means are a
    // difference of two sums scaled by a float, which holds a window's
    // sum (below 2^28) to within a part in 2^24.
    const int32_t* s = sums.data() + before;
    const int half = smooth / 2;
    const float bySmooth = 1.0f / float(smooth);
    if (window <= 0) {
        for (int i = 0; i < frames; ++i) {
            const int v = int(float(s[i + half + 1] - s[i - half]) * bySmooth);
            out[i] = short(std::min(32767, std::max(-32768, v)));
        }
        return;
    }
    const int start = window / 2;
    const float byWindow = 1.0f / float(window);
    for (int i = 0; i < frames; ++i) {
        const float smoothed = float(s[i + half + 1] - s[i - half]) * bySmooth;
        const float mean = float(s[i - start + window] - s[i - start]) * byWindow;
        const int v = int(smoothed - mean);
        out[i] = short(std::min(32767, std::max(-32768, v)));
    }
}

namespace {

short Clamp16(int v) {
    return short(std::min(32767, std::max(-32768, v)));
}

} // namespace

Band::Band(int window, int smooth, bool smoothed)
    : m_window(window), m_smooth(std::max(1, smooth)), m_smoothed(smoothed),
      m_before(ContextBefore(window, m_smooth)), m_after(ContextAfter(window, m_smooth)) {}

void Band::Prime(const short* context) {
    m_history.assign(context, context + m_before);
    m_primed = true;
}

int Band::Flow(const short* in, int frames, short* out) {
    if (frames <= 0)
        return 0;
    if (!m_primed) { // the first sample stands for what precedes it
        m_history.assign(size_t(m_before), in[0]);
        m_primed = true;
    }
    // The samples held and the new ones, side by side; every sample whose
    // context lies within them gives one output, worked out as the block
    // functions above work it out.
    m_history.insert(m_history.end(), in, in + frames);
    const int count = int(m_history.size());
    const int span = m_before + m_after;
    const int given = std::max(0, count - span + 1);
    if (given > 0) {
        m_sums.resize(size_t(count) + 1);
        PrefixSums(m_history.data(), count, m_sums.data());
        const int32_t* s = m_sums.data() + m_before; // s[i + k]: the sum before x[i + k]
        const short* x = m_history.data() + m_before;
        const int start = m_window / 2, half = m_smooth / 2;
        const float byWindow = m_window > 0 ? 1.0f / float(m_window) : 0.0f;
        const float bySmooth = 1.0f / float(m_smooth);
        // One loop for each form, with no branch inside, so that the
        // compiler runs many samples per instruction.
        if (!m_smoothed) {
            for (int i = 0; i < given; ++i) {
                const int mean = int(float(s[i - start + m_window] - s[i - start]) * byWindow);
                out[i] = Clamp16(int(x[i]) - mean);
            }
        } else {
            // The values first, then held within 16 bits and truncated as
            // Clamp16(int(v)) does, eight at a time (Lanes.h).
            m_values.resize(size_t(given));
            float* v = m_values.data();
            if (m_window <= 0) {
                for (int i = 0; i < given; ++i)
                    v[i] = float(s[i + half + 1] - s[i - half]) * bySmooth;
            } else {
                for (int i = 0; i < given; ++i) {
                    const float smoothed = float(s[i + half + 1] - s[i - half]) * bySmooth;
                    const float mean = float(s[i - start + m_window] - s[i - start]) * byWindow;
                    v[i] = smoothed - mean;
                }
            }
            lanes::ToShorts(v, given, out);
        }
    }
    // The last before + after - 1 samples are the context of the next ones.
    const size_t keep = std::min(m_history.size(), size_t(span - 1));
    m_history.erase(m_history.begin(), m_history.end() - long(keep));
    return given;
}

int Band::Drain(short* out) {
    const int ahead = MaxDrain();
    if (!m_primed || ahead <= 0)
        return 0;
    const std::vector<short> hold(size_t(ahead), m_history.back());
    return Flow(hold.data(), ahead, out);
}

} // namespace regen
