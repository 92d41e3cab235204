// The steps of one pulseregen run: judging blocks, finding the loud span,
// regenerating it as a square wave and fading out. The block functions are
// pure; the passes drive CWave objects.
#pragma once

#include "Wave.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace regen {

constexpr int kBlockFrames = 10240;
constexpr int kActiveAbove = 10000; // a block with a larger magnitude is active
constexpr int kSwitchAbove = 8000;  // the square wave flips beyond +-8,000
constexpr short kPulseLevel = 30000;
constexpr CWave::tOutputWaveFormat kOutputFormat{44100, 2, 1};

// The judged signal of a stereo file, as LoadWaveFloat's mix modes; kMix is
// the average of all channels that LoadWaveShort gives.
enum class Channel {
    kMix = CWave::kMixAverage,
    kLeft = CWave::kMixLeft,
    kRight = CWave::kMixRight,
    kDiff = CWave::kMixDifference,
};

// How a run judges and regenerates; the defaults are the tool's own.
struct Settings {
    int activeAbove = kActiveAbove; // a block whose peak exceeds this is active
    int switchAbove = kSwitchAbove; // the wave starts and flips beyond +-this
    short amplitude = kPulseLevel;
    Channel channel = Channel::kMix;
    bool invert = true; // write the negated level, the inverse of the input's swings
};

// What the activity pass found.
struct Scan {
    std::vector<int> peaks;  // each whole block's largest magnitude; 0 for block 0
    int peak = 0;            // the largest of them
    bool ended = false;      // the file ended before the last whole block
    uint64_t framesRead = 0; // frames the pass read whole
};

// First and last active block; both -1 when no block is active.
struct Span {
    int64_t first = -1;
    int64_t last = -1;
};

// How many samples of a block lay beyond the upper and below the lower
// threshold once the wave had started.
struct Crossings {
    int above = 0;
    int below = 0;
};

// Every magnitude is at most 32,768: a bound that asks for exact peaks.
constexpr int kExactPeaks = 32768;

// The largest sample magnitude, widened to 32 bits (-32,768 gives 32,768).
// Once it exceeds `enough` the rest of the block may go unexamined, and the
// result is then only known to exceed `enough`.
int Peak(const short* block, int frames, int enough = kExactPeaks);
// One flag per block: its peak exceeds `activeAbove`.
std::vector<unsigned char> Judge(const std::vector<int>& peaks, int activeAbove);
Span FindSpan(const std::vector<unsigned char>& active);
// Replaces each sample by the level of the two-threshold switch (negated
// unless `settings.invert` is false) and returns the level it leaves, to
// carry into the next block. `crossings`, when given, receives the counts.
short Regenerate(short* block, int frames, short level, const Settings& settings = Settings{},
                 Crossings* crossings = nullptr);
// One block falling linearly from the level toward 0.
void MakeFade(short* block, short level);

// Loads `frames` frames of the judged signal into `block`, as the loaders
// give it (a file of any channel count).
void LoadSignal(CWave& in, short* block, int frames, Channel channel, std::vector<float>& scratch);

// The activity pass: one peak per whole block (as Peak with `enough`);
// block 0 is read but never judged. `judged`, when set, hears each block
// from 1 on with its peak as soon as it is known. Empty when the input
// cannot be positioned at its first sample.
std::optional<Scan> ScanActivity(CWave& in, short* block, int blocks,
                                 Channel channel = Channel::kMix, int enough = kExactPeaks,
                                 const std::function<void(int block, int peak)>& judged = {});
// The regeneration pass: reads the span's blocks alone (skipping the ones
// before it), appends them regenerated to `out`, returns the level it ends
// on. Empty when the input cannot be positioned at its first sample.
// `crossings`, when given, receives one record per block of the span.
std::optional<short> RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span,
                                    const Settings& settings = Settings{},
                                    std::vector<Crossings>* crossings = nullptr);
void AppendFade(CWave& out, short* block, short level);

} // namespace regen
