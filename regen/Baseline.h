// The baseline taken out before the decision: each sample minus the mean of
// the window centred on it, so that DC, hum and a slow wander no longer
// move the signal across the switch.
#pragma once

#include <cstdint>
#include <vector>

namespace regen {

// Writes x[i] minus the mean of the `window` samples centred on it (from
// i - window / 2 to i + window - window / 2 - 1), clamped to 16 bits, for i
// from 0 to frames - 1. `x` must be readable from -window / 2 to
// frames + window - window / 2 - 2. A window of 0 copies.
void RemoveBaseline(const short* x, int frames, int window, short* out);
// The same with its working memory in `sums`, so that a pass over many
// blocks allocates it once.
void RemoveBaseline(const short* x, int frames, int window, short* out, std::vector<int32_t>& sums);

} // namespace regen
