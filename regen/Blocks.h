// The blocks of a recording of `length` frames when the trailing part
// block counts too.
#pragma once

#include "Settings.h"

#include <algorithm>
#include <cstdint>

namespace regen {

inline int64_t BlockCount(int64_t length) {
    return (length + kBlockFrames - 1) / kBlockFrames;
}

inline int FramesOf(int64_t block, int64_t length) {
    return int(std::min<int64_t>(kBlockFrames, length - block * kBlockFrames));
}

} // namespace regen
