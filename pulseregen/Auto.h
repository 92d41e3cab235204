// The choices of --auto, made from the recording itself: which signal to
// judge, the levels, and the window of the baseline taken out before the
// switch compares. The block functions are pure; the passes at the end drive
// CWave objects.
#pragma once

#include "Regen.h"

#include <array>
#include <cstdint>
#include <optional>
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

// Writes x[i] minus the mean of the `window` samples centred on it (from
// i - window / 2 to i + window - window / 2 - 1), clamped to 16 bits, for i
// from 0 to frames - 1. `x` must be readable from -window / 2 to
// frames + window - window / 2 - 2. A window of 0 copies.
void RemoveBaseline(const short* x, int frames, int window, short* out);
// The same with its working memory in `sums`, so that a pass over many
// blocks allocates it once.
void RemoveBaseline(const short* x, int frames, int window, short* out, std::vector<int32_t>& sums);

// Appends the intervals between the flips of a two-threshold switch at
// +-`above` over `frames` samples, once a provisional baseline is out; the
// first and last half-window of samples, whose baseline is unknown here,
// only serve as context.
void FlipIntervals(const short* x, int frames, int above, std::vector<int>& intervals);
// The baseline window for flips `intervals` apart: a few of the longest
// common pulses, so that the mean over it cancels the pulses themselves.
int WindowFor(std::vector<int> intervals);

constexpr int kMaxWindow = 8192; // at most a block's worth of look-ahead
constexpr int kNoWindow = 0;

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
// positioned at its first sample.
std::optional<SwingScan> ScanSwings(CWave& in, short* block, std::optional<Channel> channel);
// Reads the first few active blocks and returns the baseline window that
// their flips at +-`switchAbove` call for. Empty on a failed seek.
std::optional<int> ProbeWindow(CWave& in, const std::vector<unsigned char>& active, Channel channel,
                               int switchAbove);
// The signal that ChooseChannel picks from a few blocks spread over a
// two-channel file (the mix for any other file). Empty on a failed seek.
std::optional<Channel> SampleWidest(CWave& in);
// The regeneration pass with the baseline taken out over `window` frames:
// the span's blocks (a trailing part block included) regenerated into
// `out`. Returns the level it ends on; empty on a failed seek. `crossings`,
// when given, receives one record per block regenerated.
std::optional<short> RegenerateTracked(CWave& in, CWave& out, Span span, int window,
                                       const Settings& settings,
                                       std::vector<Crossings>* crossings = nullptr);

} // namespace regen
