#include "ThermLog.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

std::string FormatLogLine(const std::tm& localTime, double celsius) {
    static constexpr char kFormat[] = "%02d/%02d/%02d %02d:%02d:%02d %.1f\n";
    const int year = (localTime.tm_year + 1900) % 100;
    const int month = localTime.tm_mon + 1;
    const int length =
        std::snprintf(nullptr, 0, kFormat, year, month, localTime.tm_mday, localTime.tm_hour,
                      localTime.tm_min, localTime.tm_sec, celsius);
    if (length < 0)
        return std::string();
    std::string line(static_cast<std::size_t>(length), '\0');
    // The terminator snprintf adds lands on the string's own one.
    std::snprintf(line.data(), line.size() + 1, kFormat, year, month, localTime.tm_mday,
                  localTime.tm_hour, localTime.tm_min, localTime.tm_sec, celsius);
    return line;
}

} // namespace thermlog
