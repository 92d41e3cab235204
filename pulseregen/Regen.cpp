#include "Regen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace regen {

bool IsActive(const short* block, int frames) {
    // Examined in runs with no exit inside a run, so that the compiler can
    // take the extremes of many samples per instruction; a quiet block is
    // read to its end.
    constexpr int kRun = 256;
    for (int i = 0; i < frames; i += kRun) {
        const int end = std::min(frames, i + kRun);
        int low = 0, high = 0;
        for (int k = i; k < end; ++k) {
            low = std::min(low, int(block[k]));
            high = std::max(high, int(block[k]));
        }
        if (high > kActiveAbove || low < -kActiveAbove)
            return true;
    }
    return false;
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

short Regenerate(short* block, int frames, short level) {
    int i = 0;
    // While the level is 0 a negative swing starts nothing; the first sample
    // above the upper threshold starts the wave.
    if (level == 0) {
        for (; i < frames && block[i] <= kSwitchAbove; ++i)
            block[i] = 0;
        if (i == frames)
            return 0;
    }
    // From here on the level never returns to 0: a sample above the upper
    // threshold makes it positive, one below the lower threshold negative
    // (flipping the sign of the level it had), any other keeps it. On noise
    // the thresholds are crossed at random and a branch on them would
    // mispredict half the time, so the work is split in two loops without
    // branches: the first finds, for a run of samples, the value each one
    // sets (as a mask that keeps the running value, and the value to merge
    // in), many samples per instruction; the second carries the running
    // value through the run with one and and one or per sample.
    const short up = short(level == 0 ? -kPulseLevel : -std::abs(int(level)));
    const short down = short(-up);
    int out = -level; // the negated level, as written to the block
    constexpr int kRun = 256;
    short keep[kRun], set[kRun];
    for (; i < frames; i += kRun) {
        const int n = std::min(kRun, frames - i);
        for (int k = 0; k < n; ++k) {
            const short s = block[i + k];
            const short isUp = short(-short(s > kSwitchAbove));
            const short isDown = short(-short(s < -kSwitchAbove));
            keep[k] = short(~(isUp | isDown));
            set[k] = short((up & isUp) | (down & isDown));
        }
        for (int k = 0; k < n; ++k) {
            out = (out & keep[k]) | set[k];
            block[i + k] = short(out);
        }
    }
    return short(-out);
}

void MakeFade(short* block, short level) {
    // The ratio is formed first, in double precision, and the product
    // truncated: scaling by (kBlockFrames - i) before dividing rounds some
    // samples differently (sample 4,992 of a 30,000 fade would be 15,375).
    for (int i = 0; i < kBlockFrames; ++i) {
        const double ratio = (kBlockFrames - i) / double(kBlockFrames);
        block[i] = short(level * ratio);
    }
}

bool SameFile(const char* input, const char* output) {
    if (std::strcmp(input, output) == 0)
        return true;
    struct stat a, b;
    return stat(input, &a) == 0 && stat(output, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool ScanActivity(CWave& in, short* block, int blocks, std::vector<unsigned char>& active) {
    active.assign(size_t(blocks > 0 ? blocks : 0), 0);
    // Positioned as SetTopPage would, but a failed seek is reported: the
    // pass would otherwise judge whatever the stream happens to hold.
    if (in.SetPos(0) != 0)
        return false;
    // The block count comes from the declared data size, which may promise
    // far more than the file holds. Once a load comes up short the file has
    // ended and every later block would read as silence, so those blocks
    // stay inactive unread: the work follows the file, not the size field.
    for (int b = 0; b < blocks; ++b) {
        const uint64_t before = in.GetLoadedFrames();
        in.LoadWaveShort(block, kBlockFrames, 0, 0);
        if (b > 0)
            active[size_t(b)] = IsActive(block, kBlockFrames);
        if (in.GetLoadedFrames() - before < uint64_t(kBlockFrames))
            break;
    }
    return true;
}

bool RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span, short& level) {
    level = 0;
    if (span.first < 0 || span.first >= blocks)
        return true;
    // Blocks outside the span would be read only to be dropped: the ones
    // before it are skipped over, the ones after it are never reached. A
    // stream that cannot go back to the first sample would regenerate
    // silence, so that is a failure.
    if (in.SetPos(0) != 0)
        return false;
    in.SkipFrames(int(span.first) * kBlockFrames);
    for (int64_t b = span.first; b <= span.last && b < blocks; ++b) {
        in.LoadWaveShort(block, kBlockFrames, 0, 0);
        level = Regenerate(block, kBlockFrames, level);
        out.OutputWaveFrameByMono(block, kBlockFrames);
    }
    return true;
}

void AppendFade(CWave& out, short* block, short level) {
    MakeFade(block, level);
    out.OutputWaveFrameByMono(block, kBlockFrames);
}

} // namespace regen
