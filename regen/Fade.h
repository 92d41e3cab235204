// The end of every output: one block falling linearly from the level the
// switch held toward 0.
#pragma once

namespace regen {

// One block (kBlockFrames samples) of the fade.
void MakeFade(short* block, short level);

} // namespace regen
