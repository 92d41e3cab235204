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

// Says "thermlog: WHAT" on standard error.
void Complain(const std::string& what) {
    std::fprintf(stderr, "thermlog: %s\n", what.c_str());
}

// Help, version and bad usage: answered without touching the log.
int AnswerHelpVersionOrUsage(const thermlog::CommandLine& command) {
    switch (command.action) {
    case thermlog::Action::kHelp:
        std::fputs(thermlog::HelpText().c_str(), stdout);
        return thermlog::kExitOk;
    case thermlog::Action::kVersion:
        std::printf("thermlog %s\n", PROJECT_VERSION_STRING);
        return thermlog::kExitOk;
    default:
        Complain(command.usageError + "; " + thermlog::kUsage + " (thermlog --help for more)");
        return thermlog::kExitUsage;
    }
}

// Descriptors 0, 1 and 2 left closed by the caller are filled with
// /dev/null, so that no file this run opens takes their place. It is opened
// the other way round, so that reading or writing one still fails as it
// would have.
void FillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0)
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
}

// What the program prints is part of its result: a standard output that did
// not take it fails the run.
int CloseStdout(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Complain("cannot write to standard output");
        return thermlog::kExitFailed;
    }
    return status;
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
        Complain(std::string(path) + ": is a " + (S_ISFIFO(info.st_mode) ? "FIFO" : "socket") +
                 ", not a file");
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
// opened or read, with the reason in `error`, so that the caller can tell a
// dead sensor from a reading.
std::optional<double> GetCPUTemp(const std::string& path, int& error) {
    std::FILE* thermal = std::fopen(path.c_str(), "rt");
    if (thermal == nullptr) {
        error = errno;
        return std::nullopt;
    }
    char bytes[thermlog::kThermalReadMax];
    const std::size_t count = std::fread(bytes, 1, sizeof bytes, thermal);
    // A directory or a dead device opens but fails to read.
    const bool readFailed = std::ferror(thermal) != 0;
    error = errno;
    std::fclose(thermal);
    if (readFailed)
        return std::nullopt;
    return thermlog::CelsiusFromThermalText(std::string_view(bytes, count));
}

std::optional<double> GetCPUTemp(const std::string& path) {
    int error = 0;
    return GetCPUTemp(path, error);
}

// What to run when the zone asked for gives no reading.
constexpr char kSeeList[] = "; 'thermlog --list' shows the zones and their readings";

int ListThermalZones() {
    const std::vector<thermlog::Zone> zones = thermlog::ListZones(kThermalDir);
    for (const thermlog::Zone& zone : zones) {
        const std::string path = thermlog::ZoneTempPath(kThermalDir, zone.number);
        const std::optional<double> celsius = GetCPUTemp(path);
        if (!celsius)
            Complain(path + ": cannot be read");
        std::fputs(
            thermlog::FormatZoneLine(zone, celsius.value_or(thermlog::kUnreadCelsius)).c_str(),
            stdout);
    }
    if (zones.empty())
        Complain(std::string(kThermalDir) + ": no thermal zone");
    return zones.empty() ? thermlog::kExitFailed : thermlog::kExitOk;
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
        // "Erorr" as misspelt: scripts that match the message rely on it.
        std::printf("Erorr: File can't open [%s]\n", logPath);
        return thermlog::kExitFailed;
    }
    // The time is taken first so that the stamp marks when the run started.
    const std::tm now = LocalTimeNow();
    const std::optional<std::string> thermalPath = ZonePath(command.zone);
    int error = 0;
    const std::optional<double> celsius =
        thermalPath ? GetCPUTemp(*thermalPath, error) : std::optional<double>();

    // A dead sensor still gets its line, so the log keeps one line per run.
    const double value = celsius.value_or(thermlog::kUnreadCelsius);
    const bool written = WriteAndClose(log, command.iso ? thermlog::FormatIsoLogLine(now, value)
                                                        : thermlog::FormatLogLine(now, value));
    if (!written)
        std::printf("Error: File can't write [%s]\n", logPath);
    if (!thermalPath) {
        std::printf("Error: Thermal zone not found [%s]\n", command.zone.type.c_str());
        Complain(std::string(kThermalDir) + ": no thermal zone of type '" + command.zone.type +
                 "'" + kSeeList);
    } else if (!celsius) {
        std::printf("Error: Thermal file can't open [%s]\n", thermalPath->c_str());
        Complain(*thermalPath + ": " + std::strerror(error ? error : EIO) + kSeeList);
    }
    return written && celsius ? thermlog::kExitOk : thermlog::kExitFailed;
}

} // namespace

int main(int argc, char* argv[]) {
    FillStandardDescriptors();
    const thermlog::CommandLine command = thermlog::ParseCommandLine(argc, argv);
    if (command.action != thermlog::Action::kLog && command.action != thermlog::Action::kList)
        return CloseStdout(AnswerHelpVersionOrUsage(command));
    return CloseStdout(command.action == thermlog::Action::kList ? ListThermalZones()
                                                                 : LogOnce(command));
}
