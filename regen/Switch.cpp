#include "Switch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace regen {

namespace {

// The switch takes its samples 64 at a time, each a bit of a word.
constexpr int kLanes = 64;

// Eight flags (bytes of 0 or 1) as the low eight bits of a word, the first
// flag the lowest bit: the product moves flag i to bit 56 + i, and no two of
// its partial products share a bit.
uint64_t PackFlags(const unsigned char* flags) {
    uint64_t word;
    std::memcpy(&word, flags, sizeof word);
    return (word * 0x0102040810204080u) >> 56;
}

// 64 flags as the bits of a word, the first flag the lowest bit.
uint64_t PackLanes(const unsigned char* flags) {
    uint64_t bits = 0;
    for (int j = 0; j < kLanes / 8; ++j)
        bits |= PackFlags(flags + 8 * j) << (8 * j);
    return bits;
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
    // waits on the one before: so each run of samples becomes two words of
    // flags, many compared per instruction, and the level is carried through
    // the whole run at once (CarryLevel).
    const int sign = settings.invert ? -1 : 1; // written = sign x level
    const int magnitude = level == 0 ? settings.amplitude : std::abs(int(level));
    const short up = short(sign * magnitude);
    const short down = short(-up);
    bool high = level > 0; // the level is up: `up` is written
    Crossings count;
    unsigned char isAbove[kLanes], isBelow[kLanes];
    for (; i < frames; i += kLanes) {
        const int n = std::min(kLanes, frames - i);
        for (int k = 0; k < n; ++k) {
            isAbove[k] = block[i + k] > above;
            isBelow[k] = block[i + k] < below;
            count.above += isAbove[k];
            count.below += isBelow[k];
        }
        // Samples past the end propagate: the level after the last stays.
        std::fill(isAbove + n, isAbove + kLanes, 0);
        std::fill(isBelow + n, isBelow + kLanes, 0);
        const uint64_t levels = CarryLevel(PackLanes(isAbove), PackLanes(isBelow), high);
        WriteLevels(block + i, n, levels, up, down);
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
