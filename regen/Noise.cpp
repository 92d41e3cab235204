// These run on a few probed blocks only, so they favour plain code over
// speed.
#include "Noise.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace regen {

namespace {

// 1 / 0.6745: a Gaussian's standard deviation over its median absolute
// deviation, as a fraction.
constexpr int kMadToSdNum = 1483, kMadToSdDen = 1000;
// 1 / sqrt(1.5): a sample's noise from its difference with the line
// through two others.
constexpr double kLineToSample = 0.8164966;
// Half-periods whose peak is below a third of the loud ones' (the 90th
// percentile) are noise between and around the pulses.
constexpr int kReferencePercentile = 90;
constexpr int kChatterBelow = 3;

} // namespace

void MeasureTops(const short* y, int frames, int above, int ramp, TopMeasure& into) {
    int state = 0, start = -1;
    for (int i = 0; i < frames; ++i) {
        const int to = y[i] > above ? 1 : y[i] < -above ? -1 : state;
        if (to == state)
            continue;
        if (state != 0 && start >= 0) {
            into.lengths.push_back(i - start);
            int peak = 0;
            for (int k = start; k < i; ++k)
                peak = std::max(peak, std::abs(int(y[k])));
            into.peaks.push_back(peak);
            // Each sample against the line through its neighbours `span`
            // away, far enough that the smoothing leaves their noise
            // apart: a slope or a gentle curve of the pulse's own shape
            // cancels, the noise does not. The difference holds the noise
            // 1.5 times over in variance.
            const int from = start + ramp, end = i - ramp, span = 2 * ramp - 1;
            for (int k = from + span; k + span < end; ++k) {
                const double d = y[k] - (int(y[k - span]) + int(y[k + span])) / 2.0;
                into.deviations.push_back(int(std::fabs(d) * kLineToSample));
            }
        }
        // A half-period begun from the start state was cut by the block's start.
        start = state != 0 ? i : -1;
        state = to;
    }
}

int Percentile(std::vector<int>& values, int percent) {
    if (values.empty())
        return 0;
    const size_t at = (values.size() - 1) * size_t(percent) / 100;
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

int NoiseOf(TopMeasure& m) {
    return Percentile(m.deviations, 50) * kMadToSdNum / kMadToSdDen;
}

void DropChatter(TopMeasure& m) {
    std::vector<int> peaks = m.peaks;
    const int least = Percentile(peaks, kReferencePercentile) / kChatterBelow;
    size_t kept = 0;
    for (size_t k = 0; k < m.peaks.size(); ++k) {
        if (m.peaks[k] < least)
            continue;
        m.peaks[kept] = m.peaks[k];
        m.lengths[kept] = m.lengths[k];
        ++kept;
    }
    m.peaks.resize(kept);
    m.lengths.resize(kept);
}

int HeightOf(const TopMeasure& m) {
    std::vector<int> peaks = m.peaks;
    return Percentile(peaks, 50);
}

} // namespace regen
