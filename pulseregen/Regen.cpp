#include "Regen.h"

#include <cstring>
#include <sys/stat.h>

namespace regen {

bool IsActive(const short* block, int frames) {
    for (int i = 0; i < frames; ++i) {
        const int s = block[i];
        if (s > kActiveAbove || s < -kActiveAbove)
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
    for (int i = 0; i < frames; ++i) {
        const int s = block[i];
        if (level == 0) {
            if (s > kSwitchAbove)
                level = kPulseLevel;
        } else if ((level > 0 && s < -kSwitchAbove) || (level < 0 && s > kSwitchAbove)) {
            level = short(-level);
        }
        block[i] = short(-level);
    }
    return level;
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

std::vector<unsigned char> ScanActivity(CWave& in, short* block, int blocks) {
    std::vector<unsigned char> active(size_t(blocks > 0 ? blocks : 0), 0);
    in.SetTopPage();
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
    return active;
}

short RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span) {
    short level = 0;
    in.SetTopPage();
    // Blocks after the span would only be loaded and dropped.
    for (int b = 0; b < blocks && b <= span.last; ++b) {
        in.LoadWaveShort(block, kBlockFrames, 0, 0);
        if (!span.Contains(b))
            continue;
        level = Regenerate(block, kBlockFrames, level);
        out.OutputWaveFrameByMono(block, kBlockFrames);
    }
    return level;
}

void AppendFade(CWave& out, short* block, short level) {
    MakeFade(block, level);
    out.OutputWaveFrameByMono(block, kBlockFrames);
}

} // namespace regen
