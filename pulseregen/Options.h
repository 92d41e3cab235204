// The command line of pulseregen: options in GNU form, declared once in a
// table that drives the parse and the help, parsed into one record; the
// usage, help and version texts; and the exit statuses.
#pragma once

#include "Settings.h"

#include <cstdint>
#include <string>

namespace options {

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1, // a file could not be read or written
    kExitUsage = 2,
    // --auto found no pulse train (silence, or noise): nothing is written,
    // so that a batch job can sort blank recordings out.
    kExitNothingFound = 3,
};

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

// kUsage: the files are not two different ones, which the usage text
// describes; kBadOption: an option or its value is wrong, which the usage
// text does not mention.
enum class Action { kRun, kHelp, kVersion, kUsage, kBadOption };

// What the command line asked for. The levels stay as given: a run resolves
// them once the recording's peak is known.
struct Options {
    Action action = Action::kRun;
    std::string usageError; // what was wrong, for kUsage and kBadOption
    const char* input = nullptr;
    const char* output = nullptr;
    Level active{regen::kActiveAbove};
    Level switchAt{regen::kSwitchAbove};
    regen::Settings settings; // amplitude, channel and inversion as given
    bool keepRate = false;
    bool quiet = false;
    bool anyWav = false; // read any WAV that players read, not only 16-bit PCM
    // --auto chooses what no option names; these record what was named.
    bool automatic = false;
    bool activeGiven = false;
    bool switchGiven = false;
    bool channelGiven = false;
    int baseline = -1; // the baseline window in frames, 0 for none; -1 unless given
    int smooth = 0;    // the band filter's window in frames; 0 unless given
    int follow = -1;   // half-periods the levels follow over, 0 for fixed; -1 unless given
    bool lagGiven = false;
    bool balanceGiven = false;
    bool edgesGiven = false;
    bool bandGiven = false;
    bool carrierGiven = false;
    int rate = 0; // Hz the recording is resampled to before anything else; 0: none
};

// The rates --rate takes, in Hz.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;

// Parses a lag: frames with a sign and at most one decimal, within
// +-kMaxLag. False when malformed or out of range.
bool ParseLag(const char* text, double& lag);

// Parses a band: 0, or LOW-HIGH in Hz with 1 <= LOW and HIGH either 0 (no
// upper edge) or above LOW, both within kMaxBand. False when malformed.
bool ParseBand(const char* text, int& low, int& high);

// Parses argv; never prints.
Options Parse(int argc, char* argv[]);
// Parses LEVEL: an integer from 0 to 32767, or P% with 0 < P <= 100 and at
// most nine decimals. False when malformed or out of range.
bool ParseLevel(const char* text, Level& level);

// The --channel value that names `channel`.
const char* ChannelName(regen::Channel channel);

void PrintUsage(const char* program);
// The GNU pointer to the help, as the second line of a refusal.
std::string TryHelp(const char* program);
void PrintHelp(const char* program);
void PrintVersion();

} // namespace options
