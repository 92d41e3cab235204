// thermlog's pure parts: the reading's conversion, the log lines, the
// command line and the zone lookup, on fixed inputs.
#include "ThermLog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

struct ParseCase {
    const char* name;
    std::string text;
    int milliDegrees;
};

TEST(ThermLogParse, FollowsTheStandardConversionAndSaturates) {
    const std::string spaces63(63, ' ');
    const ParseCase cases[] = {
        {"typical sensor text", "45312\n", 45312},
        {"negative", "-45312\n", -45312},
        {"leading white space", " \t\n\v\f\r17", 17},
        {"plus sign", "+17", 17},
        {"white space then sign", "  -8\n", -8},
        {"leading zeros", "000123", 123},
        {"empty", "", 0},
        {"no digits", "abc\n", 0},
        {"sign alone", "-\n", 0},
        {"space after sign", "- 5", 0},
        {"two signs", "+-5", 0},
        {"hex is not read", "0x1A", 0},
        {"digits then junk", "12ab34", 12},
        {"digits then a decimal point", "45.9", 45},
        {"nul ends the text",
         std::string("12\0"
                     "34",
                     5),
         12},
        {"int max", "2147483647", INT_MAX},
        {"one past int max", "2147483648", INT_MAX},
        {"far past int max", "99999999999", INT_MAX},
        {"int min", "-2147483648", INT_MIN},
        {"one past int min", "-2147483649", INT_MIN},
        {"far past int min", "-99999999999", INT_MIN},
        {"digits past long long", std::string(60, '9'), INT_MAX},
        {"last digit is byte 64", spaces63 + "5", 5},
        {"digit at byte 65 is not read", spaces63 + " 5", 0},
        {"number cut at byte 64", std::string(59, ' ') + "12345678\n", 12345},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(thermlog::ParseMilliDegrees(c.text), c.milliDegrees) << c.name;
    }
}

struct TemperatureCase {
    const char* thermalText;
    const char* field;
};

TEST(ThermLogLine, TemperatureFieldHasOneDecimalAndItsSign) {
    const TemperatureCase cases[] = {
        {"45312\n", "45.3"},
        {"45360\n", "45.4"},
        {"-45312\n", "-45.3"},
        {"-49\n", "-0.0"},
        {"-1\n", "-0.0"},
        {"0\n", "0.0"},
        {"49\n", "0.0"},
        {"", "0.0"},
        {"junk\n", "0.0"},
        {"100000", "100.0"},
        {"99999999999", "2147483.6"},
        {"-99999999999", "-2147483.6"},
    };
    const std::tm when = Time(2026, 12, 7, 14, 31, 28);
    for (const TemperatureCase& c : cases) {
        const std::string expected = std::string("26/12/07 14:31:28 ") + c.field + "\n";
        EXPECT_EQ(thermlog::FormatLogLine(when, thermlog::CelsiusFromThermalText(c.thermalText)),
                  expected)
            << "thermal text \"" << c.thermalText << "\"";
    }
}

struct StampCase {
    std::tm when;
    const char* stamp;
};

TEST(ThermLogLine, StampIsTwoDigitFieldsInOrder) {
    const StampCase cases[] = {
        {Time(2005, 3, 4, 5, 6, 7), "05/03/04 05:06:07"},
        {Time(2024, 12, 31, 0, 0, 0), "24/12/31 00:00:00"},
        {Time(2000, 1, 1, 0, 0, 0), "00/01/01 00:00:00"},
        {Time(1999, 11, 30, 23, 59, 59), "99/11/30 23:59:59"},
        {Time(2100, 10, 10, 10, 10, 10), "00/10/10 10:10:10"},
        {Time(2016, 12, 31, 23, 59, 60), "16/12/31 23:59:60"},
    };
    for (const StampCase& c : cases) {
        EXPECT_EQ(thermlog::FormatLogLine(c.when, 45.312), std::string(c.stamp) + " 45.3\n");
    }
}

struct IsoCase {
    long offsetSeconds;
    const char* line;
};

TEST(ThermLogIsoLine, OffsetIsSignedHoursAndMinutes) {
    const IsoCase cases[] = {
        {0, "0999-12-07T14:31:28+00:00 45.3\n"},
        {19800, "0999-12-07T14:31:28+05:30 45.3\n"},
        {-34200, "0999-12-07T14:31:28-09:30 45.3\n"},
        {3208, "0999-12-07T14:31:28+00:53 45.3\n"}, // local mean time: seconds dropped
    };
    for (const IsoCase& c : cases) {
        std::tm when = Time(999, 12, 7, 14, 31, 28);
        when.tm_gmtoff = c.offsetSeconds;
        EXPECT_EQ(thermlog::FormatIsoLogLine(when, 45.312), c.line) << c.offsetSeconds;
    }
}

struct CommandCase {
    std::vector<std::string> args;
    thermlog::Action action;
    int zoneNumber; // -1 when the zone is named by `zoneType`
    const char* zoneType;
    bool iso;
    const char* logPath; // for kUsage, part of the reason, which names the option as typed
};

// Parsed one after another in the same process, as getopt must start afresh.
TEST(ThermLogCommandLine, OptionsInAnyOrderBeforeOrAfterLogfile) {
    using thermlog::Action;
    const CommandCase cases[] = {
        {{"a.log"}, Action::kLog, 0, "", false, "a.log"},
        {{"-i", "-z", "cpu-thermal", "a.log"}, Action::kLog, -1, "cpu-thermal", true, "a.log"},
        {{"a.log", "--zone=12", "--iso"}, Action::kLog, 12, "", true, "a.log"},
        {{"--", "-z"}, Action::kLog, 0, "", false, "-z"},
        {{"--list", "-z", "3"}, Action::kList, 3, "", false, ""},
        {{"--version", "a.log", "b.log"}, Action::kVersion, 0, "", false, ""},
        {{"-z", "99999999999", "a.log"}, Action::kUsage, 0, "", false, "malformed zone"},
        {{"-xl", "a.log"}, Action::kUsage, 0, "", false, "unknown option '-x'"},
        {{"a.log", "--iso=1"}, Action::kUsage, 0, "", false, "option '--iso' takes no value"},
        {{"--bogus", "a.log"}, Action::kUsage, 0, "", false, "unknown option '--bogus'"},
        {{"-z", "007", "a.log"}, Action::kLog, 7, "", false, "a.log"},
    };
    for (const CommandCase& c : cases) {
        std::vector<std::string> words{"thermlog"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const thermlog::CommandLine got =
            thermlog::ParseCommandLine(static_cast<int>(words.size()), argv.data());
        const std::string name = c.args.front() + "...";
        EXPECT_EQ(got.action, c.action) << name;
        if (c.action == Action::kUsage) {
            EXPECT_NE(got.usageError.find(c.logPath), std::string::npos) << got.usageError;
            continue;
        }
        EXPECT_EQ(got.zone.number.value_or(-1), c.zoneNumber) << name;
        EXPECT_EQ(got.zone.type, c.zoneType) << name;
        EXPECT_EQ(got.iso, c.iso) << name;
        EXPECT_EQ(got.logPath, c.logPath) << name;
    }
}

TEST(ThermLogZones, OnlyNumberedZoneEntriesInNumberOrder) {
    char pattern[] = "/tmp/thermlog-zones-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    for (const char* name : {"thermal_zone10", "thermal_zone2", "thermal_zone", "thermal_zone3x",
                             "cooling_device0", "thermal_zone0"})
        std::filesystem::create_directory(dir / name);
    std::ofstream(dir / "thermal_zone10" / "type") << "cpu\n";
    std::ofstream(dir / "thermal_zone2" / "type") << "cpu\n";
    // thermal_zone0 has no type file: it is listed with an empty type.
    const std::vector<thermlog::Zone> zones = thermlog::ListZones(dir.string());
    std::filesystem::remove_all(dir);

    std::string listed;
    for (const thermlog::Zone& zone : zones)
        listed += thermlog::FormatZoneLine(zone, -0.04);
    EXPECT_EQ(listed, "0  -0.0\n2 cpu -0.0\n10 cpu -0.0\n");
    EXPECT_EQ(thermlog::FindZoneByType(zones, "cpu"), 2);
    EXPECT_EQ(thermlog::FindZoneByType(zones, "cp"), std::nullopt);
    EXPECT_TRUE(thermlog::ListZones(dir.string()).empty());
}

} // namespace
