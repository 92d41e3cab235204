// The block steps of pulseregen: activity, span, square-wave switch, fade.
#include "Activity.h"
#include "Fade.h"
#include "Passes.h"
#include "Switch.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

TEST(Peak, LargestMagnitudeJudgedAgainstLevel) {
    const struct {
        std::vector<short> block;
        int frames;
        int peak;
        bool active; // at the default level of 10,000
    } cases[] = {
        {{0, 10000, -10000, 9999}, 4, 10000, false},
        {{0, 0, 10001}, 3, 10001, true},
        {{-10001}, 1, 10001, true},
        {{-32768}, 1, 32768, true},
        {{32767, 0}, 2, 32767, true},
        {{0, 0, 0, 0}, 4, 0, false},
        {{0, 0, 0, 20000}, 3, 0, false}, // beyond the frames asked about
        {{20000}, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.block) + " frames " + std::to_string(c.frames));
        const int peak = regen::Peak(c.block.data(), c.frames);
        EXPECT_EQ(peak, c.peak);
        EXPECT_EQ(regen::Judge({0, peak}, regen::kActiveAbove)[1], c.active);
    }
    // Another level moves the boundary with it.
    EXPECT_EQ(regen::Judge({0, 4999, 5000, 5001}, 5000), (std::vector<unsigned char>{0, 0, 0, 1}));
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

// A stream that cannot go back to the first sample fails both passes rather
// than reading on from wherever it stands.
// A pipe is read once: the first pass reads it, a second cannot go back.
TEST(Passes, InputThatCannotSeekIsReadOnce) {
    const int frames = 2 * regen::kBlockFrames;
    const wavtest::Bytes wav = wavtest::Wav16(std::vector<int>(size_t(frames), 0));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], wav.data(), wav.size()), ssize_t(wav.size())); // fits the pipe
    close(ends[1]);
    CWave in, out;
    ASSERT_EQ(in.OpenWave(("/dev/fd/" + std::to_string(ends[0])).c_str()), frames);
    close(ends[0]);
    std::vector<short> block(regen::kBlockFrames);
    EXPECT_TRUE(regen::ScanActivity(in, block.data(), 2));
    EXPECT_FALSE(regen::RegenerateSpan(in, out, block.data(), 2, regen::Span{1, 1}));
}
