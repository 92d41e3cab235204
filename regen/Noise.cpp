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
// Two half-periods pair up when they are as long as each other to within
// a fifth.
constexpr int kPairWithin = 5;
// Or to within a frame: a half-period counted in whole frames is up to one
// off, which at a few frames a half-period is more than a fifth.
constexpr int kPairFrames = 1;
// Fewer half-periods of one length than this give no median to measure
// their spread from.
constexpr int kMinOfOneLength = 5;
// Half-periods whose peak is below a third of the loud ones' (the 90th
// percentile) are noise between and around the pulses.
constexpr int kReferencePercentile = 90;
constexpr int kChatterBelow = 3;

} // namespace

namespace {

// The median of `values` (reordered); 0 for none.
int MedianOf(std::vector<int>& values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

} // namespace

void MeasureTops(const short* y, int frames, int above, int ramp, TopMeasure& into) {
    // Each half-period's length and the magnitude of its middle sample.
    std::vector<int> lengths, middles, peaks, fills;
    int state = 0, start = -1;
    for (int i = 0; i < frames; ++i) {
        const int to = y[i] > above ? 1 : y[i] < -above ? -1 : state;
        if (to == state)
            continue;
        if (state != 0 && start >= 0) {
            lengths.push_back(i - start);
            int peak = 0;
            for (int k = start; k < i; ++k)
                peak = std::max(peak, std::abs(int(y[k])));
            peaks.push_back(peak);
            const int last = i - 1 - ramp;
            if (last > start && peak > 0) {
                into.ends.push_back(state * int(y[last]) * 100 / peak);
                into.endLengths.push_back(i - start);
            }
            const int middle = int(y[(start + i - 1) / 2]);
            middles.push_back(std::abs(middle));
            long sum = 0;
            for (int k = start; k < i; ++k)
                sum += y[k];
            fills.push_back(middle == 0 ? 0 : int(sum * 100 / (long(i - start) * middle)));
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
    // And the middle of a half-period lies as far from both its flips as it
    // can, on a pulse's flat top or a tone's crest alike: half-periods of
    // one length have the same middle there but for the noise, whatever
    // the pulses' shape, band limit or droop. So the spread of the middles
    // among half-periods of equal length in one block is the noise, and a
    // level that changes from one block to the next does not add to it.
    // Half-periods far below the loud ones are noise of their own and
    // are left out, as DropChatter leaves them out.
    std::vector<int> sorted = peaks;
    const int least = Percentile(sorted, kReferencePercentile) / kChatterBelow;
    std::vector<std::vector<int>> byLength;
    for (size_t k = 0; k < lengths.size(); ++k) {
        if (peaks[k] < least || lengths[k] < ramp)
            continue;
        if (fills.size() > k)
            into.fills.push_back(fills[k]);
        if (byLength.size() <= size_t(lengths[k]))
            byLength.resize(size_t(lengths[k]) + 1);
        byLength[size_t(lengths[k])].push_back(middles[k]);
    }
    for (std::vector<int>& same : byLength) {
        if (same.size() < size_t(kMinOfOneLength))
            continue;
        std::vector<int> copy = same;
        const int median = MedianOf(copy);
        for (int v : same)
            into.spreads.push_back(std::abs(v - median));
    }
    into.lengths.insert(into.lengths.end(), lengths.begin(), lengths.end());
    into.peaks.insert(into.peaks.end(), peaks.begin(), peaks.end());
}

int Percentile(std::vector<int>& values, int percent) {
    if (values.empty())
        return 0;
    const size_t at = (values.size() - 1) * size_t(percent) / 100;
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

int PairedPercent(const std::vector<int>& lengths) {
    if (lengths.size() < 2)
        return 0;
    size_t paired = 0;
    for (size_t k = 1; k < lengths.size(); ++k) {
        const int a = lengths[k - 1], b = lengths[k];
        paired += std::abs(a - b) <= std::max(kPairFrames, std::max(a, b) / kPairWithin);
    }
    return int(paired * 100 / (lengths.size() - 1));
}

int NoiseOf(TopMeasure& m) {
    // Either figure holds the noise and, besides, some of the signal's own
    // shape: the line's the curve of a tone's crest, the middles' the
    // droop or the run of data before a pulse. Neither can fall below the
    // noise, so the smaller is the closer.
    const bool line = !m.deviations.empty(), middles = !m.spreads.empty();
    const int fromLine = line ? Percentile(m.deviations, 50) : 0;
    const int fromMiddles = middles ? Percentile(m.spreads, 50) : 0;
    const int mad = line && middles ? std::min(fromLine, fromMiddles)
                    : line          ? fromLine
                                    : fromMiddles;
    return mad * kMadToSdNum / kMadToSdDen;
}

int MiddlesNoiseOf(TopMeasure& m) {
    return Percentile(m.spreads, 50) * kMadToSdNum / kMadToSdDen;
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

int FillOf(TopMeasure& m) {
    return Percentile(m.fills, 50);
}

int SagOf(const TopMeasure& m, int longest) {
    std::vector<int> ends;
    for (size_t k = 0; k < m.ends.size(); ++k)
        if (m.endLengths[k] >= longest)
            ends.push_back(m.ends[k]);
    return ends.empty() ? 100 : Percentile(ends, 50);
}

int HeightOf(const TopMeasure& m) {
    std::vector<int> peaks = m.peaks;
    return Percentile(peaks, 50);
}

} // namespace regen
