// What the end-to-end runs of --auto (cli_test) leave open: the level is the
// median over the loud blocks, the baseline is the centred mean, with the
// difference held within 16 bits, the band filter keeps the shortest
// pulses at a low rate, data that does not balance is decided at its
// midpoint unless a droop sinks its runs, the tones' gap keeps their
// pauses quiet and lets them through a dropout, lagging tones get the sign
// of their lag, and the analysis read in two halves at once finds what one
// read finds.
#include "Analysis.h"
#include "Baseline.h"
#include "Probe.h"
#include "Swings.h"
#include "Tones.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <unistd.h>
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

namespace {

// `x`, a recording of `channels` at `rate` Hz, opened from an unnamed file.
bool Open(CWave& in, const std::vector<int>& x, uint16_t channels, int rate) {
    const wavtest::Bytes wav = wavtest::Wav16(x, channels, uint32_t(rate));
    // An unnamed file: the probe seeks to the blocks it measures.
    std::FILE* file = std::tmpfile();
    if (file == nullptr || std::fwrite(wav.data(), 1, wav.size(), file) != wav.size() ||
        std::fflush(file) != 0)
        return false;
    const bool opened = in.OpenWave(("/dev/fd/" + std::to_string(fileno(file))).c_str()) > 0;
    std::fclose(file);
    return opened;
}

// The shape --auto probes in `x`, a mono recording at `rate` Hz.
std::optional<regen::Shape> ProbeOf(const std::vector<int>& x, int rate, int height) {
    CWave in;
    if (!Open(in, x, 1, rate))
        return std::nullopt;
    const std::vector<unsigned char> active(x.size() / regen::kBlockFrames, 1);
    return regen::ProbeShape(in, active, regen::Settings{}, height, height);
}

} // namespace

TEST(Auto, TwoFramePulsesAtALowRateAreNotSmoothedAway) {
    // A tape's bits at 8 kHz: a 0 two half-periods of 1.95 frames, a 1 two
    // of 3.9, edges where the wave crosses them, in a little noise. The
    // band filter's window must leave the 0 bits whole: one frame.
    constexpr double kZero = 8000 * 855.0 / 3.5e6;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 300);
    std::vector<int> x;
    for (double t = 0; x.size() < size_t(10 * regen::kBlockFrames);) {
        const double half = rng() % 2 ? 2 * kZero : kZero;
        for (int sign : {1, -1})
            for (t += half; double(x.size()) < t;)
                x.push_back(int(std::lround(sign * 10000 + noise(rng))));
    }
    const std::optional<regen::Shape> shape = ProbeOf(x, 8000, 10000);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->smooth, 1) << "shortest " << shape->shortest;
}

TEST(Auto, TapeDrownedInNoiseIsFoundAndAveragedOverMostOfItsShortestPulse) {
    // A tape's bits at 44.1 kHz in white noise. Clear of it, the band filter
    // spans half the shortest pulse; at -3 dB, where the noise's own runs
    // are the shortest at one frame, it is found wider, then spans 3/4.
    constexpr double kZero = 44100 * 855.0 / 3.5e6;
    for (const int sd : {1000, 14000}) {
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0, sd);
        std::vector<int> x;
        for (double t = 0; x.size() < size_t(10 * regen::kBlockFrames);) {
            const double half = rng() % 2 ? 2 * kZero : kZero;
            for (int sign : {1, -1})
                for (t += half; double(x.size()) < t;)
                    x.push_back(std::max(
                        -32768, std::min(32767, int(std::lround(sign * 10000 + noise(rng))))));
        }
        const std::optional<regen::Shape> shape = ProbeOf(x, 44100, 10000);
        ASSERT_TRUE(shape && shape->stable) << sd;
        EXPECT_EQ(shape->smooth, sd == 1000 ? 5 : 7) << sd << " shortest " << shape->shortest;
    }
}

TEST(Auto, DataThatDoesNotBalanceIsDecidedAtItsMidpointUnlessItDroops) {
    // Random bits of five frames at 48 kHz (9600 bit/s) in white noise,
    // through a first-order high-pass at `corner` Hz: a droop that sinks a
    // run of four bits under half its height keeps the gap.
    const struct {
        int corner, noise;
        bool midpoint, quiet;
    } cases[] = {{0, 2500, true, false},
                 {150, 300, true, true},
                 {450, 300, false, true},
                 {1000, 100, false, true},
                 {0, 1200, true, true}};
    for (const auto& c : cases) {
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(0, c.noise);
        const double a = c.corner ? 1 / (1 + 2 * M_PI * c.corner / 48000.0) : 0;
        std::vector<int> x;
        for (double last = 0, y = 0; x.size() < size_t(12 * regen::kBlockFrames);) {
            const double bit = rng() % 2 ? 10000 : -10000;
            for (int k = 0; k < 5; ++k, last = bit)
                x.push_back(int(std::lround((y = a ? a * (y + bit - last) : bit) + noise(rng))));
        }
        const std::optional<regen::Shape> shape = ProbeOf(x, 48000, 10000);
        ASSERT_TRUE(shape && !shape->balanced) << c.corner;
        EXPECT_EQ(shape->midpoint, c.midpoint) << c.corner << " sag " << shape->sag;
        EXPECT_EQ(shape->quiet, c.quiet) << c.corner << " noise " << shape->noise;
    }
}

TEST(Auto, TonesGapKeepsThePausesQuietAndLetsADropoutThrough) {
    // FSK of +-10,000 at 44.1 kHz in white noise: the gap keeps out 2.5
    // deviations of the noise that the tones' band-pass lets through (all
    // that a pause holds), yet under light noise lies below a tenth of the
    // height, where a dropout of 20 dB leaves the tones.
    for (const int sd : {200, 800}) {
        std::mt19937 rng(5);
        std::normal_distribution<double> noise(0, sd);
        std::vector<int> x;
        std::vector<short> hiss;
        for (double phase = 0; x.size() < size_t(12 * regen::kBlockFrames);)
            for (int k = 0, hz = rng() % 2 ? 1200 : 2200; k < 36;
                 ++k, phase += 2 * M_PI * hz / 44100) {
                hiss.push_back(short(std::lround(noise(rng))));
                x.push_back(int(std::lround(10000 * std::sin(phase))) + hiss.back());
            }
        const std::optional<regen::Shape> shape = ProbeOf(x, 44100, 10000);
        ASSERT_TRUE(shape && shape->tones.low > 0) << sd;
        regen::Tones(shape->tones.low, shape->tones.high, 44100)
            .Flow(hiss.data(), int(hiss.size()), hiss.data());
        const double inBand = std::sqrt(
            std::inner_product(hiss.begin() + 9999, hiss.end(), hiss.begin() + 9999, 0.0) /
            double(hiss.size() - 9999));
        EXPECT_GE(shape->tones.gap, 2.5 * inBand) << sd;
        EXPECT_EQ(shape->tones.gap * 10 < shape->tones.height, sd == 200) << shape->tones.gap;
    }
}

TEST(Auto, ChannelsOfLaggingTonesGetTheSignOfTheirLag) {
    // AFSK at 300 baud (1600 and 1800 Hz) whose right channel lags 6.5
    // frames, in noise of its own: negated, the tones correlate as well
    // half a period to either side, so blocks differ in the peak they
    // find; the sign must be that of the lag chosen.
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 10000);
    std::vector<double> tone;
    for (double phase = 0; tone.size() < size_t(17 * regen::kBlockFrames);)
        for (int k = 0, hz = rng() % 2 ? 1600 : 1800; k < 147; ++k, phase += 2 * M_PI * hz / 44100)
            tone.push_back(8000 * std::sin(phase));
    std::vector<int> x;
    for (size_t i = 7; i < tone.size(); ++i)
        for (const double v : {tone[i], (tone[i - 6] + tone[i - 7]) / 2})
            x.push_back(int(std::lround(v + noise(rng))));
    CWave in;
    ASSERT_TRUE(Open(in, x, 2, 44100));
    const std::vector<unsigned char> active(x.size() / 2 / regen::kBlockFrames, 1);
    const std::optional<regen::Pairing> p = regen::ProbePairing(in, active, 27);
    ASSERT_TRUE(p);
    // Any of the three peaks will do, with its own sign: the tones (near
    // 1700 Hz) then add up in the combination.
    EXPECT_EQ(p->sign, std::cos(2 * M_PI * 1700 * (p->lag - 6.5) / 44100) > 0 ? 1 : -1) << p->lag;
}

TEST(Auto, AnalysisReadInTwoHalvesFindsWhatOneReadFinds) {
    // 131 blocks and a part block of stereo whose swings change from block
    // to block, whole and cut, once opened, where the first half, the later
    // half or the boundary between them ends it; all four signals, or one.
    constexpr int kBlocks = 131, kPart = 777, kHalf = (kBlocks + 1) / 2;
    std::mt19937 rng(11);
    std::vector<int> x;
    for (int f = 0; f < kBlocks * regen::kBlockFrames + kPart; ++f) {
        const int height = 200 + 97 * (f / regen::kBlockFrames);
        x.push_back(int(rng() % unsigned(2 * height)) - height);
        x.push_back(int(rng() % unsigned(height)));
    }
    const wavtest::Bytes whole = wavtest::Wav16(x, 2);
    const struct {
        const char* name;
        size_t frames; // that the file holds
        std::optional<regen::Channel> channel;
    } cases[] = {
        {"whole", x.size() / 2, std::nullopt},
        {"whole, the left channel", x.size() / 2, regen::Channel::kLeft},
        {"ends in the first half", 20 * regen::kBlockFrames + 5, std::nullopt},
        {"ends where the later half starts", size_t(kHalf) * regen::kBlockFrames, std::nullopt},
        {"ends in the later half", 100 * regen::kBlockFrames + 3, regen::Channel::kDiff},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(whole.data(), 1, whole.size(), file), whole.size());
        ASSERT_EQ(std::fflush(file), 0);
        const std::string path = "/dev/fd/" + std::to_string(fileno(file));
        CWave once, first, later;
        for (CWave* reader : {&once, &first, &later})
            ASSERT_GT(reader->OpenWave(path.c_str()), 0);
        ASSERT_EQ(ftruncate(fileno(file), off_t(44 + 4 * c.frames)), 0);
        std::fclose(file);
        const std::optional<regen::SwingScan> one = regen::ScanSwings(once, c.channel);
        const std::optional<regen::SwingScan> two = regen::ScanSwings(first, c.channel, &later);
        ASSERT_TRUE(one && two);
        ASSERT_EQ(one->blocks.size(), size_t(kBlocks + 1));
        EXPECT_EQ(one->ended, c.frames < x.size() / 2);
        EXPECT_EQ(one->framesRead, c.frames);
        EXPECT_EQ(two->ended, one->ended);
        EXPECT_EQ(two->framesRead, one->framesRead);
        ASSERT_EQ(two->blocks.size(), one->blocks.size());
        for (size_t b = 0; b < one->blocks.size(); ++b)
            EXPECT_TRUE(two->blocks[b].typical == one->blocks[b].typical &&
                        two->blocks[b].peak == one->blocks[b].peak)
                << "block " << b;
    }
}
