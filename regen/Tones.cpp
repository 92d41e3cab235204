#include "Tones.h"

#include <algorithm>
#include <cmath>

namespace regen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kButterworthQ = 0.70710678; // a flat pass band

// Rounds to the nearest integer, ties to even, as lrint does in the default
// rounding mode, but inline: lrint is a call into the maths library, where
// it may set errno. Adding 1.5 * 2^52 leaves no bits for a fraction, so the
// addition itself rounds, and taking it away again is exact (for
// magnitudes below 2^51; the samples are clamped to 16 bits first).
constexpr double kRoundingShift = 6755399441055744.0;
inline short RoundToShort(double y) {
    const double clamped = std::min(32767.0, std::max(-32768.0, y));
    return short((clamped + kRoundingShift) - kRoundingShift);
}

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

double Tones::Section::Run(double x) {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}

void Tones::Section::Settle(double x) {
    // The state that a constant x leaves: y = x times the gain at 0 Hz.
    const double y = x * (b0 + b1 + b2) / (1 + a1 + a2);
    z2 = b2 * x - a2 * y;
    z1 = b1 * x - a1 * y + z2;
}

Tones::Tones(int low, int high, uint32_t rate) {
    // The bilinear transform of the analogue Butterworth sections, their
    // edges pre-warped to fall where asked.
    const auto design = [rate](int edge, bool highPass, Section& s) {
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
    design(low, true, m_high);
    design(high, false, m_low);
}

int Tones::Flow(const short* in, int frames, short* out) {
    if (frames <= 0)
        return 0;
    if (!m_started) {
        m_high.Settle(in[0]);
        m_low.Settle(0); // the high-pass gives 0 for a held sample
        m_started = true;
    }
    for (int i = 0; i < frames; ++i) {
        const double y = m_low.Run(m_high.Run(in[i]));
        out[i] = RoundToShort(y);
    }
    return frames;
}

} // namespace regen
