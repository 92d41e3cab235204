// The passes of --auto's analysis: every block's swings, the flips of the
// first active blocks, and a sample of blocks to tell the weak signal.
#pragma once

#include "Swings.h"
#include "Wave.h"

#include <optional>
#include <vector>

namespace regen {

// What the analysis pass found.
struct SwingScan {
    std::vector<BlockSwings> blocks; // whole blocks, then the trailing part block
    int channels = 0;                // of the file
    bool ended = false;              // the file ended before its declared length
    uint64_t framesRead = 0;
};

// The analysis pass: every block from 0 on, the trailing part block too.
// With `channel` set only that signal is measured; otherwise a two-channel
// file has all four measured from one load. Empty when the input cannot be
// positioned at its first sample. `beside`, where given, is a second reader
// of the same file, which reads the later half of a long one meanwhile.
std::optional<SwingScan> ScanSwings(CWave& in, std::optional<Channel> channel,
                                    CWave* beside = nullptr);
// Reads the first few active blocks and returns the baseline window that
// their flips at +-`switchAbove` call for. Empty on a failed seek.
std::optional<int> ProbeWindow(CWave& in, const std::vector<unsigned char>& active, Channel channel,
                               int switchAbove);
// The signal that ChooseChannel picks from a few blocks spread over a
// two-channel file (the mix for any other file). Empty on a failed seek.
std::optional<Channel> SampleWidest(CWave& in);

} // namespace regen
