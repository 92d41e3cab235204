// The command line of pulseregen: options in GNU form, parsed into one
// record, and the usage, help and version texts.
#pragma once

#include "Regen.h"

#include <cstdint>
#include <string>

namespace options {

// A level given as a sample value or as a percentage of the recording's peak.
struct Level {
    int value = 0;        // the sample value, when not a percentage
    bool percent = false; // the level is numerator / denominator percent of the peak
    uint64_t numerator = 0;
    uint64_t denominator = 1;

    // The level for a recording whose judged signal peaks at `peak`: the
    // percentage of it, rounded down.
    int Resolve(int peak) const;
};

enum class Action { kRun, kHelp, kVersion, kUsage };

struct Options {
    Action action = Action::kRun;
    std::string error; // what was wrong, for kUsage
    const char* input = nullptr;
    const char* output = nullptr;
    Level active{regen::kActiveAbove};
    Level switchAt{regen::kSwitchAbove};
    regen::Settings settings; // levels resolved once the peak is known
    bool keepRate = false;
    bool quiet = false;
    bool anyWav = false; // read any WAV that players read, not only 16-bit PCM
    // --auto chooses what no option names; these record what was named.
    bool automatic = false;
    bool activeGiven = false;
    bool switchGiven = false;
    bool channelGiven = false;
    int baseline = -1; // the baseline window in frames, 0 for none; -1 unless given
};

// Parses argv; never prints.
Options Parse(int argc, char* argv[]);
// Parses LEVEL: an integer from 0 to 32767, or P% with 0 < P <= 100 and at
// most nine decimals. False when malformed or out of range.
bool ParseLevel(const char* text, Level& level);

// The --channel value that names `channel`.
const char* ChannelName(regen::Channel channel);

void PrintUsage(const char* program);
void PrintHelp(const char* program);
void PrintVersion();

} // namespace options
