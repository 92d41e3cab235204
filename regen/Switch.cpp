#include "Switch.h"

#include "Lanes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace regen {

namespace {

// The switch takes its samples 64 at a time, each a bit of a word.
constexpr int kLanes = 64;

// The masks of the samples above `high` and below `low` among `frames`
// (at most kLanes) from `block`, the first sample the lowest bit: a whole
// run 16 samples at a time in vector lanes, a shorter one sample by sample.
void Beyond(const short* block, int frames, short high, short low, uint64_t& above,
            uint64_t& below) {
    above = below = 0;
    if (frames == kLanes) {
        for (int k = 0; k < kLanes; k += 2 * lanes::kShorts) {
            uint32_t a, b;
            lanes::Beyond(block + k, high, low, a, b);
            above |= uint64_t(a) << k;
            below |= uint64_t(b) << k;
        }
        return;
    }
    for (int k = 0; k < frames; ++k) {
        above |= uint64_t(block[k] > high) << k;
        below |= uint64_t(block[k] < low) << k;
    }
}

// The bits set in `bits`. Without a population count in the base x86-64
// set, the builtin is a call into the compiler's library.
int Ones(uint64_t bits) {
#if defined(__POPCNT__) || defined(__aarch64__)
    return __builtin_popcountll(bits);
#else
    bits -= bits >> 1 & 0x5555555555555555u;
    bits = (bits & 0x3333333333333333u) + (bits >> 2 & 0x3333333333333333u);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return int((bits * 0x0101010101010101u) >> 56);
#endif
}

// The level through 64 samples, a bit each: 1 where it is up after the
// sample. It is up after a sample above the upper threshold (a bit of
// `above`), down after one below the lower (a bit of `below`), and after any
// other as it was before. That is the carry of a binary addition, which a
// sample above generates, a sample below kills and any other propagates: one
// addition carries the level through all 64. `up` is whether the level is up
// before the first sample, and becomes whether it is after the last.
uint64_t CarryLevel(uint64_t above, uint64_t below, bool& up) {
    const uint64_t propagate = ~(above | below);
    const uint64_t addend = above | propagate; // with `above`: generates, propagates
    const uint64_t carries = (addend + above + uint64_t(up)) ^ addend ^ above; // into each bit
    up = ((above | (propagate & carries)) >> 63) != 0;                         // out of the last
    return carries >> 1 | uint64_t(up) << 63;
}

// For each byte of levels, masks of 0xFFFF where its bits are 1, four
// samples to a word: the eight samples are written as down ^ ((up ^ down) &
// mask), two words at a time.
struct Spread {
    uint64_t masks[256][2];
};
constexpr Spread MakeSpread() {
    Spread spread{};
    for (int byte = 0; byte < 256; ++byte)
        for (int k = 0; k < 8; ++k)
            if (byte >> k & 1)
                spread.masks[byte][k / 4] |= uint64_t(0xFFFF) << (16 * (k % 4));
    return spread;
}
constexpr Spread kSpread = MakeSpread();

// Writes `frames` (at most kLanes) samples from the level bits: `up` where a
// bit is 1, `down` where it is 0.
void WriteLevels(short* block, int frames, uint64_t levels, short up, short down) {
    constexpr uint64_t kEach = 0x0001000100010001u; // a 16-bit value in every lane
    const uint64_t downs = uint16_t(down) * kEach, flips = uint16_t(up ^ down) * kEach;
    int k = 0;
    for (; k + 8 <= frames; k += 8) {
        const uint64_t* mask = kSpread.masks[levels >> k & 0xFF];
        const uint64_t words[2] = {downs ^ (flips & mask[0]), downs ^ (flips & mask[1])};
        std::memcpy(block + k, words, sizeof words);
    }
    for (; k < frames; ++k)
        block[k] = levels >> k & 1 ? up : down;
}

} // namespace

short Regenerate(short* block, int frames, short level, const Settings& settings,
                 Crossings* crossings) {
    // A level of 32,768 (100% of a -32,768 peak) lies beyond every sample, as
    // 32,767 does: nothing starts the wave, so nothing can flip it either.
    // A level is at least 0, so that no sample lies beyond both thresholds.
    const int limit = std::clamp(settings.switchAbove, 0, 32767);
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
    // would mispredict half the time, and a level carried sample by sample
    // waits on the one before: so each run of samples becomes two masks,
    // compared many to an instruction, and the level is carried through the
    // whole run at once (CarryLevel).
    const int sign = settings.invert ? -1 : 1; // written = sign x level
    const int magnitude = level == 0 ? settings.amplitude : std::abs(int(level));
    const short up = short(sign * magnitude);
    const short down = short(-up);
    bool high = level > 0; // the level is up: `up` is written
    Crossings count;
    for (; i < frames; i += kLanes) {
        const int n = std::min(kLanes, frames - i);
        // Samples past the end propagate: the level after the last stays.
        uint64_t isAbove, isBelow;
        Beyond(block + i, n, above, below, isAbove, isBelow);
        count.above += Ones(isAbove);
        count.below += Ones(isBelow);
        WriteLevels(block + i, n, CarryLevel(isAbove, isBelow, high), up, down);
    }
    if (crossings)
        *crossings = count;
    return short(sign * (high ? up : down));
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
