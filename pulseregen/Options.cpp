// Parsing is strict: a value with anything after its number, or beyond its
// range, refuses the run rather than guessing.
#include "Options.h"

#include "Diagnostics.h"
#include "Flips.h"
#include "Values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <vector>

#ifndef PROJECT_VERSION_STRING
#error "PROJECT_VERSION_STRING must give the program's version"
#endif

namespace options {

namespace {

const struct {
    const char* name;
    regen::Channel channel;
} kChannelNames[] = {{"mix", regen::Channel::kMix},
                     {"left", regen::Channel::kLeft},
                     {"right", regen::Channel::kRight},
                     {"diff", regen::Channel::kDiff}};

bool ParseChannel(const char* text, regen::Channel& channel) {
    for (const auto& n : kChannelNames) {
        if (std::strcmp(text, n.name) == 0) {
            channel = n.channel;
            return true;
        }
    }
    return false;
}

Options Refuse(Options o, const std::string& what, Action action = Action::kBadOption) {
    o.action = action;
    o.usageError = what;
    return o;
}

} // namespace

bool ParseBand(const char* text, int& low, int& high) {
    const std::string t = text;
    if (t == "0") {
        low = high = 0;
        return true;
    }
    const size_t dash = t.find('-');
    if (dash == std::string::npos)
        return false;
    uint64_t a = 0, b = 0;
    if (!ParseCount(t.substr(0, dash).c_str(), kMaxBand, a) ||
        !ParseCount(t.substr(dash + 1).c_str(), kMaxBand, b) || a == 0 || (b != 0 && b <= a))
        return false;
    low = int(a);
    high = int(b);
    return true;
}

const char* ChannelName(regen::Channel channel) {
    for (const auto& n : kChannelNames)
        if (n.channel == channel)
            return n.name;
    return "mix";
}

namespace {

// What an option does to the record, given its value (null for an option
// that takes none); the reason it refuses the value, or empty.
using Apply = std::string (*)(Options& o, const char* value);

// One option, declared once for getopt_long, the parse and --help.
struct OptionEntry {
    const char* name;
    char letter;
    const char* value; // its name in the help; null for an option without one
    std::string help;  // lines after the first are indented under it
    Apply apply;
};

std::string Quoted(const char* value) {
    return std::string("'") + value + "'";
}

// The options that only switch something on, and the ones that answer alone.
template <bool Options::*kFlag> std::string Set(Options& o, const char*) {
    o.*kFlag = true;
    return "";
}
template <Action kAction> std::string Answer(Options& o, const char*) {
    o.action = kAction;
    return "";
}

const std::vector<OptionEntry>& Table() {
    static const std::string kSample = std::to_string(kMaxSample);
    static const std::vector<OptionEntry> table = {
        {"active", 'a', "LEVEL",
         "a block is active when the judged signal exceeds LEVEL\n"
         "in magnitude (default " +
             std::to_string(regen::kActiveAbove) + ")",
         [](Options& o, const char* v) {
             o.activeGiven = true;
             return ParseLevel(v, o.active) ? "" : "invalid active level " + Quoted(v);
         }},
        {"switch", 's', "LEVEL",
         "the wave starts and flips when the judged signal passes\n"
         "+LEVEL or -LEVEL (default " +
             std::to_string(regen::kSwitchAbove) + ")",
         [](Options& o, const char* v) {
             o.switchGiven = true;
             return ParseLevel(v, o.switchAt) ? "" : "invalid switch level " + Quoted(v);
         }},
        {"amplitude", 'A', "N",
         "level of the regenerated wave, 1 to " + kSample + " (default " +
             std::to_string(regen::kPulseLevel) + ")",
         [](Options& o, const char* v) {
             uint64_t amplitude = 0;
             if (!ParseCount(v, kMaxSample, amplitude) || amplitude == 0)
                 return "invalid amplitude " + Quoted(v) + " (1 to " + kSample + ")";
             o.settings.amplitude = short(amplitude);
             return std::string();
         }},
        {"channel", 'c', "WHICH",
         "judged signal: mix (average of all channels, default),\n"
         "left, right, or diff ((left - right) / 2)",
         [](Options& o, const char* v) {
             o.channelGiven = true;
             return ParseChannel(v, o.settings.channel)
                        ? ""
                        : "invalid channel " + Quoted(v) + " (mix, left, right or diff)";
         }},
        {"no-invert", 'n', nullptr, "follow the input's swings instead of inverting them",
         [](Options& o, const char*) {
             o.settings.invert = false;
             return std::string();
         }},
        {"keep-rate", 'k', nullptr,
         "declare the input's sample rate instead of " +
             std::to_string(regen::kOutputFormat.samplingRate) + " Hz",
         Set<&Options::keepRate>},
        {"quiet", 'q', nullptr, "print no length and no block verdicts", Set<&Options::quiet>},
        {"any-wav", 'w', nullptr,
         "read any WAV file that players read: 8 to 32-bit and\n"
         "float samples, WAVE_FORMAT_EXTENSIBLE, RF64, any chunks",
         Set<&Options::anyWav>},
        {"auto", 'u', nullptr,
         "choose channel, lag, balance, levels, baseline, smoothing\n"
         "and following from the recording, keep its rate (raise a\n"
         "lower one to " +
             std::to_string(regen::kOutputFormat.samplingRate) +
             " Hz), and say what was chosen on stderr",
         [](Options& o, const char*) {
             o.automatic = true;
             o.keepRate = true;
             return std::string();
         }},
        {"baseline", 'b', "N",
         "take out the mean over N frames (0: none) before the\n"
         "switch compares",
         [](Options& o, const char* v) {
             // A window of one frame is its own mean: nothing would be left.
             uint64_t window = 0;
             if (!ParseCount(v, regen::kMaxWindow, window) || window == 1)
                 return "invalid baseline window " + Quoted(v) + " (0, or 2 to " +
                        std::to_string(regen::kMaxWindow) + " frames)";
             o.baseline = int(window);
             return std::string();
         }},
        {"smooth", 'm', "N",
         "average N frames (odd, 1: none) centred on each before\n"
         "the switch compares: a band filter for the pulses",
         [](Options& o, const char* v) {
             uint64_t frames = 0;
             if (!ParseCount(v, kMaxSmooth, frames) || frames % 2 == 0)
                 return "invalid smoothing " + Quoted(v) + " (odd, 1 to " +
                        std::to_string(kMaxSmooth) + " frames)";
             o.smooth = int(frames);
             return std::string();
         }},
        {"follow", 'f', "N",
         "switch around the pulses' midpoint, tracked with their\n"
         "height over N half-periods (0: fixed at the baseline);\n"
         "the switch level bounds the gap, half the height too",
         [](Options& o, const char* v) {
             uint64_t halves = 0;
             if (!ParseCount(v, kMaxFollow, halves))
                 return "invalid follow " + Quoted(v) + " (0 to " + std::to_string(kMaxFollow) +
                        " half-periods)";
             o.follow = int(halves);
             return std::string();
         }},
        {"lag", 'l', "FRAMES",
         "the right channel lags the left by FRAMES (one decimal;\n"
         "negative: it leads): the mix or difference is taken with\n"
         "the left delayed by as much, between frames",
         [](Options& o, const char* v) {
             o.lagGiven = true;
             return ParseLag(v, o.settings.lag)
                        ? ""
                        : "invalid lag " + Quoted(v) + " (-" + std::to_string(kMaxLag) + ".0 to " +
                              std::to_string(kMaxLag) + ".0 frames, one decimal)";
         }},
        {"balance", 'B', "P",
         "the left channel's share of the mix or difference in\n"
         "percent, 0 to 100 (default 50)",
         [](Options& o, const char* v) {
             o.balanceGiven = true;
             uint64_t share = 0;
             if (!ParseCount(v, 100, share))
                 return "invalid balance " + Quoted(v) + " (0 to 100)";
             o.settings.balance = int(share);
             return std::string();
         }},
        {"edges", 'e', "WHICH",
         "sharp (default), or timed: where the levels follow, each\n"
         "flip's first sample shares the two levels as the\n"
         "crossing divides its frame",
         [](Options& o, const char* v) {
             o.edgesGiven = true;
             const std::string which = v;
             if (which != "sharp" && which != "timed")
                 return "invalid edges " + Quoted(v) + " (sharp or timed)";
             o.settings.timed = which == "timed";
             return std::string();
         }},
        {"carrier", 'C', "LEVEL",
         "where the levels follow, write a half-period only once\n"
         "four in a row have peaked more than LEVEL from the\n"
         "midpoint, until eight have not, and hold the level in\n"
         "between: silence for a pause's noise (0: none, default)",
         [](Options& o, const char* v) {
             uint64_t level = 0;
             if (!ParseCount(v, kMaxSample, level))
                 return "invalid carrier level " + Quoted(v) + " (0 to " + kSample + ")";
             o.carrierGiven = true;
             o.settings.carrier = int(level);
             return std::string();
         }},
        {"band", 'p', "LOW-HIGH",
         "a band-pass from LOW to HIGH Hz (second-order edges;\n"
         "HIGH 0: no upper edge) before the switch compares, or 0\n"
         "for none: a filter for tones",
         [](Options& o, const char* v) {
             o.bandGiven = true;
             return ParseBand(v, o.settings.bandLow, o.settings.bandHigh)
                        ? ""
                        : "invalid band " + Quoted(v) +
                              " (0, or LOW-HIGH with 1 <= LOW and HIGH 0 "
                              "or above LOW, up to " +
                              std::to_string(kMaxBand) + " Hz)";
         }},
        {"rate", 'r', "HZ",
         "resample the recording to HZ before anything else (a\n"
         "16-bit copy under $TMPDIR): the length, the blocks and\n"
         "the output are the copy's",
         [](Options& o, const char* v) {
             uint64_t hz = 0;
             if (!ParseCount(v, kMaxRate, hz) || hz < uint64_t(kMinRate))
                 return "invalid rate " + Quoted(v) + " (" + std::to_string(kMinRate) + " to " +
                        std::to_string(kMaxRate) + " Hz)";
             o.rate = int(hz);
             return std::string();
         }},
        {"help", 'h', nullptr, "print this help and exit", Answer<Action::kHelp>},
        {"version", 'V', nullptr, "print the version and exit", Answer<Action::kVersion>},
    };
    return table;
}

// The help's option column: "  -a, --active=LEVEL" padded to this width.
constexpr size_t kHelpColumn = 25;

// The long options that `word` (--NAME or --NAME=VALUE) abbreviates, in the
// table's order; none when it names one in full.
std::vector<const char*> Abbreviated(const std::string& word) {
    std::vector<const char*> names;
    if (word.compare(0, 2, "--") != 0)
        return names;
    const std::string name = word.substr(2, word.find('=') - 2);
    for (const OptionEntry& entry : Table()) {
        if (name == entry.name)
            return {};
        if (std::strncmp(entry.name, name.c_str(), name.size()) == 0)
            names.push_back(entry.name);
    }
    return names;
}

// getopt_long's '?' stands for an unknown short option, which optopt holds;
// an unknown or ambiguous long one, optopt 0, which only the word names
// (said as GNU getopt says it); or a long option given a value it does not
// take, whose letter optopt holds.
std::string Unrecognized(const char* shortOptions, const std::string& word) {
    const std::vector<const char*> candidates = Abbreviated(word);
    if (optopt == 0 && candidates.size() > 1) {
        std::string line = "option '" + word + "' is ambiguous; possibilities:";
        for (const char* name : candidates)
            line += std::string(" '--") + name + "'";
        return line;
    }
    if (optopt == 0)
        return "unrecognized option '" + word + "'";
    if (optopt != ':' && std::strchr(shortOptions, optopt))
        return "option '" + word.substr(0, word.find('=')) + "' takes no value";
    return std::string("unrecognized option '-") + char(optopt) + "'";
}

} // namespace

Options Parse(int argc, char* argv[]) {
    // getopt_long's arrays, from the table. A leading ':' tells a missing
    // value from an unknown option.
    std::string letters = ":";
    std::vector<option> longOptions;
    for (const OptionEntry& entry : Table()) {
        letters += entry.letter;
        if (entry.value)
            letters += ':';
        longOptions.push_back(
            {entry.name, entry.value ? required_argument : no_argument, nullptr, entry.letter});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    Options o;
    // getopt keeps its place in globals; 0 makes glibc start afresh.
    optind = 0;
    opterr = 0; // the one-line reasons below replace getopt's own messages
    int c;
    while ((c = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr)) != -1) {
        if (c == ':')
            return Refuse(o, std::string("option '") + argv[optind - 1] + "' needs a value");
        const auto entry = std::find_if(Table().begin(), Table().end(),
                                        [c](const OptionEntry& s) { return s.letter == c; });
        if (entry == Table().end())
            return Refuse(o, Unrecognized(letters.c_str(), argv[optind - 1]));
        const std::string refusal = entry->apply(o, optarg);
        if (!refusal.empty())
            return Refuse(o, refusal);
        // Help and version answer at once, whatever follows them.
        if (o.action != Action::kRun)
            return o;
    }
    if (argc - optind != 2)
        return Refuse(o,
                      "expected two files, INPUT and OUTPUT, got " +
                          std::to_string(argc > optind ? argc - optind : 0),
                      Action::kUsage);
    o.input = argv[optind];
    o.output = argv[optind + 1];
    return o;
}

// Imposed text, on standard output: scripts that match the message rely on it.
void PrintUsage(const char* program) {
    printf("usage: %s [input(.wav)] [output(.wav)]\n", program);
    puts("The same filename for input and output is not acceptable.");
}

std::string TryHelp(const char* program) {
    return std::string("Try '") + program + " --help' for more information.";
}

void PrintHelp(const char* program) {
    printf("Usage: %s [OPTION]... INPUT OUTPUT\n", program);
    puts("Regenerate the loud span of a 16-bit PCM WAV recording as a clean square wave.\n");
    for (const OptionEntry& entry : Table()) {
        std::string line = std::string("  -") + entry.letter + ", --" + entry.name;
        if (entry.value)
            line += std::string("=") + entry.value;
        line += std::string(line.size() < kHelpColumn ? kHelpColumn - line.size() : 2, ' ');
        for (const char ch : entry.help)
            line += ch == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, ch);
        puts(line.c_str());
    }
    printf("\n"
           "LEVEL is a sample value from 0 to %d, or P%% (0 < P <= 100): P percent of the\n"
           "recording's peak, rounded down. INPUT and OUTPUT must be different files;\n"
           "INPUT - is standard input. OUTPUT is replaced only when the run succeeds.\n"
           "Exit status: %d on success, %d when a file cannot be read or written, %d on bad "
           "usage,\n"
           "%d when --auto finds no pulse train (silence or noise) and writes no OUTPUT.\n",
           kMaxSample, kExitOk, kExitFailed, kExitUsage, kExitNothingFound);
}

void PrintVersion() {
    printf("%s %s\n", diag::kProgram, PROJECT_VERSION_STRING);
}

} // namespace options
