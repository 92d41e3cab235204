// What the end-to-end runs of --auto (cli_test) leave open: the level is the
// median over the loud blocks, and the baseline is the centred mean, with
// the difference held within 16 bits.
#include "Baseline.h"
#include "Swings.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Auto, LevelIsTheMedianOfTheLoudBlocks) {
    // One block wider than the others (a click) does not move it; one under
    // half the widest takes no part.
    std::vector<regen::BlockSwings> blocks(5);
    const int typical[] = {100, 1000, 1200, 1100, 590};
    for (size_t b = 0; b < blocks.size(); ++b)
        blocks[b].typical[size_t(regen::Channel::kLeft)] = uint16_t(typical[b]);
    EXPECT_EQ(regen::LoudSwing(blocks, regen::Channel::kLeft), 1100);
}

TEST(Auto, RemoveBaselineTakesOutTheCentredMean) {
    // A ramp: the centred mean of a straight line is the line itself.
    std::vector<short> ramp(64);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = short(100 * i);
    std::vector<short> out(31); // frames and window not a multiple of 4 together
    regen::RemoveBaseline(&ramp[16], 31, 16, out.data());
    for (short s : out)
        EXPECT_NEAR(s, 50, 1); // the window's one extra sample before the centre
    // Differences beyond 16 bits are held at its ends; a window of 0 copies.
    const std::vector<short> spikes = {-32768, -32768, 32767, -32768, 32767, 32767, -32768, 32767};
    regen::RemoveBaseline(&spikes[2], 1, 4, out.data());
    EXPECT_EQ(out[0], 32767);
    regen::RemoveBaseline(&spikes[6], 1, 4, out.data());
    EXPECT_EQ(out[0], -32768);
    regen::RemoveBaseline(&spikes[2], 2, 0, out.data());
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
}
