#include "Tones.h"

#include "Lanes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace regen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kButterworthQ = 0.70710678; // a flat pass band

} // namespace

ToneBand BandFor(int shortest, int longest, uint32_t rate, int fewest) {
    ToneBand band;
    if (shortest <= 0 || longest <= 0 || rate == 0)
        return band;
    // A half-period of n frames is a tone of rate / 2n Hz.
    band.low = int(std::lround(double(rate) / (2.0 * longest) / kBandMargin));
    if (shortest > fewest) {
        const double high = double(rate) / (2.0 * shortest) * kBandMargin;
        if (high < kTopOfRate * rate)
            band.high = int(std::lround(high));
    }
    return band;
}

void Biquad::Settle(double x, double& z1, double& z2) const {
    // y = x times the gain at 0 Hz.
    const double y = x * (b0 + b1 + b2) / (1 + a1 + a2);
    z2 = b2 * x - a2 * y;
    z1 = b1 * x - a1 * y + z2;
}

int Biquad::Memory(int bits) const {
    // The state decays as radius^n; a section that passes its input keeps none.
    if (a2 <= 0)
        return 0;
    return int(std::ceil(bits * std::log(2.0) / (-0.5 * std::log(a2))));
}

ToneEdges::ToneEdges(int lowEdge, int highEdge, uint32_t rate) {
    // The bilinear transform of the analogue Butterworth sections, their
    // edges pre-warped to fall where asked.
    const auto design = [rate](int edge, bool highPass, Biquad& s) {
        if (edge <= 0 || double(edge) >= kTopOfRate * rate)
            return;
        const double w = 2 * kPi * edge / rate;
        const double alpha = std::sin(w) / (2 * kButterworthQ), c = std::cos(w);
        const double a0 = 1 + alpha;
        const double k = highPass ? (1 + c) / 2 : (1 - c) / 2;
        s.b0 = k / a0;
        s.b1 = (highPass ? -2 * k : 2 * k) / a0;
        s.b2 = k / a0;
        s.a1 = -2 * c / a0;
        s.a2 = (1 - alpha) / a0;
    };
    design(lowEdge, true, high);
    design(highEdge, false, low);
}

namespace {

// The high-pass starts as if its first sample had been held forever, and
// the low-pass after it then holds 0.
void SettleOn(const ToneEdges& e, double x, double* z) {
    e.high.Settle(x, z[0], z[1]);
    e.low.Settle(0, z[2], z[3]);
}

void Filter(const ToneEdges& e, double* z, const short* in, int frames, short* out) {
    for (int i = 0; i < frames; ++i)
        out[i] = lanes::RoundToShort(e.low.Run(e.high.Run(double(in[i]), z[0], z[1]), z[2], z[3]));
}

} // namespace

Tones::Tones(int low, int high, uint32_t rate) : m_edges(low, high, rate) {}

int Tones::Flow(const short* in, int frames, short* out) {
    if (frames <= 0)
        return 0;
    if (!m_started) {
        SettleOn(m_edges, in[0], m_z);
        m_started = true;
    }
    Filter(m_edges, m_z, in, frames, out);
    return frames;
}

namespace {

constexpr int kLanes = 4;
// Two lanes to a 16-byte vector: SSE2 on x86-64, NEON on 64-bit ARM.
using Pair = double __attribute__((vector_size(16)));
static_assert(kLanes == 4, "the lanes run as two pairs");
// The lanes settle until the state they started from has fallen to 2^-40
// of itself: below a thousandth of the last bit of a 16-bit sample.
constexpr int kForgetBits = 40;
// A segment is this many times as long as the settling, which then costs
// a sixteenth more work, and at most this long, which bounds the memory.
constexpr int kSegmentsPerSettle = 16;
constexpr int kMinSegment = 4096, kMaxSegment = 1 << 18;
// The lanes are filtered this many frames at a time, their samples laid
// side by side in a small buffer that stays in the cache.
constexpr int kStep = 256;

} // namespace

TonesInLanes::TonesInLanes(int low, int high, uint32_t rate) : m_edges(low, high, rate) {
    m_settle = std::max(m_edges.high.Memory(kForgetBits), m_edges.low.Memory(kForgetBits));
    const long segment = std::max<long>(kMinSegment, long(m_settle) * kSegmentsPerSettle);
    if (segment <= kMaxSegment) {
        m_segment = int(segment);
        m_group = kLanes * m_segment + m_settle;
    }
}

void TonesInLanes::FilterSerially(short* x, int frames) {
    if (frames <= 0)
        return;
    if (!m_started) {
        SettleOn(m_edges, x[0], m_z);
        m_started = true;
    }
    Filter(m_edges, m_z, x, frames, x);
}

namespace {

// The sections as the lanes run them. A designed section's b1 is -2 (the
// high-pass) or 2 (the low-pass) times its b0 and its b2 is b0 itself, so
// b0 * x serves for all three products: doubling and negating are exact,
// and the results are the ones Biquad::Run gives, bit for bit, in three
// multiplications instead of five.
struct LaneSection {
    Pair b0, a1, a2;
    explicit LaneSection(const Biquad& s)
        : b0(Pair{} + s.b0), a1(Pair{} + s.a1), a2(Pair{} + s.a2) {}
    template <bool kHighPass> Pair Run(Pair x, Pair& z1, Pair& z2) const {
        const Pair bx = b0 * x;
        const Pair y = bx + z1;
        // -2bx - a1 y + z2 is z2 - (2bx + a1 y) exactly.
        z1 = kHighPass ? z2 - (bx + bx + a1 * y) : bx + bx - a1 * y + z2;
        z2 = bx - a2 * y;
        return y;
    }
};

} // namespace

template <bool kHigh, bool kLow> void TonesInLanes::FilterLanes(short* x, Pair (&s)[2][4]) {
    const LaneSection high(m_edges.high), low(m_edges.low);
    const int steps = m_segment + m_settle;
    alignas(16) double samples[kLanes][kStep];
    for (int n0 = 0; n0 < steps; n0 += kStep) {
        const int count = std::min(kStep, steps - n0);
        for (int lane = 0; lane < kLanes; ++lane) {
            const short* from = x + lane * m_segment + n0;
            for (int n = 0; n < count; ++n)
                samples[lane][n] = from[n];
        }
        for (int n = 0; n < count; ++n) {
            Pair y[2] = {Pair{samples[0][n], samples[1][n]}, Pair{samples[2][n], samples[3][n]}};
            for (int v = 0; v < 2; ++v) {
                if (kHigh)
                    y[v] = high.Run<true>(y[v], s[v][0], s[v][1]);
                if (kLow)
                    y[v] = low.Run<false>(y[v], s[v][2], s[v][3]);
            }
            samples[0][n] = y[0][0], samples[1][n] = y[0][1];
            samples[2][n] = y[1][0], samples[3][n] = y[1][1];
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            // Lanes past the first give nothing while they settle.
            const int first = lane == 0 ? 0 : std::max(0, std::min(count, m_settle - n0));
            short* to = x + lane * m_segment + n0;
            lanes::RoundToShorts(samples[lane] + first, count - first, to + first);
        }
    }
}

void TonesInLanes::FilterGroup(short* x) {
    // Lane 0 carries on from the last group's state over the first
    // segment and the settling after it; lane k settles over the
    // m_settle frames from k * m_segment on, then gives the segment
    // after them. Each lane reads its samples before any lane writes
    // there: lane k - 1 writes the frames lane k settled over only
    // m_segment steps after lane k has read them.
    if (!m_started) {
        SettleOn(m_edges, x[0], m_z);
        m_started = true;
    }
    double z[kLanes][4];
    for (int k = 0; k < 4; ++k)
        z[0][k] = m_z[k];
    for (int lane = 1; lane < kLanes; ++lane)
        SettleOn(m_edges, x[lane * m_segment], z[lane]);
    Pair s[2][4]; // lanes 0 and 1, 2 and 3: the four state variables
    for (int v = 0; v < 2; ++v)
        for (int k = 0; k < 4; ++k)
            s[v][k] = Pair{z[2 * v][k], z[2 * v + 1][k]};
    const bool high = m_edges.high.b1 != 0, low = m_edges.low.b1 != 0;
    if (high && low)
        FilterLanes<true, true>(x, s);
    else if (high)
        FilterLanes<true, false>(x, s);
    else if (low)
        FilterLanes<false, true>(x, s);
    for (int k = 0; k < 4; ++k)
        m_z[k] = s[1][k][1];
}

int TonesInLanes::Flow(const short* in, int frames, short* out) {
    if (frames <= 0)
        return 0;
    if (m_group == 0) {
        if (out != in)
            std::memmove(out, in, size_t(frames) * sizeof(short));
        FilterSerially(out, frames);
        return frames;
    }
    // Taken in before anything is given: `out` may be `in`.
    m_held.insert(m_held.end(), in, in + frames);
    m_in += uint64_t(frames);
    while (m_held.size() - m_start - m_filtered >= size_t(m_group)) {
        FilterGroup(m_held.data() + m_start + m_filtered);
        m_filtered += size_t(m_group);
    }
    // The output runs m_group - 1 frames behind at most, so that no call
    // gives more than it takes and the drain stays bounded.
    const uint64_t due = m_in > uint64_t(m_group - 1) ? m_in - uint64_t(m_group - 1) : 0;
    const int give = int(std::min<uint64_t>(due - m_out, m_filtered));
    std::memcpy(out, m_held.data() + m_start, size_t(give) * sizeof(short));
    m_start += size_t(give);
    m_filtered -= size_t(give);
    m_out += uint64_t(give);
    if (m_start >= size_t(m_group)) {
        m_held.erase(m_held.begin(), m_held.begin() + long(m_start));
        m_start = 0;
    }
    return give;
}

int TonesInLanes::Drain(short* out) {
    if (m_group == 0)
        return 0;
    const size_t raw = m_held.size() - m_start - m_filtered;
    FilterSerially(m_held.data() + m_start + m_filtered, int(raw));
    const int give = int(m_held.size() - m_start);
    std::memcpy(out, m_held.data() + m_start, size_t(give) * sizeof(short));
    m_held.clear();
    m_start = m_filtered = 0;
    m_out += uint64_t(give);
    return give;
}

} // namespace regen
