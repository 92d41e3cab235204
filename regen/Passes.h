// The passes over a recording, each one block at a time: the activity pass
// that judges the blocks, and the regeneration passes, each the chain of
// stages the run calls for between the loader and the output.
#pragma once

#include "Settings.h"
#include "Wave.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace regen {

// What the activity pass found.
struct Scan {
    std::vector<int> peaks;  // each whole block's largest magnitude; 0 for block 0
    int peak = 0;            // the largest of them
    bool ended = false;      // the file ended before the last whole block
    uint64_t framesRead = 0; // frames the pass read whole
};

// The activity pass: one peak per whole block (as Peak with `enough`);
// block 0 is read but never judged. `judged`, when set, hears each block
// from 1 on with its peak as soon as it is known. Empty when the input
// cannot be positioned at its first sample.
std::optional<Scan> ScanActivity(CWave& in, short* block, int blocks,
                                 Channel channel = Channel::kMix, int enough = kExactPeaks,
                                 const std::function<void(int block, int peak)>& judged = {});
class Held;

// What the pass that judges and regenerates in one read found.
struct JudgedRun {
    Scan scan;
    Span span;
    short level = 0; // the switch's level at the end of the span
};
// The activity pass and the regeneration pass in one read of the input, for
// levels known before the recording is read: each whole block from 1 on is
// judged by whether its peak exceeds `settings.activeAbove` (`judged` hears
// each one as ScanActivity's does), and from the first active block on each
// one is regenerated. A block is appended to `out` once it is known to lie
// within the span: an active block at once, with any blocks `held` kept
// since the previous active one; blocks after the last are dropped. The
// output is the one RegenerateSpan writes for the span the verdicts give.
// Empty, with errno set, when the input cannot be positioned at its first
// sample or `held` fails; `crossings` receives one record per span block.
std::optional<JudgedRun> JudgeAndRegenerate(CWave& in, CWave& out, short* block, int blocks,
                                            const Settings& settings, Held& held,
                                            const std::function<void(int block, int peak)>& judged,
                                            std::vector<Crossings>* crossings = nullptr);
// The regeneration pass: reads the span's whole blocks alone (skipping the
// ones before it), appends them regenerated to `out`, returns the level it
// ends on. Empty when the input cannot be positioned at its first sample.
// `crossings`, when given, receives one record per block of the span.
std::optional<short> RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span,
                                    const Settings& settings = Settings{},
                                    std::vector<Crossings>* crossings = nullptr);
// The regeneration pass with the baseline taken out over `window` frames
// (none for 0): the span's blocks (a trailing part block included)
// regenerated into `out`. Returns the level it ends on; empty on a failed
// seek. `crossings`, when given, receives one record per block regenerated.
std::optional<short> RegenerateTracked(CWave& in, CWave& out, Span span, int window,
                                       const Settings& settings,
                                       std::vector<Crossings>* crossings = nullptr);
// The fade block, from the level the switch ended on.
void AppendFade(CWave& out, short* block, short level);

} // namespace regen
