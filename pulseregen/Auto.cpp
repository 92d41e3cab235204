// The per-sample work here runs over every frame of an hours-long file, so
// it is written as straight loops the compiler vectorises: extremes over
// runs, prefix sums, and a subtraction without branches. Everything that
// branches (medians, flips) works on a handful of values per block or on a
// few probed blocks only.
#include "Auto.h"

#include <algorithm>
#include <cstring>

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
constexpr int kMinSwitch = 24;

// The baseline window spans this many of the longest common half-periods
// (four whole periods), and a recording with too few flips to measure gets
// a window of about 23 ms at 44.1 kHz.
constexpr int kHalfPeriodsPerWindow = 8;
constexpr int kMinWindow = 16;
constexpr int kDefaultWindow = 1024;
constexpr int kMinFlips = 32;
constexpr int kLongPercentile = 90; // the "longest common" half-period
// Only the first active blocks are read to measure the flips, and only so
// many blocks spread over a file to tell whether its mix is the weak signal.
constexpr int kProbeBlocks = 8;
constexpr int kSampledBlocks = 16;
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

void FlipIntervals(const short* x, int frames, int above, std::vector<int>& intervals) {
    const int inner = frames - kDefaultWindow;
    if (inner <= 0)
        return;
    std::vector<short> y(static_cast<size_t>(inner));
    RemoveBaseline(x + kDefaultWindow / 2, inner, kDefaultWindow, y.data());
    int state = 0, since = 0;
    for (int i = 0; i < inner; ++i) {
        ++since;
        const int to = y[size_t(i)] > above ? 1 : y[size_t(i)] < -above ? -1 : state;
        if (to == state)
            continue;
        if (state != 0)
            intervals.push_back(since);
        state = to;
        since = 0;
    }
}

int WindowFor(std::vector<int> intervals) {
    if (intervals.size() < size_t(kMinFlips))
        return kDefaultWindow;
    const size_t at = intervals.size() * kLongPercentile / 100;
    std::nth_element(intervals.begin(), intervals.begin() + long(at), intervals.end());
    const long window = long(intervals[at]) * kHalfPeriodsPerWindow;
    return int(std::min<long>(kMaxWindow, std::max<long>(kMinWindow, window)));
}

// ------------------------------------------------------------------ passes

namespace {

int64_t BlockCount(int64_t length) {
    return (length + kBlockFrames - 1) / kBlockFrames;
}

int FramesOf(int64_t block, int64_t length) {
    return int(std::min<int64_t>(kBlockFrames, length - block * kBlockFrames));
}

} // namespace

std::optional<SwingScan> ScanSwings(CWave& in, short* block, std::optional<Channel> channel) {
    SwingScan scan;
    scan.channels = in.GetFormatChunk().channels;
    if (in.SetPos(0) != 0)
        return std::nullopt;
    const int64_t length = in.GetSampleLength();
    const int64_t blocks = BlockCount(length);
    const bool allFour = !channel && scan.channels == 2;
    const Channel judged = channel.value_or(Channel::kMix);
    std::vector<short> stereo(allFour ? 2 * kBlockFrames : 0);
    std::vector<float> scratch;
    scan.blocks.reserve(size_t(blocks));
    // As in the activity pass, a file that ends before its declared length
    // is not read on: the blocks it does not hold are silent.
    const uint64_t start = in.GetLoadedFrames();
    for (int64_t b = 0; b < blocks; ++b) {
        const int frames = FramesOf(b, length);
        if (scan.ended) {
            scan.blocks.push_back(BlockSwings{});
            continue;
        }
        const uint64_t before = in.GetLoadedFrames();
        if (allFour) {
            in.LoadWaveShortStereo(stereo.data(), frames, 1);
            scan.blocks.push_back(MeasureStereo(stereo.data(), frames));
        } else {
            LoadSignal(in, block, frames, judged, scratch);
            scan.blocks.push_back(MeasureMono(block, frames, judged));
        }
        scan.ended = in.GetLoadedFrames() - before < uint64_t(frames);
    }
    scan.framesRead = in.GetLoadedFrames() - start;
    return scan;
}

std::optional<int> ProbeWindow(CWave& in, const std::vector<unsigned char>& active, Channel channel,
                               int switchAbove) {
    const int64_t length = in.GetSampleLength();
    std::vector<short> x(kBlockFrames);
    std::vector<float> scratch;
    std::vector<int> intervals;
    int probed = 0;
    for (size_t b = 0; b < active.size() && probed < kProbeBlocks; ++b) {
        if (!active[b])
            continue;
        ++probed;
        const int frames = FramesOf(int64_t(b), length);
        if (in.SetPos(int(b) * kBlockFrames) != 0)
            return std::nullopt;
        LoadSignal(in, x.data(), frames, channel, scratch);
        FlipIntervals(x.data(), frames, switchAbove, intervals);
    }
    return WindowFor(std::move(intervals));
}

std::optional<Channel> SampleWidest(CWave& in) {
    const int64_t length = in.GetSampleLength();
    const int64_t blocks = BlockCount(length);
    if (in.GetFormatChunk().channels != 2 || blocks == 0)
        return Channel::kMix;
    std::vector<short> stereo(2 * kBlockFrames);
    std::vector<BlockSwings> sample;
    const int64_t count = std::min<int64_t>(blocks, kSampledBlocks);
    for (int64_t k = 0; k < count; ++k) {
        const int64_t b = k * blocks / count;
        if (in.SetPos(int(b * kBlockFrames)) != 0)
            return std::nullopt;
        const int frames = FramesOf(b, length);
        in.LoadWaveShortStereo(stereo.data(), frames, 1);
        sample.push_back(MeasureStereo(stereo.data(), frames));
    }
    return ChooseChannel(sample);
}

std::optional<short> RegenerateTracked(CWave& in, CWave& out, Span span, int window,
                                       const Settings& settings,
                                       std::vector<Crossings>* crossings) {
    short level = 0;
    const int64_t length = in.GetSampleLength();
    const int64_t blocks = BlockCount(length);
    if (span.first < 0 || span.first >= blocks)
        return level;
    const int before = window / 2, after = window - before;
    // The block being regenerated with its context: the last `before`
    // frames of the block ahead of it and the first `after` of the next.
    std::vector<short> context(size_t(before + kBlockFrames + after));
    std::vector<short> next(kBlockFrames), regenerated(kBlockFrames);
    std::vector<float> scratch;
    std::vector<int32_t> sums(size_t(kBlockFrames + window));
    short* const current = context.data() + before;
    const int64_t first = span.first * kBlockFrames;
    if (in.SetPos(int(std::max<int64_t>(0, first - before))) != 0)
        return std::nullopt;
    if (first >= before)
        LoadSignal(in, context.data(), before, settings.channel, scratch);
    int frames = FramesOf(span.first, length);
    LoadSignal(in, current, frames, settings.channel, scratch);
    if (first < before) // the file's first sample stands for what precedes it
        std::fill(context.data(), current, current[0]);
    for (int64_t b = span.first; b <= span.last && b < blocks; ++b) {
        const int nextFrames = b + 1 < blocks ? FramesOf(b + 1, length) : 0;
        if (nextFrames > 0)
            LoadSignal(in, next.data(), nextFrames, settings.channel, scratch);
        // What follows the block: the next one's head, or its last sample
        // held where the file ends.
        const int head = std::min(after, nextFrames);
        std::copy(next.data(), next.data() + head, current + frames);
        const short hold = head > 0 ? next[size_t(head - 1)] : current[frames - 1];
        std::fill(current + frames + head, current + frames + after, hold);
        RemoveBaseline(current, frames, window, regenerated.data(), sums);
        Crossings count;
        level = Regenerate(regenerated.data(), frames, level, settings, &count);
        if (crossings)
            crossings->push_back(count);
        out.OutputWaveFrameByMono(regenerated.data(), frames);
        // The block's tail becomes the next one's leading context.
        std::memmove(context.data(), current + frames - before, size_t(before) * sizeof(short));
        std::copy(next.data(), next.data() + nextFrames, current);
        frames = nextFrames;
    }
    return level;
}

} // namespace regen
