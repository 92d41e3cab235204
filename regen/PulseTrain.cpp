// The widths are clustered greedily: the window (a width, plus or minus a
// fifth of it) holding the most intervals is taken first, its intervals
// removed, and so on. Noise spreads its flips over every width; a pulse
// train, jitter and all, fills one to three windows.
#include "PulseTrain.h"

#include "Blocks.h"
#include "Flips.h"
#include "Loader.h"

#include <algorithm>

namespace regen {

namespace {

constexpr int kToleranceDivisor = 5; // a fifth of the width
constexpr int kProbedBlocks = 8;
// FlipIntervals keeps this many frames of a block as context only: a
// recording whose active blocks are no longer is too short to judge, and is
// regenerated as before.
constexpr int kFlipContext = 1024;

int Tolerance(int width) {
    return width / kToleranceDivisor;
}

// The most intervals of sorted `v` that one window holds, and its ends.
size_t FullestWindow(const std::vector<int>& v, size_t& from, size_t& to) {
    size_t best = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        if (i > 0 && v[i] == v[i - 1])
            continue;
        const int width = v[i];
        const auto lo = std::lower_bound(v.begin(), v.end(), width - Tolerance(width));
        const auto hi = std::upper_bound(v.begin(), v.end(), width + Tolerance(width));
        const size_t n = size_t(hi - lo);
        if (n > best) {
            best = n;
            from = size_t(lo - v.begin());
            to = size_t(hi - v.begin());
        }
    }
    return best;
}

} // namespace

int StablePercent(std::vector<int> intervals) {
    if (intervals.empty())
        return 0;
    const size_t all = intervals.size();
    std::sort(intervals.begin(), intervals.end());
    size_t held = 0;
    for (int k = 0; k < kPulseWidths && !intervals.empty(); ++k) {
        size_t from = 0, to = 0;
        held += FullestWindow(intervals, from, to);
        intervals.erase(intervals.begin() + long(from), intervals.begin() + long(to));
    }
    return int(held * 100 / all);
}

Found JudgePulseTrain(bool anyActive, const std::vector<int>& intervals, int minPulseFrames) {
    if (!anyActive)
        return Found::kSilence;
    if (intervals.size() < size_t(kMinTrainFlips))
        return Found::kNoise;
    long long sum = 0;
    for (const int i : intervals)
        sum += i;
    if (sum < (long long)(intervals.size()) * minPulseFrames)
        return Found::kNoise;
    return StablePercent(intervals) >= kStablePercent ? Found::kPulseTrain : Found::kNoise;
}

std::optional<Found> FindPulseTrain(CWave& in, const std::vector<unsigned char>& active,
                                    Channel channel, int switchAbove) {
    const int64_t length = in.GetSampleLength();
    std::vector<short> x(kBlockFrames);
    std::vector<float> scratch;
    std::vector<int> intervals;
    int probed = 0;
    bool anyActive = false, measured = false;
    for (size_t b = 0; b < active.size() && probed < kProbedBlocks; ++b) {
        if (!active[b])
            continue;
        anyActive = true;
        ++probed;
        // The block with half the flip context before and after it, where
        // the file has them: FlipIntervals only times flips away from the
        // edges of what it is given, and a short burst may lie at one.
        const int64_t start = std::max<int64_t>(0, int64_t(b) * kBlockFrames - kFlipContext / 2);
        const int64_t end =
            std::min<int64_t>(length, int64_t(b + 1) * kBlockFrames + kFlipContext / 2);
        const int frames = int(end - start);
        x.resize(size_t(frames));
        if (in.SetPos(int(start)) != 0)
            return std::nullopt;
        LoadSignal(in, x.data(), frames, channel, scratch);
        FlipIntervals(x.data(), frames, switchAbove, intervals);
        measured = measured || frames > kFlipContext;
    }
    if (anyActive && !measured)
        return Found::kPulseTrain;
    const int minPulseFrames =
        int(int64_t(kMinPulseFrames) * in.GetFormatChunk().sampleRate / kMinPulseRate);
    return JudgePulseTrain(anyActive, intervals, minPulseFrames);
}

} // namespace regen
