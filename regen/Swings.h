// The measurements --auto makes of the recording: the swings of every block
// for each judged signal, and what follows from them (the levels, the
// signal to judge, the verdicts, the span).
#pragma once

#include "Settings.h"

#include <array>
#include <cstdint>
#include <vector>

namespace regen {

// A swing is half the peak-to-peak of the judged signal within one run of
// this many frames: short enough that DC and slow wander (pink noise, hum,
// AC-coupling droop) barely move it, long enough to hold a few pulses.
constexpr int kSwingRun = 256;
constexpr int kSignals = 4; // the judged signals, indexed by Channel

// What the analysis keeps of one block, for each judged signal: the median
// of its runs' swings (its typical swing, which a click or a short burst of
// noise does not move) and the largest of them (which a block that holds
// only the first or the last few pulses still shows).
struct BlockSwings {
    std::array<uint16_t, kSignals> typical{};
    std::array<uint16_t, kSignals> peak{};
};

// The swings of `frames` interleaved stereo frames for the four signals.
// Mix and difference are taken as (L >> 1) + (R >> 1) and (L >> 1) - (R >> 1):
// within 1 of the loaders' values, close enough to measure a swing.
BlockSwings MeasureStereo(const short* interleaved, int frames);
// The swings of one judged signal, stored for `channel` (the others stay 0).
BlockSwings MeasureMono(const short* samples, int frames, Channel channel);

// The typical swing of the loud blocks: the median of the blocks' typical
// swings among those at least half the largest. 0 when there is no block.
int LoudSwing(const std::vector<BlockSwings>& blocks, Channel channel);
// The largest swing of any block.
int LargestSwing(const std::vector<BlockSwings>& blocks, Channel channel);
// The mix, unless a channel or the difference swings much wider (one silent
// channel halves the mix; out-of-phase channels cancel in it).
Channel ChooseChannel(const std::vector<BlockSwings>& blocks);

// The active level for --auto: half the loud blocks' largest swing, or
// lower where the noise floor between bursts lies far below it, so that
// sparse pulses and a quieter burst later on count as the default run
// counts them, while the noise floor itself never does.
int ActiveLevelFrom(const std::vector<BlockSwings>& blocks, Channel channel);
// Levels that follow from the loud blocks' typical swing.
int ActiveLevelFor(int loudSwing);
int SwitchLevelFor(int loudSwing);

// Whether most active blocks of `span` never swung past the switch level
// both ways, a sign that the levels do not fit the recording. `crossings`
// holds one record per block of the span.
bool MostlyShortOfSwitch(const std::vector<unsigned char>& active, Span span,
                         const std::vector<Crossings>& crossings);

// Each block's flag: its largest swing exceeds `activeAbove`.
std::vector<unsigned char> JudgeSwings(const std::vector<BlockSwings>& blocks, Channel channel,
                                       int activeAbove);
// The span widened by one block at each end, within [0, blocks): the pulses
// that start or end a burst below the active level are kept whole.
Span Widen(Span span, int64_t blocks);

} // namespace regen
