// The verdicts on the blocks: a block is active when its largest magnitude
// exceeds the active level, and the span runs from the first active block
// to the last.
#pragma once

#include "Settings.h"

#include <vector>

namespace regen {

// The largest sample magnitude, widened to 32 bits (-32,768 gives 32,768).
// Once it exceeds `enough` the rest of the block may go unexamined, and the
// result is then only known to exceed `enough`.
int Peak(const short* block, int frames, int enough = kExactPeaks);
// One flag per block: its peak exceeds `activeAbove`.
std::vector<unsigned char> Judge(const std::vector<int>& peaks, int activeAbove);
Span FindSpan(const std::vector<unsigned char>& active);

} // namespace regen
