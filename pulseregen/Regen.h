// The steps of one pulseregen run: judging blocks, finding the loud span,
// regenerating it as a square wave and fading out. The block functions are
// pure; the passes drive CWave objects.
#pragma once

#include "Wave.h"

#include <cstdint>
#include <vector>

namespace regen {

constexpr int kBlockFrames = 10240;
constexpr int kActiveAbove = 10000; // a block with a larger magnitude is active
constexpr int kSwitchAbove = 8000;  // the square wave flips beyond +-8,000
constexpr short kPulseLevel = 30000;
constexpr CWave::tOutputWaveFormat kOutputFormat{44100, 2, 1};

// First and last active block; both -1 when no block is active.
struct Span {
    int64_t first = -1;
    int64_t last = -1;
    bool Contains(int64_t block) const { return first >= 0 && block >= first && block <= last; }
};

// True when some sample's magnitude, widened to 32 bits, exceeds 10,000.
bool IsActive(const short* block, int frames);
Span FindSpan(const std::vector<unsigned char>& active);
// Replaces each sample by the negated level of the two-threshold switch and
// returns the level it leaves, to carry into the next block.
short Regenerate(short* block, int frames, short level);
// One block falling linearly from the level toward 0.
void MakeFade(short* block, short level);

// True when the two paths name the same file: the same string, or an
// existing output that is the input under another name or link.
bool SameFile(const char* input, const char* output);

// The activity pass: one flag per whole block in `active`; block 0 is read
// but never judged. False when the input cannot be positioned at its first
// sample.
bool ScanActivity(CWave& in, short* block, int blocks, std::vector<unsigned char>& active);
// The regeneration pass: reads the span's blocks alone (skipping the ones
// before it), appends them regenerated to `out` and sets `level` to the level
// it ends on. False when the input cannot be positioned at its first sample.
bool RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span, short& level);
void AppendFade(CWave& out, short* block, short level);

} // namespace regen
