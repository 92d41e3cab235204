// The writer's WriteBehind: the bytes appended reach the file whole and in
// order across its buffers' hand-overs, and its thread takes no signal. (A
// failed write's errno is the full-disk and size-limit scenarios' to show.)
#include "WavBytes.h"
#include "WriteBehind.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using namespace wavtest;

namespace {

Bytes Numbered(size_t n, size_t from) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = (unsigned char)((from + i) * 131 % 251);
    return b;
}

std::set<std::string> Threads() {
    std::set<std::string> tids;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                tids.insert(e->d_name);
        closedir(d);
    }
    return tids;
}

// The signals a thread blocks, from its SigBlk line.
unsigned long long Blocked(const std::string& tid) {
    std::ifstream status("/proc/self/task/" + tid + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigBlk:", 0) == 0)
            return std::stoull(line.substr(7), nullptr, 16);
    return 0;
}

} // namespace

TEST(WriteBehind, AppendsReachTheFileWholeAndInOrder) {
    // Buffers of 8 bytes: appends shorter than one, of one exactly, across
    // two and across many hand over at every place a buffer can fill.
    const struct {
        const char* name;
        std::vector<size_t> appends;
    } cases[] = {
        {"nothing", {}},
        {"empty appends", {0, 0}},
        {"under a buffer", {7}},
        {"one buffer", {8}},
        {"one byte over", {9}},
        {"buffer by buffer", {8, 8, 8}},
        {"ragged", {3, 13, 1, 0, 40, 5}},
        {"byte by byte", std::vector<size_t>(37, 1)},
        {"many buffers at once", {8 * 1000 + 3}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path("out");
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        unsigned char a[8], b[8];
        Bytes expected;
        {
            wav::WriteBehind behind(fd, a, b, sizeof a);
            for (const size_t n : c.appends) {
                const Bytes part = Numbered(n, expected.size());
                EXPECT_TRUE(behind.Append(part.data(), part.size()));
                expected.insert(expected.end(), part.begin(), part.end());
            }
            EXPECT_TRUE(behind.Flush());
            EXPECT_EQ(ReadFile(path), expected) << "after Flush";
        }
        close(fd);
        EXPECT_EQ(ReadFile(path), expected);
    }
}

TEST(WriteBehind, ItsThreadTakesNoSignal) {
    // A signal that ends a run must reach the caller's thread, which holds
    // such signals off while it puts the output in place.
    const std::set<std::string> before = Threads();
    const int fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(fd, 0);
    unsigned char a[16], b[16];
    wav::WriteBehind behind(fd, a, b, sizeof a);
    const Bytes data = Numbered(100, 0);
    ASSERT_TRUE(behind.Append(data.data(), data.size()));
    int made = 0;
    for (const std::string& tid : Threads()) {
        if (before.count(tid))
            continue;
        ++made;
        const unsigned long long blocked = Blocked(tid);
        for (const int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGXFSZ, SIGUSR1})
            EXPECT_TRUE(blocked >> (sig - 1) & 1) << "signal " << sig << " not blocked";
    }
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(behind.Flush());
    close(fd);
}
