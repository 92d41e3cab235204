// The resampler against sines whose every value at the new rate is known,
// at rates up and down, fed in one call or in runs of any length.
#include "Resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

TEST(Resample, SinesKeepTheirShapeAndTimeAtEveryRatio) {
    // Past 2^16 frames, so that the history is trimmed on the way. The
    // right channel is the left's negative, at a third of its height.
    constexpr int kFrames = 70001;
    const struct {
        int from, to;
        double hz;
        int within; // of 10,000, away from the ends: the nearest phase's error
        // A tone past the new rate's Nyquist frequency is taken out: nothing
        // of it folds back.
    } cases[] = {{11025, 44100, 2200, 3}, {8000, 44101, 1200, 25}, {22050, 44100, 4800, 3},
                 {48000, 44100, 1000, 6}, {44100, 8000, 1000, 5},  {44100, 8000, 6000, 30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
        const auto sine = [&](double frame, double height) {
            return height * std::sin(2 * M_PI * c.hz * frame / c.from);
        };
        std::vector<short> in;
        for (int i = 0; i < kFrames; ++i)
            for (double height : {10000, -3333})
                in.push_back(short(std::lrint(sine(i, height))));
        std::vector<short> whole, runs;
        regen::Resampler once(c.from, c.to, 2), cut(c.from, c.to, 2);
        once.Flow(in.data(), kFrames, whole);
        once.Drain(whole);
        for (int at = 0, n = 1; at < kFrames; at += n, n = n * 7 % 9973 + 1)
            cut.Flow(&in[2 * size_t(at)], std::min(n, kFrames - at), runs);
        cut.Drain(runs);
        EXPECT_EQ(whole, runs);
        const uint64_t frames = regen::ResampledFrames(kFrames, c.from, c.to);
        EXPECT_EQ(frames, uint64_t(std::ceil(double(kFrames) * c.to / c.from)));
        ASSERT_EQ(whole.size(), 2 * frames);
        const double kept = 2 * c.hz < c.to ? 1 : 0;
        int worst = 0;
        for (uint64_t k = 100; k + 100 < frames; ++k) {
            const double at = double(k) * c.from / c.to;
            worst =
                std::max({worst, std::abs(whole[2 * k] - int(std::lrint(sine(at, kept * 10000)))),
                          std::abs(whole[2 * k + 1] - int(std::lrint(sine(at, kept * -3333))))});
        }
        EXPECT_LE(worst, c.within);
    }
}
