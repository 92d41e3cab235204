// The pure parts of thermlog: the command line, finding a thermal zone in a
// thermal class directory, turning the thermal file's text into degrees and a
// broken-down local time plus a temperature into one log line.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace thermlog {

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,
    // Imposed: scripts that check the status of a bad command line rely on it.
    kExitUsage = 255,
};

constexpr char kUsage[] = "Usage: thermlog [OPTION]... LOGFILE";

// The temperature logged when the zone cannot be read: every run still adds
// its line, which the log's readers rely on.
constexpr double kUnreadCelsius = 0.0;

// Only this many bytes of the thermal file are read; anything after them is
// not part of the reading.
constexpr std::size_t kThermalReadMax = 64;

// Parses the first kThermalReadMax bytes of `bytesRead` as a decimal integer
// the way strtol does: leading white space, an optional sign, then digits up
// to the first non-digit, 0 when there are none. Values beyond the int range
// saturate to its ends.
int ParseMilliDegrees(std::string_view bytesRead);

// The thermal file holds millidegrees Celsius; this gives degrees.
double CelsiusFromThermalText(std::string_view bytesRead);

// "YY/MM/DD hh:mm:ss T.T\n" from a local time and a temperature in degrees.
std::string FormatLogLine(const std::tm& localTime, double celsius);

// "YYYY-MM-DDThh:mm:ss+hh:mm T.T\n": the local time with its offset from UTC
// (tm_gmtoff, as localtime_r fills it), so that the hour repeated when the
// clocks go back still reads as two different moments.
std::string FormatIsoLogLine(const std::tm& localTime, double celsius);

// A zone as the user names it: by number, or by the text of its type file.
struct ZoneChoice {
    std::optional<int> number; // set for a number, else `type` names the zone
    std::string type;
};

// A number of decimal digits only (within the int range) picks that zone;
// anything else that is not empty, has no '/' and does not start with a
// digit or sign is a type. Empty for a malformed ZONE.
std::optional<ZoneChoice> ParseZone(std::string_view text);

enum class Action { kLog, kList, kHelp, kVersion, kUsage };

struct CommandLine {
    Action action = Action::kUsage;
    ZoneChoice zone{0, ""}; // zone 0 unless --zone says otherwise
    bool iso = false;
    std::string logPath;
    std::string usageError; // why the command line was refused, for kUsage
};

// Reads the options with getopt_long, which may reorder `argv`.
CommandLine ParseCommandLine(int argc, char* argv[]);
// The --help text, from the same option table as the parse.
std::string HelpText();

// The files of zone `number` below the thermal class directory.
std::string ZoneTempPath(const std::string& thermalDir, int number);

struct Zone {
    int number;
    std::string type; // without the newline the kernel ends it with
};

// Every thermal_zoneN entry of `thermalDir`, in number order; empty when the
// directory cannot be read.
std::vector<Zone> ListZones(const std::string& thermalDir);

// The lowest-numbered zone whose type is `type`.
std::optional<int> FindZoneByType(const std::vector<Zone>& zones, std::string_view type);

// "N TYPE T.T\n", one line of the zone list.
std::string FormatZoneLine(const Zone& zone, double celsius);

} // namespace thermlog
