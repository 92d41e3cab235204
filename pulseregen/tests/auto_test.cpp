// The choices of --auto on recordings that defeat the fixed levels: the
// judged signal, the level estimate, the baseline window, and a switch that
// then flips at every edge of the recorded pulses and nowhere else.
#include "Auto.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kBlock = regen::kBlockFrames;
constexpr int kHalf = 20; // samples per half-period of the recorded square wave

struct Recording {
    const char* name;
    int amplitude;
    double dc;     // added to both channels
    double wander; // amplitude of a 3 Hz drift, as pink noise and hum give
    int right;     // the right channel is: 1 the left, -1 its inverse, 0 silent
    regen::Channel expected;
};

// Four blocks of stereo: silence in block 0, the square wave from block 1
// on, its first edge at frame `kBlock`.
std::vector<short> Render(const Recording& r) {
    std::vector<short> frames;
    for (int i = 0; i < 4 * kBlock; ++i) {
        const double drift = r.dc + r.wander * std::sin(2 * M_PI * 3 * i / 44100.0);
        const int pulse = i < kBlock ? 0 : ((i - kBlock) / kHalf) % 2 ? -r.amplitude : r.amplitude;
        frames.push_back(short(std::lround(pulse + drift)));
        frames.push_back(short(std::lround(r.right * pulse + drift)));
    }
    return frames;
}

std::vector<short> Fold(const std::vector<short>& frames, regen::Channel c) {
    std::vector<short> v;
    for (size_t i = 0; i + 1 < frames.size(); i += 2) {
        const int l = frames[i], r = frames[i + 1];
        const int folded[] = {(l + r) / 2, l, r, (l - r) / 2};
        v.push_back(short(folded[int(c)]));
    }
    return v;
}

} // namespace

TEST(Auto, ChoicesFollowTheRecording) {
    const Recording cases[] = {
        {"clean", 20000, 0, 0, 1, regen::Channel::kMix},
        {"DC offset", 9000, 15000, 0, 1, regen::Channel::kMix},
        {"wander", 8000, 0, 9000, 1, regen::Channel::kMix},
        {"out of phase", 12000, 0, 0, -1, regen::Channel::kDiff},
        {"one silent channel", 12000, 0, 0, 0, regen::Channel::kLeft},
        {"quiet", 900, 0, 0, 1, regen::Channel::kMix},
    };
    for (const Recording& r : cases) {
        SCOPED_TRACE(r.name);
        const std::vector<short> frames = Render(r);
        std::vector<regen::BlockSwings> blocks;
        for (int b = 0; b < 4; ++b)
            blocks.push_back(regen::MeasureStereo(&frames[size_t(2 * b * kBlock)], kBlock));
        const regen::Channel channel = regen::ChooseChannel(blocks);
        EXPECT_EQ(int(channel), int(r.expected));
        blocks.resize(9); // then silence, for longer than the pulses last

        // The level comes from the pulses' swing, whatever the offset.
        const int swing = regen::LoudSwing(blocks, channel);
        EXPECT_NEAR(swing, r.amplitude, r.amplitude / 20 + 1);
        const int active = regen::ActiveLevelFor(swing);
        EXPECT_EQ(regen::JudgeSwings(blocks, channel, active),
                  (std::vector<unsigned char>{0, 1, 1, 1, 0, 0, 0, 0, 0}));

        // The window spans four periods; the switch, on what is left once
        // the baseline is out, flips at each edge and at nothing else.
        const std::vector<short> judged = Fold(frames, channel);
        std::vector<int> intervals;
        regen::FlipIntervals(&judged[kBlock], 2 * kBlock, regen::SwitchLevelFor(swing), intervals);
        const int window = regen::WindowFor(intervals);
        EXPECT_EQ(window, 8 * kHalf);
        const int inner = 2 * kBlock; // blocks 1 and 2, with context on both sides
        std::vector<short> level(static_cast<size_t>(inner));
        regen::RemoveBaseline(&judged[kBlock], inner, window, level.data());
        regen::Settings settings{active, regen::SwitchLevelFor(swing)};
        settings.invert = false;
        regen::Regenerate(level.data(), inner, 0, settings);
        int flips = 0;
        for (int i = 1; i < inner; ++i)
            flips += level[size_t(i - 1)] != 0 && level[size_t(i)] != level[size_t(i - 1)];
        EXPECT_EQ(flips, inner / kHalf - 1);
    }
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
