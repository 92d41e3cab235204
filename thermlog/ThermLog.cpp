// Nothing here reads the clock or writes a file, and the thermal directory
// is a parameter, so the tests give every function inputs of their own.
#include "ThermLog.h"

#include <dirent.h>
#include <getopt.h>

#include <algorithm>
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

} // namespace

std::string FormatLogLine(const std::tm& localTime, double celsius) {
    return Formatted("%02d/%02d/%02d %02d:%02d:%02d %.1f\n", (localTime.tm_year + 1900) % 100,
                     localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                     localTime.tm_sec, celsius);
}

std::string FormatIsoLogLine(const std::tm& localTime, double celsius) {
    // Offsets are whole minutes in every zone in use today; the seconds of an
    // old local mean time are dropped, as the format has no room for them.
    const long offset = localTime.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    return Formatted("%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld %.1f\n", localTime.tm_year + 1900,
                     localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                     localTime.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60, celsius);
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

constexpr char kShortOptions[] = ":z:lihV";

// getopt_long's '?' stands for an unknown short option, which optopt holds;
// an unknown long one, optopt 0, which only the word names; or a long option
// given a value it does not take, whose letter optopt holds.
std::string UnknownOption(const std::string& word) {
    if (optopt == 0)
        return "unknown option '" + word + "'";
    if (optopt != ':' && std::strchr(kShortOptions, optopt))
        return "option '" + word.substr(0, word.find('=')) + "' takes no value";
    return std::string("unknown option '-") + char(optopt) + "'";
}

} // namespace

CommandLine ParseCommandLine(int argc, char* argv[]) {
    static const option kLongOptions[] = {
        {"zone", required_argument, nullptr, 'z'}, {"list", no_argument, nullptr, 'l'},
        {"iso", no_argument, nullptr, 'i'},        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},    {nullptr, 0, nullptr, 0}};
    CommandLine command;
    bool list = false, help = false, version = false;
    // getopt keeps its place in globals; 0 makes glibc start afresh, so that
    // the command line can be parsed more than once in a process (the tests).
    optind = 0;
    // The caller prints one line of its own instead of getopt's messages.
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
        switch (option) {
        case 'z': {
            const std::optional<ZoneChoice> zone = ParseZone(optarg);
            if (!zone) {
                command.usageError = std::string("malformed zone '") + optarg + "'";
                return command;
            }
            command.zone = *zone;
            break;
        }
        case 'l':
            list = true;
            break;
        case 'i':
            command.iso = true;
            break;
        case 'h':
            help = true;
            break;
        case 'V':
            version = true;
            break;
        case ':':
            command.usageError = std::string("option '") + argv[optind - 1] + "' needs a zone";
            return command;
        default:
            command.usageError = UnknownOption(argv[optind - 1]);
            return command;
        }
    }
    const int operands = argc - optind;
    if (help)
        command.action = Action::kHelp;
    else if (version)
        command.action = Action::kVersion;
    else if (list && operands == 0)
        command.action = Action::kList;
    else if (list)
        command.usageError = "--list takes no LOGFILE";
    else if (operands == 0)
        command.usageError = "no LOGFILE";
    else if (operands > 1)
        command.usageError = "more than one LOGFILE";
    else {
        command.action = Action::kLog;
        command.logPath = argv[optind];
    }
    return command;
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
    char temperature[64];
    std::snprintf(temperature, sizeof temperature, "%.1f", celsius);
    return std::to_string(zone.number) + " " + zone.type + " " + temperature + "\n";
}

} // namespace thermlog
