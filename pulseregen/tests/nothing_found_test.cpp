// --auto on recordings that hold no pulse train: silence and noise end with
// their own status and no output, so that a batch job can sort them out;
// pulse trains, noisy ones included, are regenerated as before.
#include "PulseTrain.h"
#include "RunTool.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 2 * kRate;

// A square wave of half-period `half` (alternating with `other` when it is
// not 0, as FSK or tape data do), with uniform noise of +-`noise` on it.
std::vector<int> Pulses(int amplitude, int half, int other, int noise, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> d(-noise, noise);
    std::vector<int> v(kFrames);
    int level = amplitude, left = half, width = half;
    for (int& s : v) {
        if (--left == 0) {
            level = -level;
            width = other && width == half && (random() % 2) ? other : half;
            left = width;
        }
        s = std::clamp(level + (noise ? d(random) : 0), -32768, 32767);
    }
    return v;
}

std::vector<int> WhiteNoise(int amplitude, unsigned seed) {
    return Pulses(0, kFrames + 1, 0, amplitude, seed);
}

// Noise low-passed by a one-pole filter: long, irregular swings.
std::vector<int> Rumble(int amplitude, unsigned seed) {
    std::vector<int> v = WhiteNoise(32767, seed);
    double y = 0;
    for (int& s : v) {
        y += (s - y) / 40;
        s = std::clamp(int(y * amplitude / 4000), -32768, 32767);
    }
    return v;
}

} // namespace

TEST(NothingFound, StablePercentCountsTheCommonestWidths) {
    const struct {
        const char* name;
        std::vector<int> intervals;
        int percent;
    } cases[] = {
        {"none", {}, 0},
        {"one width", {50, 50, 50, 50}, 100},
        // Within a fifth of 50: 40 to 60.
        {"jitter", {40, 50, 60}, 100},
        {"two widths and a stray", {9, 9, 18, 18, 19, 17, 9, 30, 30, 50}, 90},
        {"four widths", {10, 10, 20, 20, 40, 40, 90, 90}, 75},
        // Each width 1.4 times the last: every window holds one.
        {"spread", {10, 14, 20, 28, 40, 56, 80, 112, 160, 224}, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(regen::StablePercent(c.intervals), c.percent);
    }
}

TEST(NothingFound, JudgeTellsSilenceNoiseAndPulses) {
    const std::vector<int> train(40, 25);
    std::vector<int> shortFlips(40, 3);
    std::vector<int> few(regen::kMinTrainFlips - 1, 25);
    std::vector<int> spread;
    for (int i = 0; i < 100; ++i)
        spread.push_back(4 + i * 7 % 97);
    EXPECT_EQ(regen::JudgePulseTrain(false, train), regen::Found::kSilence);
    EXPECT_EQ(regen::JudgePulseTrain(true, train), regen::Found::kPulseTrain);
    EXPECT_EQ(regen::JudgePulseTrain(true, shortFlips), regen::Found::kNoise);
    EXPECT_EQ(regen::JudgePulseTrain(true, few), regen::Found::kNoise);
    EXPECT_EQ(regen::JudgePulseTrain(true, spread), regen::Found::kNoise);
}

TEST(NothingFound, StatusIsDocumentedInTheHelp) {
    TempDir dir;
    const Result r = RunTool(dir.Dir(), {"--help"});
    EXPECT_NE(r.out.find("3 when --auto finds no pulse train"), std::string::npos) << r.out;
}

TEST(NothingFound, AutoSortsOutBlankRecordings) {
    const std::vector<int> square = Pulses(12000, 50, 0, 0, 7);
    const struct {
        const char* name;
        std::vector<int> samples;
        int status;
        const char* reason; // on stderr's last line; "" for a regenerated run
        int rate = kRate;
    } cases[] = {
        {"digital silence", std::vector<int>(kFrames, 0), 3, "(silence: no block swings past"},
        {"hiss of a blank tape", WhiteNoise(20, 1), 3, "(silence: no block swings past"},
        {"loud white noise", WhiteNoise(20000, 2), 3, "(noise: the flips at"},
        {"rumble", Rumble(12000, 3), 3, "(noise: the flips at"},
        {"square wave", Pulses(12000, 50, 0, 0, 4), 0, ""},
        {"noisy tape data, two widths", Pulses(9000, 9, 18, 2500, 5), 0, ""},
        {"faint pulses", Pulses(300, 40, 0, 30, 6), 0, ""},
        // A modem's tones at 8 kHz flip every 2 or 3 frames: pulses still.
        {"FSK at 8 kHz", Pulses(9000, 2, 3, 300, 8), 0, "", 8000},
        // Too short to time its flips: regenerated as before.
        {"900 frames of pulses",
         std::vector<int>(square.begin() + 10240, square.begin() + 10240 + 900), 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.Write("in.wav", Wav16(c.samples, 1, c.rate));
        const Result r = RunTool(dir.Dir(), {"--auto", "-q", "in.wav", "out.wav"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        if (c.status == 3) {
            EXPECT_NE(r.err.find("in.wav: no pulse train found " + std::string(c.reason)),
                      std::string::npos)
                << r.err;
            EXPECT_FALSE(Exists(dir.Path("out.wav")));
        } else {
            EXPECT_EQ(r.err.find("no pulse train"), std::string::npos) << r.err;
            EXPECT_TRUE(Exists(dir.Path("out.wav")));
        }
        // Without --auto the run and its status stay as they were.
        const Result plain = RunTool(dir.Dir(), {"-q", "in.wav", "plain.wav"});
        EXPECT_EQ(plain.status, 0) << plain.err;
        EXPECT_TRUE(Exists(dir.Path("plain.wav")));
    }
}
