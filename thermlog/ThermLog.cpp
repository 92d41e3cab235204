// Nothing here reads the clock or writes a file, and the thermal directory
// is a parameter, so the tests give every function inputs of their own.
#include "ThermLog.h"

#include <dirent.h>
#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace thermlog {

int ParseMilliDegrees(std::string_view bytesRead) {
    // strtoll needs a terminated text; the bytes read end where the read ended.
    char text[kThermalReadMax + 1] = {};
    bytesRead.copy(text, kThermalReadMax);
    // strtoll saturates at the long long range, which holds the int range, so
    // clamping its result gives the saturated int without overflow.
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

double CelsiusFromThermalText(std::string_view bytesRead) {
    return ParseMilliDegrees(bytesRead) / 1000.0;
}

namespace {

// printf-style formatting into a string of exactly the length it needs.
template <class... Args> std::string Formatted(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length < 0)
        return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    // The terminator snprintf adds lands on the string's own one.
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

// Degrees with one decimal, in every line thermlog writes: the log format's
// readers rely on it.
std::string Celsius(double celsius) {
    return Formatted("%.1f", celsius);
}

} // namespace

std::string FormatLogLine(const std::tm& localTime, double celsius) {
    return Formatted("%02d/%02d/%02d %02d:%02d:%02d %s\n", (localTime.tm_year + 1900) % 100,
                     localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                     localTime.tm_sec, Celsius(celsius).c_str());
}

std::string FormatIsoLogLine(const std::tm& localTime, double celsius) {
    // Offsets are whole minutes in every zone in use today; the seconds of an
    // old local mean time are dropped, as the format has no room for them.
    const long offset = localTime.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    return Formatted("%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld %s\n", localTime.tm_year + 1900,
                     localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                     localTime.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60,
                     Celsius(celsius).c_str());
}

namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A zone number of digits only, within the int range.
std::optional<int> ParseZoneNumber(std::string_view text) {
    if (!AllDigits(text))
        return std::nullopt;
    long long value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            return std::nullopt;
    }
    return static_cast<int>(value);
}

} // namespace

std::optional<ZoneChoice> ParseZone(std::string_view text) {
    if (text.empty() || text.find('/') != std::string_view::npos)
        return std::nullopt;
    const char first = text.front();
    if ((first >= '0' && first <= '9') || first == '-' || first == '+') {
        const std::optional<int> number = ParseZoneNumber(text);
        if (!number)
            return std::nullopt;
        return ZoneChoice{number, ""};
    }
    return ZoneChoice{std::nullopt, std::string(text)};
}

namespace {

// The command line as the options build it; which action it asks for is
// settled once every option is read.
struct Words {
    CommandLine command;
    bool list = false, help = false, version = false;
};

// What an option does, given its value (null for one that takes none); the
// reason it refuses the value, or empty.
using Apply = std::string (*)(Words& words, const char* value);

// One option: declared once for getopt_long, the parse and --help.
struct OptionEntry {
    const char* name;
    char letter;
    const char* value; // its name in the help; null for an option without one
    const char* help;  // lines after the first are indented under it
    Apply apply;
};

template <bool Words::*kFlag> std::string Set(Words& words, const char*) {
    words.*kFlag = true;
    return "";
}

const OptionEntry kOptions[] = {
    {"zone", 'z', "ZONE",
     "read thermal zone ZONE, a number or a type such as\nx86_pkg_temp (default: zone 0)",
     [](Words& words, const char* value) {
         const std::optional<ZoneChoice> zone = ParseZone(value);
         if (!zone)
             return std::string("malformed zone '") + value + "'";
         words.command.zone = *zone;
         return std::string();
     }},
    {"list", 'l', nullptr, "list the thermal zones (number, type, temperature)", Set<&Words::list>},
    {"iso", 'i', nullptr, "write the time as 2026-12-07T14:31:28+01:00",
     [](Words& words, const char*) {
         words.command.iso = true;
         return std::string();
     }},
    {"help", 'h', nullptr, "show this help and exit", Set<&Words::help>},
    {"version", 'V', nullptr, "show the version and exit", Set<&Words::version>},
};

// The help's option column: "  -z, --zone=ZONE" padded to this width.
constexpr std::size_t kHelpColumn = 19;

const OptionEntry* Find(int letter) {
    for (const OptionEntry& entry : kOptions)
        if (entry.letter == letter)
            return &entry;
    return nullptr;
}

// getopt_long's '?' stands for an unknown short option, which optopt holds;
// an unknown long one, optopt 0, which only the word names; or a long option
// given a value it does not take, whose letter optopt holds.
std::string UnknownOption(const std::string& word) {
    if (optopt == 0)
        return "unknown option '" + word + "'";
    if (optopt != ':' && Find(optopt))
        return "option '" + word.substr(0, word.find('=')) + "' takes no value";
    return std::string("unknown option '-") + char(optopt) + "'";
}

// "needs a zone": the value's name, in lower case.
std::string MissingValue(const std::string& word) {
    const OptionEntry* entry = Find(optopt);
    std::string value = entry && entry->value ? entry->value : "VALUE";
    for (char& c : value)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return "option '" + word + "' needs a " + value;
}

// The action the options and operands ask for, or why they are refused.
void Settle(Words& words, int operands, char* first) {
    CommandLine& command = words.command;
    if (words.help)
        command.action = Action::kHelp;
    else if (words.version)
        command.action = Action::kVersion;
    else if (words.list && operands == 0)
        command.action = Action::kList;
    else if (words.list)
        command.usageError = "--list takes no LOGFILE";
    else if (operands == 0)
        command.usageError = "no LOGFILE";
    else if (operands > 1)
        command.usageError = "more than one LOGFILE";
    else {
        command.action = Action::kLog;
        command.logPath = first;
    }
}

} // namespace

CommandLine ParseCommandLine(int argc, char* argv[]) {
    // getopt_long's arrays, from the table. A leading ':' tells a missing
    // value from an unknown option.
    std::string letters = ":";
    std::vector<option> longOptions;
    for (const OptionEntry& entry : kOptions) {
        letters += entry.letter;
        if (entry.value)
            letters += ':';
        longOptions.push_back(
            {entry.name, entry.value ? required_argument : no_argument, nullptr, entry.letter});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    Words words;
    // getopt keeps its place in globals; 0 makes glibc start afresh, so that
    // the command line can be parsed more than once in a process (the tests).
    optind = 0;
    opterr = 0; // the caller prints one line of its own instead of getopt's
    int c;
    while ((c = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr)) != -1) {
        if (c == ':') {
            words.command.usageError = MissingValue(argv[optind - 1]);
            return words.command;
        }
        const OptionEntry* entry = Find(c);
        const std::string refusal =
            entry ? entry->apply(words, optarg) : UnknownOption(argv[optind - 1]);
        if (!refusal.empty()) {
            words.command.usageError = refusal;
            return words.command;
        }
    }
    Settle(words, argc - optind, argv[optind]);
    return words.command;
}

std::string HelpText() {
    std::string text = std::string(kUsage) +
                       "\nAppend the local time and the processor temperature to LOGFILE.\n\n";
    for (const OptionEntry& entry : kOptions) {
        std::string line = std::string("  -") + entry.letter + ", --" + entry.name;
        if (entry.value)
            line += std::string("=") + entry.value;
        line += std::string(line.size() < kHelpColumn ? kHelpColumn - line.size() : 2, ' ');
        for (const char* p = entry.help; *p; ++p)
            line += *p == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *p);
        text += line + "\n";
    }
    return text;
}

std::string ZoneTempPath(const std::string& thermalDir, int number) {
    return thermalDir + "/thermal_zone" + std::to_string(number) + "/temp";
}

namespace {

// The type file's first line; empty when it cannot be read.
std::string ReadZoneType(const std::string& zoneDir) {
    std::ifstream file(zoneDir + "/type");
    std::string type;
    std::getline(file, type);
    return type;
}

} // namespace

std::vector<Zone> ListZones(const std::string& thermalDir) {
    static constexpr std::string_view kPrefix = "thermal_zone";
    std::vector<Zone> zones;
    // opendir rather than std::filesystem: the latter would raise the C++
    // library version the packages need.
    DIR* dir = opendir(thermalDir.c_str());
    if (dir == nullptr)
        return zones;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.substr(0, kPrefix.size()) != kPrefix)
            continue;
        const std::optional<int> number = ParseZoneNumber(name.substr(kPrefix.size()));
        if (number)
            zones.push_back(Zone{*number, ReadZoneType(thermalDir + "/" + std::string(name))});
    }
    closedir(dir);
    std::sort(zones.begin(), zones.end(),
              [](const Zone& a, const Zone& b) { return a.number < b.number; });
    return zones;
}

std::optional<int> FindZoneByType(const std::vector<Zone>& zones, std::string_view type) {
    // The list is in number order, so the first match is the lowest.
    for (const Zone& zone : zones)
        if (zone.type == type)
            return zone.number;
    return std::nullopt;
}

std::string FormatZoneLine(const Zone& zone, double celsius) {
    return std::to_string(zone.number) + " " + zone.type + " " + Celsius(celsius) + "\n";
}

} // namespace thermlog
