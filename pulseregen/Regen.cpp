// The block steps keep to plain arrays of samples so that tests and fuzzers
// call them directly; the passes are the only code here that touches CWave.
#include "Regen.h"

#include <algorithm>
#include <cstdlib>

namespace regen {

int Peak(const short* block, int frames, int enough) {
    // Examined in runs with no exit inside a run, so that the compiler can
    // take the extremes of many samples per instruction; a block is read to
    // its end unless it passes `enough`.
    constexpr int kRun = 256;
    int peak = 0;
    for (int i = 0; i < frames && peak <= enough; i += kRun) {
        const int end = std::min(frames, i + kRun);
        int low = 0, high = 0;
        for (int k = i; k < end; ++k) {
            low = std::min(low, int(block[k]));
            high = std::max(high, int(block[k]));
        }
        peak = std::max(peak, std::max(high, -low));
    }
    return peak;
}

std::vector<unsigned char> Judge(const std::vector<int>& peaks, int activeAbove) {
    std::vector<unsigned char> active(peaks.size());
    for (size_t b = 0; b < peaks.size(); ++b)
        active[b] = peaks[b] > activeAbove;
    return active;
}

Span FindSpan(const std::vector<unsigned char>& active) {
    Span span;
    for (size_t b = 0; b < active.size(); ++b) {
        if (!active[b])
            continue;
        if (span.first < 0)
            span.first = int64_t(b);
        span.last = int64_t(b);
    }
    return span;
}

short Regenerate(short* block, int frames, short level, const Settings& settings,
                 Crossings* crossings) {
    // A level of 32,768 (100% of a -32,768 peak) lies beyond every sample, as
    // 32,767 does: nothing starts the wave, so nothing can flip it either.
    const int limit = std::min(settings.switchAbove, 32767);
    const short above = short(limit), below = short(-limit);
    int i = 0;
    // While the level is 0 a negative swing starts nothing; the first sample
    // above the upper threshold starts the wave. Imposed, as is the fade
    // below: those who compare outputs with earlier runs rely on the bytes.
    if (level == 0) {
        for (; i < frames && block[i] <= above; ++i)
            block[i] = 0;
        if (i == frames) {
            if (crossings)
                *crossings = Crossings{};
            return 0;
        }
    }
    // From here on a sample beyond a threshold sets the level's sign and any
    // other keeps it. Noise crosses the thresholds at random, where a branch
    // would mispredict half the time, so one loop turns a run of samples into
    // masks, many per instruction, and a second carries the level through.
    const int sign = settings.invert ? -1 : 1; // written = sign x level
    const int magnitude = level == 0 ? settings.amplitude : std::abs(int(level));
    const short up = short(sign * magnitude);
    const short down = short(-up);
    int out = sign * level; // as written to the block
    constexpr int kRun = 256;
    short keep[kRun], set[kRun];
    Crossings count;
    for (; i < frames; i += kRun) {
        const int n = std::min(kRun, frames - i);
        short runAbove = 0, runBelow = 0; // minus the counts: the masks are -1
        for (int k = 0; k < n; ++k) {
            const short s = block[i + k];
            const short isUp = short(-short(s > above));
            const short isDown = short(-short(s < below));
            keep[k] = short(~(isUp | isDown));
            set[k] = short((up & isUp) | (down & isDown));
            runAbove = short(runAbove + isUp);
            runBelow = short(runBelow + isDown);
        }
        count.above -= runAbove;
        count.below -= runBelow;
        for (int k = 0; k < n; ++k) {
            out = (out & keep[k]) | set[k];
            block[i + k] = short(out);
        }
    }
    if (crossings)
        *crossings = count;
    return short(sign * out);
}

void MakeFade(short* block, short level) {
    // From the level itself, not the negation written before it (imposed,
    // see Regenerate). The ratio is formed first, in double precision, and
    // the product truncated: scaling by (kBlockFrames - i) before dividing
    // rounds some samples differently (sample 4,992 of a 30,000 fade would
    // be 15,375).
    for (int i = 0; i < kBlockFrames; ++i) {
        const double ratio = (kBlockFrames - i) / double(kBlockFrames);
        block[i] = short(level * ratio);
    }
}

void LoadSignal(CWave& in, short* block, int frames, Channel channel, std::vector<float>& scratch) {
    if (channel == Channel::kMix) {
        in.LoadWaveShort(block, frames, 0, 0);
        return;
    }
    // The float loader picks one channel or their difference; v / 32768 is
    // exact in a float, so scaling back gives the 16-bit value itself.
    scratch.resize(size_t(frames));
    in.LoadWaveFloat(scratch.data(), frames, int(channel) << CWave::kMixShift, 0);
    for (int i = 0; i < frames; ++i)
        block[i] = short(scratch[size_t(i)] * 32768.0f);
}

std::optional<Scan> ScanActivity(CWave& in, short* block, int blocks, Channel channel, int enough,
                                 const std::function<void(int block, int peak)>& judged) {
    Scan scan;
    scan.peaks.assign(size_t(blocks > 0 ? blocks : 0), 0);
    std::vector<float> scratch;
    // Positioned as SetTopPage would, but a failed seek is reported: the
    // pass would otherwise judge whatever the stream happens to hold.
    if (in.SetPos(0) != 0)
        return std::nullopt;
    // The block count comes from the declared data size, which may promise
    // far more than the file holds. Once a load comes up short the file has
    // ended and every later block would read as silence, so those blocks
    // keep a peak of 0 unread: the work follows the file, not the size field.
    const uint64_t start = in.GetLoadedFrames();
    for (int b = 0; b < blocks; ++b) {
        if (!scan.ended) {
            const uint64_t before = in.GetLoadedFrames();
            LoadSignal(in, block, kBlockFrames, channel, scratch);
            // Block 0 is never judged, an oddity the verdict lines' readers
            // rely on (imposed).
            if (b > 0)
                scan.peaks[size_t(b)] = Peak(block, kBlockFrames, enough);
            scan.ended = in.GetLoadedFrames() - before < uint64_t(kBlockFrames);
        }
        scan.peak = std::max(scan.peak, scan.peaks[size_t(b)]);
        if (b > 0 && judged)
            judged(b, scan.peaks[size_t(b)]);
    }
    scan.framesRead = in.GetLoadedFrames() - start;
    return scan;
}

std::optional<short> RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span,
                                    const Settings& settings, std::vector<Crossings>* crossings) {
    short level = 0;
    if (span.first < 0 || span.first >= blocks)
        return level;
    std::vector<float> scratch;
    // Blocks outside the span would be read only to be dropped: the ones
    // before it are skipped over, the ones after it are never reached. A
    // stream that cannot go back to the first sample would regenerate
    // silence, so that is a failure.
    if (in.SetPos(0) != 0)
        return std::nullopt;
    in.SkipFrames(int(span.first) * kBlockFrames);
    for (int64_t b = span.first; b <= span.last && b < blocks; ++b) {
        LoadSignal(in, block, kBlockFrames, settings.channel, scratch);
        Crossings count;
        level = Regenerate(block, kBlockFrames, level, settings, &count);
        if (crossings)
            crossings->push_back(count);
        out.OutputWaveFrameByMono(block, kBlockFrames);
    }
    return level;
}

void AppendFade(CWave& out, short* block, short level) {
    MakeFade(block, level);
    out.OutputWaveFrameByMono(block, kBlockFrames);
}

} // namespace regen
