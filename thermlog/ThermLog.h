// The pure parts of thermlog: turning the thermal file's text into degrees and
// a broken-down local time plus a temperature into one log line.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace thermlog {

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

} // namespace thermlog
