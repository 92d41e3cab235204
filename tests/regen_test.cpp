// The block steps of pulseregen: activity, span, square-wave switch, fade.
#include "Regen.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

using namespace wavtest;

TEST(IsActive, MagnitudeAboveTenThousand) {
    const struct {
        std::vector<short> block;
        int frames;
        bool active;
    } cases[] = {
        {{0, 10000, -10000, 9999}, 4, false},
        {{0, 0, 10001}, 3, true},
        {{-10001}, 1, true},
        {{-32768}, 1, true},
        {{32767, 0}, 2, true},
        {{0, 0, 0, 0}, 4, false},
        {{0, 0, 0, 20000}, 3, false}, // beyond the frames asked about
        {{20000}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.block) + " frames " + std::to_string(c.frames));
        EXPECT_EQ(regen::IsActive(c.block.data(), c.frames), c.active);
    }
}

TEST(FindSpan, FirstToLastActiveBlock) {
    const struct {
        std::vector<unsigned char> flags;
        int64_t first, last;
    } cases[] = {
        {{}, -1, -1},
        {{0, 0, 0}, -1, -1},
        {{0, 1}, 1, 1},
        {{0, 0, 1, 0, 0, 1, 0}, 2, 5},
        {{1, 0, 1, 1, 0}, 0, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.flags));
        const regen::Span span = regen::FindSpan(c.flags);
        EXPECT_EQ(span.first, c.first);
        EXPECT_EQ(span.last, c.last);
        for (int64_t b = -1; b <= int64_t(c.flags.size()); ++b)
            EXPECT_EQ(span.Contains(b), c.first >= 0 && b >= c.first && b <= c.last) << b;
    }
}

TEST(Regenerate, TwoThresholdSwitch) {
    const struct {
        const char* name;
        short level;
        std::vector<short> in;
        std::vector<short> out;
        short after;
    } cases[] = {
        {"five samples from rest",
         0,
         {0, 8001, 5000, -8001, 8001},
         {0, -30000, -30000, 30000, -30000},
         30000},
        {"thresholds themselves", 0, {8000, -8000, 8000}, {0, 0, 0}, 0},
        {"negative swing at rest starts nothing", 0, {-9000, -32768, 0}, {0, 0, 0}, 0},
        {"high stays at -8000", 30000, {-8000, 8000, 32767}, {-30000, -30000, -30000}, 30000},
        {"low stays at 8000", -30000, {8000, -8000, -32768}, {30000, 30000, 30000}, -30000},
        {"extremes switch", 30000, {-32768, 32767}, {30000, -30000}, 30000},
        {"empty block keeps level", -30000, {}, {}, -30000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<short> block = c.in;
        EXPECT_EQ(regen::Regenerate(block.data(), int(block.size()), c.level), c.after);
        EXPECT_EQ(block, c.out);
    }
}

TEST(Regenerate, LevelCarriesAcrossBlocks) {
    std::vector<short> first = {0, 9000, 0};
    std::vector<short> second = {0, -9000, 100};
    short level = regen::Regenerate(first.data(), 3, 0);
    level = regen::Regenerate(second.data(), 3, level);
    EXPECT_EQ(first, (std::vector<short>{0, -30000, -30000}));
    EXPECT_EQ(second, (std::vector<short>{-30000, 30000, 30000}));
    EXPECT_EQ(level, -30000);
}

TEST(MakeFade, LinearFromLevelTruncated) {
    const struct {
        short level;
        short first, at4992, last;
    } cases[] = {
        {30000, 30000, 15374, 2},
        {-30000, -30000, -15374, -2},
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        std::vector<short> block(regen::kBlockFrames, 0x5A5A);
        regen::MakeFade(block.data(), c.level);
        EXPECT_EQ(block[0], c.first);
        EXPECT_EQ(block[4992], c.at4992);
        EXPECT_EQ(block[regen::kBlockFrames - 1], c.last);
        for (int i = 0; i < regen::kBlockFrames; ++i) {
            const double ratio = (regen::kBlockFrames - i) / double(regen::kBlockFrames);
            ASSERT_EQ(block[size_t(i)], short(int(c.level * ratio))) << i;
        }
    }
}

TEST(SameFile, PathsNamingOneFile) {
    TempDir dir;
    const std::string a = dir.Write("a.wav", {1});
    const std::string b = dir.Write("b.wav", {1});
    ASSERT_EQ(symlink(a.c_str(), dir.Path("sym.wav").c_str()), 0);
    ASSERT_EQ(link(a.c_str(), dir.Path("hard.wav").c_str()), 0);
    const struct {
        std::string in, out;
        bool same;
    } cases[] = {
        {a, a, true},
        {dir.Path("absent.wav"), dir.Path("absent.wav"), true},
        {a, dir.path() + "/./a.wav", true},
        {a, dir.Path("sym.wav"), true},
        {dir.Path("sym.wav"), a, true},
        {a, dir.Path("hard.wav"), true},
        {a, b, false},
        {a, dir.Path("absent.wav"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(regen::SameFile(c.in.c_str(), c.out.c_str()), c.same) << c.in << " " << c.out;
}
