// thermlog LOGFILE: appends one line with the local time and the processor
// temperature to LOGFILE. Each run adds one line; whatever starts it (cron, a
// timer) decides how often.
#include "ThermLog.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr char kThermalPath[] = "/sys/class/thermal/thermal_zone0/temp";

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 255 };

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Writes the line and closes the log; false when either fails, which is how a
// full disk or a lost file system shows up with buffered output.
bool WriteAndClose(std::FILE* log, const std::string& line) {
    const bool written = std::fputs(line.c_str(), log) >= 0;
    const bool closed = std::fclose(log) == 0;
    return written && closed;
}

// Degrees Celsius from thermal zone 0; empty when the file cannot be opened or
// read, so that the caller can tell a dead sensor from a real reading.
std::optional<double> GetCPUTemp() {
    std::FILE* thermal = std::fopen(kThermalPath, "rt");
    if (thermal == nullptr)
        return std::nullopt;
    char bytes[thermlog::kThermalReadMax];
    const std::size_t count = std::fread(bytes, 1, sizeof bytes, thermal);
    // A directory or a dead device opens but fails to read.
    const bool readFailed = std::ferror(thermal) != 0;
    std::fclose(thermal);
    if (readFailed)
        return std::nullopt;
    return thermlog::CelsiusFromThermalText(std::string_view(bytes, count));
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2)
        return kExitUsage;
    const char* logPath = argv[1];

    std::FILE* log = std::fopen(logPath, "at");
    if (log == nullptr) {
        std::printf("Erorr: File can't open [%s]\n", logPath);
        return kExitFailed;
    }

    // The time is taken first so that the stamp marks when the run started.
    const std::tm now = LocalTimeNow();
    const std::optional<double> celsius = GetCPUTemp();

    // A dead sensor still gets its line, so the log keeps one line per run.
    const bool written = WriteAndClose(log, thermlog::FormatLogLine(now, celsius.value_or(0.0)));
    if (!written)
        std::printf("Error: File can't write [%s]\n", logPath);
    if (!celsius)
        std::printf("Error: Thermal file can't open [%s]\n", kThermalPath);
    return written && celsius ? kExitOk : kExitFailed;
}
