// The stages of --auto's detector on signals whose answer is known: the
// noise estimate, the band filter's edges, the tracked levels through a
// dropout and a pause, the carrier squelch, and the lag between two
// channels.
#include "Align.h"
#include "Band.h"
#include "Follow.h"
#include "Noise.h"
#include "Tones.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// A square wave of +-height with half-periods of `half` frames, starting high.
std::vector<short> Square(int frames, int half, int height) {
    std::vector<short> x(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        x[size_t(i)] = short((i / half) % 2 == 0 ? height : -height);
    return x;
}

void AddNoise(std::vector<short>& x, double sd, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0, sd);
    for (short& v : x)
        v = short(std::lround(std::max(-32768.0, std::min(32767.0, v + n(rng)))));
}

// A follower of pulses of +-10,000 over eight half-periods, as --auto's,
// writing +-30,000 uninverted.
regen::FollowSettings Following(int hysteresis) {
    regen::FollowSettings s;
    s.height = 10000;
    s.hysteresis = hysteresis;
    s.follow = 8;
    s.pause = 120;
    s.amplitude = 30000;
    s.invert = false;
    return s;
}

// Frames at which y changes sign, from `from` on.
std::vector<int> SignChanges(const std::vector<short>& y, int from) {
    std::vector<int> at;
    for (size_t i = size_t(from) + 1; i < y.size(); ++i)
        if ((y[i] >= 0) != (y[i - 1] >= 0))
            at.push_back(int(i));
    return at;
}

TEST(Detector, NoiseOnTheFlatTopsIsTheNoiseNotThePulses) {
    // The estimate follows the noise and not the pulses' height: the same
    // noise on pulses of 4,000 and of 20,000 gives the same figure. A slow
    // wander (hum) moves the pulses' middles from one to the next, but not
    // the line through a sample's neighbours.
    struct Row {
        int height;
        double sd;
        int wander;
    } rows[] = {{4000, 0, 0},     {4000, 200, 0},   {20000, 200, 0},
                {20000, 1000, 0}, {10000, 2000, 0}, {20000, 200, 4000}};
    for (const Row& r : rows) {
        std::vector<short> x = Square(8192, 64, r.height);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = short(x[i] + std::lround(r.wander * std::sin(2 * M_PI * double(i) / 2000)));
        AddNoise(x, r.sd, 7);
        regen::TopMeasure m;
        regen::MeasureTops(x.data(), int(x.size()), r.height / 2, 2, m);
        regen::DropChatter(m);
        EXPECT_NEAR(regen::NoiseOf(m), r.sd, r.sd * 0.15 + 2) << r.height << " " << r.sd;
        EXPECT_NEAR(regen::HeightOf(m), r.height + 2.5 * r.sd, 1.2 * r.sd + 2 + r.wander);
        // Half-periods of 64 frames, whatever the noise.
        EXPECT_NEAR(regen::Percentile(m.lengths, 50), 64, 1);
    }
}

TEST(Detector, NoiseOnATonesCrestIsTheNoiseNotItsCurve) {
    // FSK has no flat tops: the line through a sample's neighbours misses
    // a crest's curve by a share of the height, so only the middles of
    // half-periods of one length tell the noise. Two tones, as a modem's,
    // of half-periods 10 and 18 frames, each for 60 frames at a time.
    struct Row {
        int height;
        double sd;
    } rows[] = {{20000, 0}, {20000, 300}, {20000, 1500}, {5000, 300}};
    for (const Row& r : rows) {
        std::vector<short> x(8192);
        double phase = 0;
        for (size_t i = 0; i < x.size(); ++i) {
            phase += M_PI / ((i / 180) % 2 == 0 ? 10 : 18);
            x[i] = short(std::lround(r.height * std::sin(phase)));
        }
        AddNoise(x, r.sd, 5);
        regen::TopMeasure m;
        regen::MeasureTops(x.data(), int(x.size()), r.height / 4, 2, m);
        regen::DropChatter(m);
        EXPECT_NEAR(regen::NoiseOf(m), r.sd, r.sd * 0.25 + 0.01 * r.height)
            << r.height << " " << r.sd;
    }
}

TEST(Detector, PulsesPairUpWhereTheirCodeMakesThemEqualHalves) {
    // A tape's pulses and a tone's cycles come as two equal halves; the
    // runs of random data are as long as the next one about one time in
    // three, which --auto's choice of baseline is set against.
    std::mt19937 rng(3);
    std::vector<int> runs;
    for (int k = 0; k < 4000; ++k) {
        int bits = 1;
        while (rng() % 2 == 0)
            ++bits;
        runs.push_back(5 * bits + int(rng() % 2)); // 5 frames a bit, a frame of jitter
    }
    struct Row {
        std::vector<int> lengths;
        int least, most;
    } rows[] = {
        {{10, 10, 10, 10, 10}, 100, 100},
        {{11, 11, 22, 22, 11, 11, 27, 27}, 57, 57}, // pairs: 4 of 7 neighbours equal
        {{10, 12, 10, 12, 10}, 100, 100},           // within a fifth
        {{10, 13, 10, 13}, 0, 0},                   // beyond it
        {{2, 3, 2, 3, 2}, 100, 100},                // a frame apart: as counted in whole frames
        {{2, 4, 2, 4}, 0, 0},                       // two frames apart
        {runs, 25, 42},
        {{10}, 0, 0},
    };
    for (const Row& r : rows) {
        const int paired = regen::PairedPercent(r.lengths);
        EXPECT_GE(paired, r.least) << r.lengths.size();
        EXPECT_LE(paired, r.most) << r.lengths.size();
    }
}

TEST(Detector, BandFilterKeepsEdgesWhereTheyAreAndTakesNoiseOut) {
    // Each edge of the square lies between frames k * 40 - 1 and k * 40;
    // after the centred average it still does, to within a frame when
    // noisy, and the noise between edges falls by about the square root
    // of the window.
    struct Row {
        double sd;
        int smooth;
        int within;
    } rows[] = {{0, 1, 0}, {0, 9, 0}, {0, 19, 0}, {1500, 9, 2}, {1500, 19, 1}};
    for (const Row& r : rows) {
        std::vector<short> x = Square(4096 + 2048, 40, 8000);
        AddNoise(x, r.sd, 11);
        const int context = 1024;
        std::vector<short> y(4096);
        std::vector<int32_t> sums;
        regen::SmoothAndRemoveBaseline(x.data() + context, 4096, 2000, r.smooth, y.data(), sums);
        int edges = 0;
        for (int at : SignChanges(y, 0)) {
            const int edge = (at + context + 20) / 40 * 40 - context;
            if (r.sd == 0)
                EXPECT_EQ(at, edge) << "smooth " << r.smooth;
            else if (std::abs(at - edge) <= r.within)
                ++edges;
        }
        if (r.sd > 0) { // nearly every one of the 102 edges, and few extra sign changes
            EXPECT_GE(edges, 95) << r.smooth;
            EXPECT_LE(SignChanges(y, 0).size(), 110u) << r.smooth;
        }
    }
}

TEST(Detector, TimedEdgesKeepTheCrossingsFractionOfAFrame) {
    // A flip's first sample shares the two levels as the crossing of the
    // switch level (here mid + gap = 0 + 100) divides the frame before it:
    // a rise from -1,000 to 1,000 crosses 100 at 0.55 of the frame, so the
    // sample holds the old level (0, before the wave starts) for 0.55 and
    // 30,000 for 0.45. The second flip, down from 30,000, crosses -100 at
    // the same share when it falls from 1,000 to -1,000. Fed whole, and in
    // two calls cut just before each crossing sample, it gives the same.
    struct Row {
        short rise;
        short first;  // the first flip's sample
        short second; // the second flip's sample
    } rows[] = {{1000, 13500, 3000}, {10000, 27000, -24000}, {100, 0, 30000}};
    for (const Row& r : rows) {
        for (bool timed : {true, false}) {
            std::vector<short> x(40, -1000);
            x[10] = r.rise;
            for (int i = 11; i < 25; ++i)
                x[size_t(i)] = 1000;
            x[25] = short(-r.rise);
            regen::FollowSettings s;
            s.height = 1000;
            s.hysteresis = 100;
            s.amplitude = 30000;
            s.invert = false;
            s.timed = timed;
            for (int cut : {0, 10, 25}) {
                regen::LevelFollower follower(s);
                std::vector<short> y = x;
                follower.Process(y.data(), cut);
                follower.Process(y.data() + cut, int(y.size()) - cut);
                SCOPED_TRACE(std::to_string(r.rise) + (timed ? " timed" : " sharp") + " cut " +
                             std::to_string(cut));
                if (r.rise <= 100) { // no crossing at frame 10: the wave starts at 11
                    EXPECT_EQ(y[10], 0);
                    EXPECT_EQ(y[11], 30000);
                    continue;
                }
                EXPECT_EQ(y[9], 0);
                EXPECT_NEAR(y[10], timed ? r.first : 30000, 1);
                EXPECT_EQ(y[24], 30000);
                EXPECT_NEAR(y[25], timed ? r.second : -30000, 1);
                EXPECT_EQ(y[26], -30000);
            }
        }
    }
}

TEST(Detector, LevelsFollowADropoutAndHoldThroughAPause) {
    // Pulses of +-10,000 every 30 frames; a dropout 20 dB down for 600
    // frames; then a pause of 3,000 frames of noise that flips the switch
    // now and then; then the pulses again. Every pulse edge comes out, and
    // the levels the pause leaves are the pulses', not the noise's.
    std::vector<short> x = Square(9000, 30, 10000);
    for (int i = 2400; i < 3000; ++i)
        x[size_t(i)] = short(x[size_t(i)] / 10);
    for (int i = 4500; i < 7500; ++i)
        x[size_t(i)] = 0;
    std::vector<short> noise(3000, 0);
    AddNoise(noise, 40, 3);
    for (int i = 0; i < 3000; ++i)
        x[size_t(4500 + i)] = noise[size_t(i)];
    regen::LevelFollower follower(Following(80)); // two of the pause's standard deviations
    std::vector<short> y = x;
    // Fed in uneven pieces, as blocks of a run would feed it.
    int done = 0;
    for (int n : {1000, 1400, 333, 4667, 1600}) {
        follower.Process(y.data() + done, n);
        done += n;
        if (done == 7400) { // at the end of the pause
            EXPECT_NEAR(follower.Height(), 10000, 600);
            EXPECT_NEAR(follower.Midpoint(), 0, 300);
        }
    }
    int flips = 0;
    for (size_t i = 1; i < y.size(); ++i)
        flips += y[i] != y[i - 1];
    // 4,500 / 30 - 1 edges before the pause, and the 50 after it.
    int after = 0;
    for (size_t i = 7501; i < y.size(); ++i)
        after += y[i] != y[i - 1];
    EXPECT_GE(flips, 149 + 50);
    EXPECT_EQ(after, 49);
    for (size_t i = 1; i < 4500; ++i)
        ASSERT_EQ(y[i] != y[i - 1], i % 30 == 0) << i;
}

TEST(Detector, CarrierSquelchSilencesThePausesAndKeepsTheBursts) {
    // Noise of 300 (a gap of 80 lets it flip the switch) for 3,000 frames,
    // a burst of +-10,000 every 20 frames, the noise again, the burst
    // again; the carrier at three of the noise's deviations. The pauses
    // come out as one held level, the bursts whole from their fifth
    // half-period on.
    std::vector<short> x(12000, 0);
    AddNoise(x, 300, 9);
    for (int from : {3000, 9000})
        for (int i = from; i < from + 3000; ++i)
            x[size_t(i)] = short(((i - from) / 20) % 2 ? -10000 : 10000);
    regen::FollowSettings s = Following(80);
    s.carrier = 900;
    regen::LevelFollower follower(s);
    std::vector<short> y = x;
    follower.Process(y.data(), int(y.size()));
    const auto changes = [&y](int from, int to) {
        int n = 0;
        for (int i = from; i < to; ++i)
            n += y[size_t(i)] != y[size_t(i) - 1];
        return n;
    };
    EXPECT_EQ(changes(1, 3000), 0);
    EXPECT_EQ(changes(3000 + 4 * 20, 6000), 3000 / 20 - 4);
    EXPECT_EQ(changes(6000 + 50, 9000), 0); // eight of the noise's half-periods
    EXPECT_EQ(changes(9000 + 4 * 20, 12000), 3000 / 20 - 4);
}

TEST(Detector, LevelsFollowDropoutsOfEveryDepth) {
    // Pulses of +-10,000 with half-periods of 5 frames, as 9600 bit/s
    // leaves them at 48 kHz, drop at once or within 2 ms (100 frames) to a
    // dropout's depth, stay there for 1,500 frames and come back. Every
    // edge comes out, before, in and after the dropout: the midpoint stays
    // between the dropped pulses however one level's move leaves it. Down
    // to 20 dB the height comes down to the dropped pulses' own, so that
    // the gap shrinks with them.
    struct Case {
        double db;
        int fade;
    } cases[] = {{6, 0},  {10, 0}, {11.5, 0}, {12, 0},     {17, 0},
                 {20, 0}, {24, 0}, {30, 0},   {11.5, 100}, {20, 100}};
    constexpr int kHalf = 5, kAt = 2000, kFor = 1500, kFrames = 5000;
    for (const Case& c : cases) {
        const double low = std::pow(10.0, -c.db / 20);
        std::vector<short> x = Square(kFrames, kHalf, 10000);
        for (int i = kAt; i < kAt + kFor; ++i) {
            const double t = c.fade > 0 ? std::min(1.0, double(i - kAt) / c.fade) : 1.0;
            const double gain = 1.0 - (1.0 - low) * (0.5 - 0.5 * std::cos(M_PI * t));
            x[size_t(i)] = short(std::lround(x[size_t(i)] * gain));
        }
        regen::LevelFollower follower(Following(300));
        std::vector<short> y = x;
        follower.Process(y.data(), kAt + kFor);
        if (c.db <= 20) {
            EXPECT_NEAR(follower.Height(), 10000 * low, 1000 * low) << c.db << " dB";
            EXPECT_NEAR(follower.Midpoint(), 0, 1000 * low) << c.db << " dB";
        }
        follower.Process(y.data() + kAt + kFor, kFrames - kAt - kFor);
        int wrong = 0;
        for (int i = 1; i < kFrames; ++i)
            wrong += (y[size_t(i)] != y[size_t(i) - 1]) != (i % kHalf == 0);
        EXPECT_EQ(wrong, 0) << c.db << " dB, fade " << c.fade;
    }
}

TEST(Detector, LagIsFoundToATenthOfAFrame) {
    // A band-limited noise in the left channel, the same delayed by a
    // fraction of frames in the right (or ahead of it, or inverted).
    struct Row {
        double lag;
        int sign;
    } rows[] = {{0.0, 1}, {3.3, 1}, {-7.75, 1}, {12.5, -1}, {21.9, 1}};
    for (const Row& r : rows) {
        const int frames = 8192;
        std::mt19937 rng(5);
        std::normal_distribution<double> n(0, 1);
        std::vector<double> white(frames + 64);
        for (double& v : white)
            v = n(rng);
        // A few sines with random phases stand for a band-limited signal
        // whose value between frames is known exactly.
        std::vector<short> stereo(2 * frames);
        const double f[] = {0.013, 0.031, 0.047, 0.061, 0.083};
        for (int i = 0; i < frames; ++i) {
            double l = 0, rr = 0;
            for (int k = 0; k < 5; ++k) {
                l += std::sin(2 * M_PI * f[k] * i + white[size_t(k)]);
                rr += std::sin(2 * M_PI * f[k] * (i - r.lag) + white[size_t(k)]);
            }
            stereo[2 * size_t(i)] = short(4000 * l);
            stereo[2 * size_t(i) + 1] = short(r.sign * 4000 * rr);
        }
        int sign = 0;
        EXPECT_NEAR(regen::FindLag(stereo.data(), frames, 30, &sign), r.lag, 0.1) << r.lag;
        EXPECT_EQ(sign, r.sign);
    }
}

TEST(Detector, AlignerLinesTheChannelsUpAcrossCalls) {
    // The right channel 2.5 frames behind the left: with the left delayed
    // by as much, left minus right cancels (between frames as well, as
    // far as a straight line between them is the signal).
    const int frames = 3000;
    std::vector<short> stereo(2 * frames);
    for (int i = 0; i < frames; ++i) {
        stereo[2 * size_t(i)] = short(std::lround(2000 * std::sin(0.02 * i)));
        stereo[2 * size_t(i) + 1] = short(std::lround(2000 * std::sin(0.02 * (i - 2.5))));
    }
    regen::Aligner diff(2.5, 0.5, -1);
    std::vector<short> out(frames);
    diff.Process(stereo.data(), out.data(), 1000);
    diff.Process(stereo.data() + 2000, out.data() + 1000, 2000);
    for (int i = 10; i < frames; ++i)
        ASSERT_LE(std::abs(out[size_t(i)]), 2) << i;
    regen::Aligner mix(2.5, 0.5, 1);
    mix.Process(stereo.data(), out.data(), frames);
    EXPECT_NEAR(out[1000], 2000 * std::sin(0.02 * (1000 - 2.5)), 3);
}

TEST(Detector, TonesAreTellFromFlatTopsByTheirFill) {
    // A sinusoid's half-period averages 2/pi of its crest, a square's all
    // of it; noise moves neither figure, as it moves a peak.
    struct Row {
        bool sine;
        double sd;
        int least, most;
    } rows[] = {
        {true, 0, 62, 66}, {true, 1500, 58, 70}, {false, 0, 99, 100}, {false, 1500, 92, 108}};
    for (const Row& r : rows) {
        std::vector<short> x = Square(8192, 18, 12000);
        if (r.sine)
            for (size_t i = 0; i < x.size(); ++i)
                x[i] = short(std::lround(12000 * std::sin(M_PI * (double(i) + 0.5) / 18)));
        AddNoise(x, r.sd, 3);
        regen::TopMeasure m;
        regen::MeasureTops(x.data(), int(x.size()), 3000, 1, m);
        const int fill = regen::FillOf(m);
        EXPECT_GE(fill, r.least) << r.sine << " " << r.sd;
        EXPECT_LE(fill, r.most) << r.sine << " " << r.sd;
        EXPECT_EQ(fill < regen::kToneFill, r.sine) << r.sd;
    }
}

TEST(Detector, ToneBandLiesAnOctaveBeyondTheTones) {
    struct Row {
        int shortest, longest;
        uint32_t rate;
        int fewest;
        int low, high;
    } rows[] = {
        {10, 18, 44100, 3, 613, 4410}, // Bell 202's 2,200 and 1,200 Hz
        {5, 9, 22050, 3, 613, 4410},   // the same at half the rate
        {3, 5, 11025, 3, 551, 0},      // the highest tone too short to measure
        {4, 5, 8000, 3, 400, 2000},    // just long enough
        {2, 4, 8000, 1, 500, 0},       // an upper edge past 0.45 of the rate
        {0, 18, 44100, 3, 0, 0},       // nothing measured
    };
    for (const Row& r : rows) {
        const regen::ToneBand band = regen::BandFor(r.shortest, r.longest, r.rate, r.fewest);
        EXPECT_EQ(band.low, r.low) << r.shortest << " " << r.rate;
        EXPECT_EQ(band.high, r.high) << r.shortest << " " << r.rate;
    }
}

// Two tones of `high` and `low` Hz at 44,100 Hz, 600 frames each in turn,
// phase kept across the changes, as a modem sends them; `phases` gets
// the phase at each frame.
std::vector<short> Fsk(int frames, double high, double low, int height,
                       std::vector<double>* phases) {
    std::vector<short> x(static_cast<size_t>(frames));
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        phase += 2 * M_PI * ((i / 600) % 2 == 0 ? high : low) / 44100;
        x[size_t(i)] = short(std::lround(height * std::sin(phase)));
        if (phases)
            phases->push_back(phase);
    }
    return x;
}

TEST(Detector, TonesPassTheirBandAndLeaveTheNoiseBesideIt) {
    // Bell 202's tones under hum, pink-like rumble and hiss: behind the
    // band-pass the sign changes come back one per half cycle of the
    // clean tones, each within a frame of the clean one's (after the
    // filter's own delay), where the raw signal's are lost in the noise.
    struct Row {
        double hum, rumble, hiss; // amplitudes: 50 Hz, 150 Hz, white noise's deviation
        size_t extra;             // sign changes beyond the clean ones at most
    } rows[] = {
        {0, 0, 0, 0}, {12000, 0, 0, 0}, {0, 9000, 0, 0}, {0, 0, 1200, 6}, {8000, 6000, 1000, 6}};
    const int frames = 12000, from = 2000;
    for (const Row& r : rows) {
        std::vector<double> phases;
        std::vector<short> clean = Fsk(frames, 2200, 1200, 8000, &phases);
        std::vector<short> x = clean;
        for (int i = 0; i < frames; ++i)
            x[size_t(i)] =
                short(std::lround(x[size_t(i)] + r.hum * std::sin(2 * M_PI * 50 * i / 44100) +
                                  r.rumble * std::sin(2 * M_PI * 150 * i / 44100 + 1)));
        AddNoise(x, r.hiss, 9);
        regen::Tones tones(613, 4410, 44100);
        std::vector<short> y(x.size());
        // In two runs cut anywhere: the state carries over.
        const int cut = 4321;
        tones.Flow(x.data(), cut, y.data());
        tones.Flow(x.data() + cut, frames - cut, y.data() + cut);
        regen::Tones reference(613, 4410, 44100);
        std::vector<short> z(clean.size());
        reference.Flow(clean.data(), frames, z.data());
        const std::vector<int> want = SignChanges(z, from), got = SignChanges(y, from);
        ASSERT_GE(got.size(), want.size()) << r.hum << " " << r.rumble << " " << r.hiss;
        EXPECT_LE(got.size(), want.size() + r.extra) << r.hum << " " << r.rumble << " " << r.hiss;
        size_t near = 0;
        for (int at : want)
            for (int g : got)
                near += std::abs(g - at) <= 1;
        EXPECT_GE(near, want.size() * 97 / 100) << r.hum << " " << r.rumble << " " << r.hiss;
        if (r.hiss == 0 && r.hum == 0 && r.rumble == 0) {
            // Both tones within 1.5 dB of their height, the clean ones' crossings
            // half a cycle apart.
            int top = 0, bottom = 0;
            for (int i = from; i < frames; ++i) {
                if ((i / 600) % 2 == 0)
                    top = std::max(top, int(z[size_t(i)]));
                else
                    bottom = std::max(bottom, int(z[size_t(i)]));
            }
            EXPECT_GT(top, 8000 * 0.84);
            EXPECT_GT(bottom, 8000 * 0.84);
            EXPECT_LT(top, 8000 * 1.19);
            EXPECT_LT(bottom, 8000 * 1.19);
        }
    }
}

TEST(Detector, TonesFilterStartsFromItsFirstSampleHeld) {
    // A DC offset at the start rings nothing: the high-pass begins settled.
    std::vector<short> x(2000, 12000);
    regen::Tones tones(613, 4410, 44100);
    std::vector<short> y(x.size());
    tones.Flow(x.data(), int(x.size()), y.data());
    for (short v : y)
        ASSERT_LE(std::abs(int(v)), 1);
}

} // namespace
