#include "Switch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace regen {

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

int Switch::Flow(const short* in, int frames, short* out) {
    if (out != in)
        std::memmove(out, in, size_t(frames) * sizeof(short));
    // Cut at the output's block boundaries, so that each block's crossings
    // are its own; the level carries across the cuts.
    for (int done = 0; done < frames;) {
        if (m_intoBlock == 0 && m_crossings)
            m_crossings->push_back(Crossings{});
        const int n = std::min(frames - done, kBlockFrames - m_intoBlock);
        Crossings count;
        m_level = Regenerate(out + done, n, m_level, m_settings, &count);
        if (m_crossings) {
            m_crossings->back().above += count.above;
            m_crossings->back().below += count.below;
        }
        done += n;
        m_intoBlock = (m_intoBlock + n) % kBlockFrames;
    }
    return frames;
}

} // namespace regen
