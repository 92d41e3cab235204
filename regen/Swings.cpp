// The per-sample work here runs over every frame of an hours-long file, so
// it is written as straight loops the compiler vectorises: extremes over
// runs. Everything that branches (medians) works on a handful of values per
// block.
#include "Swings.h"

#include <algorithm>

namespace regen {

namespace {

constexpr int kRunsPerBlock = kBlockFrames / kSwingRun;

// A channel or the difference is judged instead of the mix only when it
// swings this much wider: by 3/2, well short of the 2 of one silent channel.
constexpr int kWiderNum = 3, kWiderDen = 2;

// Active and switch levels as shares of the loud blocks' typical swing. The
// switch sits a little below half: low enough that a low-passed or drooping
// pulse still crosses it, high enough that the noise on a pulse's flat top
// does not reach the opposite threshold.
constexpr int kActivePercent = 50;
constexpr int kSwitchPercent = 40;
// Below these a swing is the recorder's own noise floor, not a pulse.
constexpr int kMinActive = 32;
// A block is active when its largest swing stands this many times above the
// noise floor (12 dB), and a burst this many times quieter than the loud
// ones (18 dB) still counts: a level taken from the blocks' typical swing
// alone would sink to the noise when pulses are sparse.
constexpr int kFloorTimes = 4;
constexpr int kQuietestBurst = 8;
constexpr int kMinSwitch = 24;

// A block swings past the switch when this many of its samples lie beyond
// each threshold: a pulse train puts thousands there, stray noise peaks few.
constexpr int kSwungPast = kBlockFrames / 64;

// The upper median of `count` (at least one) values, which are reordered.
uint16_t Median(uint16_t* values, size_t count) {
    std::nth_element(values, values + count / 2, values + count);
    return values[count / 2];
}

// The median and the largest of `count` swings (the values are reordered).
void Summarise(uint16_t* swings, int count, uint16_t& typical, uint16_t& peak) {
    if (count == 0)
        return;
    peak = *std::max_element(swings, swings + count);
    typical = Median(swings, size_t(count));
}

uint16_t HalfRange(short low, short high) {
    return uint16_t((int(high) - int(low)) / 2);
}

} // namespace

BlockSwings MeasureStereo(const short* interleaved, int frames) {
    uint16_t swings[kSignals][kRunsPerBlock];
    int runs = 0;
    for (int i = 0; i < frames && runs < kRunsPerBlock; i += kSwingRun, ++runs) {
        const int n = std::min(kSwingRun, frames - i);
        const short* p = interleaved + 2 * i;
        short loM = 32767, hiM = -32768, loL = 32767, hiL = -32768;
        short loR = 32767, hiR = -32768, loD = 32767, hiD = -32768;
        for (int k = 0; k < n; ++k) {
            const short l = p[2 * k], r = p[2 * k + 1];
            const short m = short((l >> 1) + (r >> 1)), d = short((l >> 1) - (r >> 1));
            loM = std::min(loM, m), hiM = std::max(hiM, m);
            loL = std::min(loL, l), hiL = std::max(hiL, l);
            loR = std::min(loR, r), hiR = std::max(hiR, r);
            loD = std::min(loD, d), hiD = std::max(hiD, d);
        }
        swings[int(Channel::kMix)][runs] = HalfRange(loM, hiM);
        swings[int(Channel::kLeft)][runs] = HalfRange(loL, hiL);
        swings[int(Channel::kRight)][runs] = HalfRange(loR, hiR);
        swings[int(Channel::kDiff)][runs] = HalfRange(loD, hiD);
    }
    BlockSwings b;
    for (int c = 0; c < kSignals; ++c)
        Summarise(swings[c], runs, b.typical[size_t(c)], b.peak[size_t(c)]);
    return b;
}

BlockSwings MeasureMono(const short* samples, int frames, Channel channel) {
    uint16_t swings[kRunsPerBlock];
    int runs = 0;
    for (int i = 0; i < frames && runs < kRunsPerBlock; i += kSwingRun, ++runs) {
        const int n = std::min(kSwingRun, frames - i);
        short low = 32767, high = -32768;
        for (int k = 0; k < n; ++k) {
            low = std::min(low, samples[i + k]);
            high = std::max(high, samples[i + k]);
        }
        swings[runs] = HalfRange(low, high);
    }
    BlockSwings b;
    Summarise(swings, runs, b.typical[size_t(channel)], b.peak[size_t(channel)]);
    return b;
}

int LoudSwing(const std::vector<BlockSwings>& blocks, Channel channel) {
    const size_t c = size_t(channel);
    int largest = 0;
    for (const BlockSwings& b : blocks)
        largest = std::max(largest, int(b.typical[c]));
    std::vector<uint16_t> loud;
    for (const BlockSwings& b : blocks)
        if (largest > 0 && 2 * int(b.typical[c]) >= largest)
            loud.push_back(b.typical[c]);
    return loud.empty() ? 0 : Median(loud.data(), loud.size());
}

int LargestSwing(const std::vector<BlockSwings>& blocks, Channel channel) {
    int largest = 0;
    for (const BlockSwings& b : blocks)
        largest = std::max(largest, int(b.peak[size_t(channel)]));
    return largest;
}

Channel ChooseChannel(const std::vector<BlockSwings>& blocks) {
    // Mix or difference first, as both average two channels' noise; then a
    // single channel if it swings much wider than that.
    const int mix = LoudSwing(blocks, Channel::kMix);
    const int diff = LoudSwing(blocks, Channel::kDiff);
    const int left = LoudSwing(blocks, Channel::kLeft);
    const int right = LoudSwing(blocks, Channel::kRight);
    const auto muchWider = [](int a, int b) { return a * kWiderDen > b * kWiderNum; };
    const Channel pair = muchWider(diff, mix) ? Channel::kDiff : Channel::kMix;
    const int pairSwing = pair == Channel::kDiff ? diff : mix;
    const Channel single = right > left ? Channel::kRight : Channel::kLeft;
    return muchWider(std::max(left, right), pairSwing) ? single : pair;
}

int ActiveLevelFrom(const std::vector<BlockSwings>& blocks, Channel channel) {
    const size_t c = size_t(channel);
    std::vector<uint16_t> typical, peaks;
    int largest = 0;
    for (const BlockSwings& b : blocks) {
        typical.push_back(b.typical[c]);
        largest = std::max(largest, int(b.peak[c]));
    }
    if (largest == 0)
        return kMinActive;
    for (const BlockSwings& b : blocks)
        if (2 * int(b.peak[c]) >= largest)
            peaks.push_back(b.peak[c]);
    const int loud = Median(peaks.data(), peaks.size());
    // The floor: what the quietest blocks swing, most often the noise
    // between bursts; in a recording full of pulses, the pulses themselves.
    std::nth_element(typical.begin(), typical.begin() + long(typical.size() / 10), typical.end());
    const int floor = typical[typical.size() / 10];
    return std::max(kMinActive, std::min(loud * kActivePercent / 100,
                                         std::max(kFloorTimes * floor, loud / kQuietestBurst)));
}

int ActiveLevelFor(int loudSwing) {
    return std::max(kMinActive, loudSwing * kActivePercent / 100);
}

int SwitchLevelFor(int loudSwing) {
    return std::max(kMinSwitch, loudSwing * kSwitchPercent / 100);
}

bool MostlyShortOfSwitch(const std::vector<unsigned char>& active, Span span,
                         const std::vector<Crossings>& crossings) {
    int judged = 0, short_ = 0;
    for (size_t i = 0; i < crossings.size(); ++i) {
        if (!active[size_t(span.first) + i])
            continue;
        ++judged;
        short_ += crossings[i].above < kSwungPast || crossings[i].below < kSwungPast;
    }
    return 2 * short_ > judged;
}

std::vector<unsigned char> JudgeSwings(const std::vector<BlockSwings>& blocks, Channel channel,
                                       int activeAbove) {
    std::vector<unsigned char> active(blocks.size());
    for (size_t b = 0; b < blocks.size(); ++b)
        active[b] = blocks[b].peak[size_t(channel)] > activeAbove;
    return active;
}

Span Widen(Span span, int64_t blocks) {
    if (span.first < 0)
        return span;
    span.first = std::max<int64_t>(0, span.first - 1);
    span.last = std::min<int64_t>(blocks - 1, span.last + 1);
    return span;
}

} // namespace regen
