// thermlog [OPTION]... LOGFILE: appends one line with the local time and the
// processor temperature to LOGFILE. Each run adds one line; whatever starts it
// (cron, a timer) decides how often. --list shows the thermal zones instead.
#include "ThermLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef PROJECT_VERSION_STRING
#error "PROJECT_VERSION_STRING must name the version (set by the build)"
#endif

namespace {

constexpr char kThermalDir[] = "/sys/class/thermal";
constexpr char kUsage[] = "Usage: thermlog [OPTION]... LOGFILE";

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 255 };

void PrintHelp() {
    std::printf("%s\n"
                "Append the local time and the processor temperature to LOGFILE.\n"
                "\n"
                "  -z, --zone=ZONE  read thermal zone ZONE, a number or a type such as\n"
                "                   x86_pkg_temp (default: zone 0)\n"
                "  -l, --list       list the thermal zones (number, type, temperature)\n"
                "  -i, --iso        write the time as 2026-12-07T14:31:28+01:00\n"
                "  -h, --help       show this help and exit\n"
                "  -V, --version    show the version and exit\n",
                kUsage);
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Opens the log for appending, creating it when missing. A FIFO or a socket is
// refused: writing to one would block until a reader comes, or go nowhere.
// The open does not wait for a FIFO's reader, so the refusal never hangs.
std::FILE* OpenLog(const char* path) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat info {};
    const bool known = fd >= 0 ? fstat(fd, &info) == 0 : stat(path, &info) == 0;
    if (known && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) {
        std::fprintf(stderr, "thermlog: %s: is a %s, not a file\n", path,
                     S_ISFIFO(info.st_mode) ? "FIFO" : "socket");
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    if (fd < 0)
        return nullptr;
    // Writes to a file or a device then block as with any open.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* log = fdopen(fd, "a");
    if (log == nullptr)
        close(fd);
    return log;
}

// Writes the line and closes the log; false when either fails, which is how a
// full disk or a lost file system shows up with buffered output.
bool WriteAndClose(std::FILE* log, const std::string& line) {
    const bool written = std::fputs(line.c_str(), log) >= 0;
    const bool closed = std::fclose(log) == 0;
    return written && closed;
}

// Degrees Celsius from a zone's temp file; empty when the file cannot be
// opened or read, so that the caller can tell a dead sensor from a reading.
std::optional<double> GetCPUTemp(const std::string& path) {
    std::FILE* thermal = std::fopen(path.c_str(), "rt");
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

int ListThermalZones() {
    const std::vector<thermlog::Zone> zones = thermlog::ListZones(kThermalDir);
    for (const thermlog::Zone& zone : zones) {
        const std::string path = thermlog::ZoneTempPath(kThermalDir, zone.number);
        const std::optional<double> celsius = GetCPUTemp(path);
        if (!celsius)
            std::fprintf(stderr, "thermlog: %s: cannot be read\n", path.c_str());
        std::fputs(thermlog::FormatZoneLine(zone, celsius.value_or(0.0)).c_str(), stdout);
    }
    if (zones.empty())
        std::fprintf(stderr, "thermlog: %s: no thermal zone\n", kThermalDir);
    return zones.empty() ? kExitFailed : kExitOk;
}

// The temp file of the chosen zone; empty when no zone has the given type.
std::optional<std::string> ZonePath(const thermlog::ZoneChoice& zone) {
    std::optional<int> number = zone.number;
    if (!number)
        number = thermlog::FindZoneByType(thermlog::ListZones(kThermalDir), zone.type);
    if (!number)
        return std::nullopt;
    return thermlog::ZoneTempPath(kThermalDir, *number);
}

int LogOnce(const thermlog::CommandLine& command) {
    const char* logPath = command.logPath.c_str();
    std::FILE* log = OpenLog(logPath);
    if (log == nullptr) {
        std::printf("Erorr: File can't open [%s]\n", logPath);
        return kExitFailed;
    }
    // The time is taken first so that the stamp marks when the run started.
    const std::tm now = LocalTimeNow();
    const std::optional<std::string> thermalPath = ZonePath(command.zone);
    const std::optional<double> celsius =
        thermalPath ? GetCPUTemp(*thermalPath) : std::optional<double>();

    // A dead sensor still gets its line, so the log keeps one line per run.
    const double value = celsius.value_or(0.0);
    const bool written = WriteAndClose(log, command.iso ? thermlog::FormatIsoLogLine(now, value)
                                                        : thermlog::FormatLogLine(now, value));
    if (!written)
        std::printf("Error: File can't write [%s]\n", logPath);
    if (!thermalPath)
        std::printf("Error: Thermal zone not found [%s]\n", command.zone.type.c_str());
    else if (!celsius)
        std::printf("Error: Thermal file can't open [%s]\n", thermalPath->c_str());
    return written && celsius ? kExitOk : kExitFailed;
}

// Descriptors 0, 1 and 2 left closed by the caller are filled with
// /dev/null, so that the log never takes one of their places. It is opened
// the other way round, so that reading or writing one still fails as it
// would have.
void FillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0)
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
}

// What thermlog prints (the help, the zones, a message) is part of its
// answer: a standard output that did not take it fails the run.
int CloseStdout(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "thermlog: cannot write to standard output\n");
        return kExitFailed;
    }
    return status;
}

int Run(const thermlog::CommandLine& command) {
    switch (command.action) {
    case thermlog::Action::kHelp:
        PrintHelp();
        return kExitOk;
    case thermlog::Action::kVersion:
        std::printf("thermlog %s\n", PROJECT_VERSION_STRING);
        return kExitOk;
    case thermlog::Action::kList:
        return ListThermalZones();
    case thermlog::Action::kLog:
        return LogOnce(command);
    case thermlog::Action::kUsage:
        break;
    }
    std::fprintf(stderr, "thermlog: %s; %s (thermlog --help for more)\n",
                 command.usageError.c_str(), kUsage);
    return kExitUsage;
}

} // namespace

int main(int argc, char* argv[]) {
    FillStandardDescriptors();
    return CloseStdout(Run(thermlog::ParseCommandLine(argc, argv)));
}
