// Parsing is strict: a value with anything after its number, or beyond its
// range, refuses the run rather than guessing.
#include "Options.h"

#include "Auto.h"

#include <cstdio>
#include <cstring>
#include <getopt.h>

#ifndef PROJECT_VERSION_STRING
#error "PROJECT_VERSION_STRING must give the program's version"
#endif

namespace options {

namespace {

constexpr int kMaxSample = 32767;
constexpr int kMaxDecimals = 9;
constexpr char kShortOptions[] = ":a:s:A:c:nkqwub:hV";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A run of decimal digits with no sign, at most `limit` in value.
bool ParseCount(const char* text, uint64_t limit, uint64_t& value) {
    value = 0;
    if (!*text)
        return false;
    for (; *text; ++text) {
        if (!IsDigit(*text))
            return false;
        value = value * 10 + uint64_t(*text - '0');
        if (value > limit)
            return false;
    }
    return true;
}

// P as an exact fraction: the digits without the point over a power of 10,
// so that the level is rounded down from the exact product.
bool ParsePercent(std::string text, Level& level) {
    const size_t point = text.find('.');
    uint64_t denominator = 1;
    if (point != std::string::npos) {
        const size_t decimals = text.size() - point - 1;
        if (decimals == 0 || decimals > kMaxDecimals)
            return false;
        for (size_t i = 0; i < decimals; ++i)
            denominator *= 10;
        text.erase(point, 1);
    }
    uint64_t numerator = 0;
    if (!ParseCount(text.c_str(), 100 * denominator, numerator) || numerator == 0)
        return false;
    level.percent = true;
    level.numerator = numerator;
    level.denominator = denominator;
    return true;
}

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

// getopt_long's '?' stands for an unknown short option, which optopt holds;
// an unknown long one, optopt 0, which only the word names; or a long option
// given a value it does not take, whose letter optopt holds.
std::string Unrecognized(const char* shortOptions, const std::string& word) {
    if (optopt == 0)
        return "unrecognized option '" + word + "'";
    if (optopt != ':' && std::strchr(shortOptions, optopt))
        return "option '" + word.substr(0, word.find('=')) + "' takes no value";
    return std::string("unrecognized option '-") + char(optopt) + "'";
}

Options Refuse(Options o, const std::string& what) {
    o.action = Action::kUsage;
    o.error = what;
    return o;
}

} // namespace

const char* ChannelName(regen::Channel channel) {
    for (const auto& n : kChannelNames)
        if (n.channel == channel)
            return n.name;
    return "mix";
}

int Level::Resolve(int peak) const {
    if (!percent)
        return value;
    return int(numerator * uint64_t(peak > 0 ? peak : 0) / (100 * denominator));
}

bool ParseLevel(const char* text, Level& level) {
    const size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == '%')
        return ParsePercent(std::string(text, n - 1), level);
    uint64_t value = 0;
    if (!ParseCount(text, kMaxSample, value))
        return false;
    level = Level{int(value)};
    return true;
}

Options Parse(int argc, char* argv[]) {
    static const option longOptions[] = {{"active", required_argument, nullptr, 'a'},
                                         {"switch", required_argument, nullptr, 's'},
                                         {"amplitude", required_argument, nullptr, 'A'},
                                         {"channel", required_argument, nullptr, 'c'},
                                         {"no-invert", no_argument, nullptr, 'n'},
                                         {"keep-rate", no_argument, nullptr, 'k'},
                                         {"quiet", no_argument, nullptr, 'q'},
                                         {"any-wav", no_argument, nullptr, 'w'},
                                         {"auto", no_argument, nullptr, 'u'},
                                         {"baseline", required_argument, nullptr, 'b'},
                                         {"help", no_argument, nullptr, 'h'},
                                         {"version", no_argument, nullptr, 'V'},
                                         {nullptr, 0, nullptr, 0}};
    Options o;
    opterr = 0; // the one-line reasons below replace getopt's own messages
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, kShortOptions, longOptions, nullptr)) != -1) {
        const std::string value = optarg ? optarg : "";
        uint64_t amplitude = 0, window = 0;
        switch (c) {
        case 'a':
            if (!ParseLevel(optarg, o.active))
                return Refuse(o, "invalid active level '" + value + "'");
            o.activeGiven = true;
            break;
        case 's':
            if (!ParseLevel(optarg, o.switchAt))
                return Refuse(o, "invalid switch level '" + value + "'");
            o.switchGiven = true;
            break;
        case 'A':
            if (!ParseCount(optarg, kMaxSample, amplitude) || amplitude == 0)
                return Refuse(o, "invalid amplitude '" + value + "' (1 to 32767)");
            o.settings.amplitude = short(amplitude);
            break;
        case 'c':
            if (!ParseChannel(optarg, o.settings.channel))
                return Refuse(o, "invalid channel '" + value + "' (mix, left, right or diff)");
            o.channelGiven = true;
            break;
        case 'n':
            o.settings.invert = false;
            break;
        case 'k':
            o.keepRate = true;
            break;
        case 'q':
            o.quiet = true;
            break;
        case 'w':
            o.anyWav = true;
            break;
        case 'u':
            o.automatic = true;
            o.keepRate = true;
            break;
        case 'b':
            // A window of one frame is its own mean: nothing would be left.
            if (!ParseCount(optarg, regen::kMaxWindow, window) || window == 1)
                return Refuse(o, "invalid baseline window '" + value + "' (0, or 2 to " +
                                     std::to_string(regen::kMaxWindow) + " frames)");
            o.baseline = int(window);
            break;
        case 'h':
            o.action = Action::kHelp;
            return o;
        case 'V':
            o.action = Action::kVersion;
            return o;
        case ':':
            return Refuse(o, std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            return Refuse(o, Unrecognized(kShortOptions, argv[optind - 1]));
        }
    }
    if (argc - optind != 2)
        return Refuse(o, "expected two files, INPUT and OUTPUT, got " +
                             std::to_string(argc > optind ? argc - optind : 0));
    o.input = argv[optind];
    o.output = argv[optind + 1];
    return o;
}

void PrintUsage(const char* program) {
    printf("usage: %s [input(.wav)] [output(.wav)]\n", program);
    puts("The same filename for input and output is not acceptable.");
}

void PrintHelp(const char* program) {
    printf("Usage: %s [OPTION]... INPUT OUTPUT\n", program);
    fputs("Regenerate the loud span of a 16-bit PCM WAV recording as a clean square wave.\n"
          "\n"
          "  -a, --active=LEVEL     a block is active when the judged signal exceeds LEVEL\n"
          "                         in magnitude (default 10000)\n"
          "  -s, --switch=LEVEL     the wave starts and flips when the judged signal passes\n"
          "                         +LEVEL or -LEVEL (default 8000)\n"
          "  -A, --amplitude=N      level of the regenerated wave, 1 to 32767 (default 30000)\n"
          "  -c, --channel=WHICH    judged signal: mix (average of all channels, default),\n"
          "                         left, right, or diff ((left - right) / 2)\n"
          "  -n, --no-invert        follow the input's swings instead of inverting them\n"
          "  -k, --keep-rate        declare the input's sample rate instead of 44100 Hz\n"
          "  -q, --quiet            print no length and no block verdicts\n"
          "  -w, --any-wav          read any WAV file that players read: 8 to 32-bit and\n"
          "                         float samples, WAVE_FORMAT_EXTENSIBLE, RF64, any chunks\n"
          "  -u, --auto             choose channel, levels and baseline from the recording,\n"
          "                         keep its rate, and say what was chosen on stderr\n"
          "  -b, --baseline=N       take out the mean over N frames (0: none) before the\n"
          "                         switch compares\n"
          "  -h, --help             print this help and exit\n"
          "  -V, --version          print the version and exit\n"
          "\n"
          "LEVEL is a sample value from 0 to 32767, or P% (0 < P <= 100): P percent of the\n"
          "recording's peak, rounded down. INPUT and OUTPUT must be different files;\n"
          "INPUT - is standard input. OUTPUT is replaced only when the run succeeds.\n"
          "Exit status: 0 on success, 1 when a file cannot be read or written, 2 on bad usage.\n",
          stdout);
}

void PrintVersion() {
    puts("pulseregen " PROJECT_VERSION_STRING);
}

} // namespace options
