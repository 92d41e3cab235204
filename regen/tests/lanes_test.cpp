// The loops that run eight samples at a time in vector lanes (Lanes.h,
// Runs.h) against the same rules one sample at a time, on runs that end in
// every lane, at the ends of what they are given and at the thresholds
// beyond the 16-bit range.
#include "Band.h"
#include "Runs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// The run as the follower's rule states it, one sample at a time.
int RunOneByOne(bool high, short* y, int from, int frames, int least, short level, short& extreme,
                short& last) {
    int i = from;
    for (; i < frames && (high ? y[i] >= least : y[i] < least); ++i) {
        const short v = y[i];
        extreme = i == from ? v : high ? std::max(extreme, v) : std::min(extreme, v);
        last = v;
        y[i] = level;
    }
    return i;
}

struct Signal {
    const char* name;
    short low, high; // uniform samples from low to high
};

// Samples around the thresholds below, so that runs end anywhere; and the
// extremes of the 16-bit range.
const Signal kSignals[] = {
    {"around zero", -3, 3},
    {"full range", -32768, 32767},
    {"top only", 32766, 32767},
    {"bottom only", -32768, -32767},
};

const int kLeast[] = {-40000, -32769, -32768, -32767, -2, 0, 1, 3, 32766, 32767, 32768, 40000};

TEST(Lanes, FollowRunEqualsOneSampleAtATime) {
    std::mt19937 random(25);
    for (const Signal& signal : kSignals) {
        std::uniform_int_distribution<int> sample(signal.low, signal.high);
        for (const int least : kLeast) {
            for (const bool high : {true, false}) {
                for (int frames = 1; frames <= 40; ++frames) {
                    for (int from = 0; from < frames && from < 9; ++from) {
                        SCOPED_TRACE(std::string(signal.name) + ", least " + std::to_string(least) +
                                     (high ? ", high" : ", low") + ", frames " +
                                     std::to_string(frames) + " from " + std::to_string(from));
                        std::vector<short> y(size_t(frames), 0);
                        for (short& v : y)
                            v = short(sample(random));
                        std::vector<short> expected = y;
                        short wantExtreme = 111, wantLast = 222, gotExtreme = 111, gotLast = 222;
                        const int want = RunOneByOne(high, expected.data(), from, frames, least, -7,
                                                     wantExtreme, wantLast);
                        const int got = high
                                            ? regen::FollowRun<true>(y.data(), from, frames, least,
                                                                     -7, gotExtreme, gotLast)
                                            : regen::FollowRun<false>(y.data(), from, frames, least,
                                                                      -7, gotExtreme, gotLast);
                        ASSERT_EQ(got, want);
                        ASSERT_EQ(y, expected);
                        ASSERT_EQ(gotExtreme, wantExtreme);
                        ASSERT_EQ(gotLast, wantLast);
                    }
                }
            }
        }
    }
}

// A run that goes on to the end of a long buffer, through many lanes.
TEST(Lanes, FollowRunThroughALongRunKeepsItsPeak) {
    std::vector<short> y(1003, 100);
    y[517] = 32767;
    y[2] = -5;
    short extreme = 0, last = 0;
    EXPECT_EQ(regen::FollowRun<true>(y.data(), 3, 1003, -4, 9, extreme, last), 1003);
    EXPECT_EQ(extreme, 32767);
    EXPECT_EQ(last, 100);
    EXPECT_EQ(y[2], -5);
    EXPECT_EQ(y[3], 9);
    EXPECT_EQ(y[1002], 9);
}

TEST(Lanes, PrefixSumsEqualOneSampleAtATime) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (const int fill : {0, -32768, 32767, 1}) { // 0: random samples
        for (const int count : {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 33, 64, 10671, 20000}) {
            SCOPED_TRACE("fill " + std::to_string(fill) + ", count " + std::to_string(count));
            std::vector<short> x(size_t(count), 0);
            for (short& v : x)
                v = short(fill != 0 ? fill : sample(random));
            std::vector<int32_t> want(size_t(count) + 1), got(size_t(count) + 1, -1);
            for (int i = 0; i < count; ++i)
                want[size_t(i) + 1] = want[size_t(i)] + x[size_t(i)];
            regen::PrefixSums(x.data(), count, got.data());
            ASSERT_EQ(got, want);
        }
    }
}

// Values at the truncation's and the range's edges, in every lane and in
// the tail that follows the last eight.
TEST(Lanes, ToShortsHoldsWithinSixteenBitsAsTheIntegerClampDoes) {
    const float edges[] = {0.0f,      -0.0f,     0.99f,     -0.99f,    1.0f,      -1.0f,
                           32766.9f,  32767.0f,  32767.5f,  32768.0f,  32768.9f,  65537.0f,
                           -32767.9f, -32768.0f, -32768.5f, -32769.0f, -65537.0f, 12345.6f};
    constexpr int kEdges = int(sizeof edges / sizeof edges[0]);
    for (int count = 0; count <= 2 * kEdges; ++count) {
        for (int shift = 0; shift < kEdges; ++shift) {
            SCOPED_TRACE("count " + std::to_string(count) + ", shift " + std::to_string(shift));
            std::vector<float> v(size_t(count), 0.0f);
            for (int i = 0; i < count; ++i)
                v[size_t(i)] = edges[(i + shift) % kEdges];
            std::vector<short> want(size_t(count), 0), got(size_t(count), 7);
            for (int i = 0; i < count; ++i)
                want[size_t(i)] = short(std::min(32767, std::max(-32768, int(v[size_t(i)]))));
            regen::lanes::ToShorts(v.data(), count, got.data());
            ASSERT_EQ(got, want);
        }
    }
}

// The band-pass's rounding: to the nearest, ties to even, held within 16
// bits, at the ties and the range's edges, in every lane and in the tail.
TEST(Lanes, RoundToShortsRoundsTiesToEvenAndHoldsTheRange) {
    const double edges[] = {0.0,     -0.0,     0.5,      -0.5,     1.5,     -1.5,    2.5,
                            -2.5,    0.49999,  -0.50001, 32766.5,  32767.4, 32767.5, 32768.0,
                            32769.7, -32767.5, -32768.5, -32769.0, 1e6,     -1e6,    12345.6};
    constexpr int kEdges = int(sizeof edges / sizeof edges[0]);
    for (int count = 0; count <= 2 * kEdges; ++count) {
        for (int shift = 0; shift < kEdges; ++shift) {
            SCOPED_TRACE("count " + std::to_string(count) + ", shift " + std::to_string(shift));
            std::vector<double> v(static_cast<size_t>(count));
            const size_t n = static_cast<size_t>(count);
            std::vector<short> want(n), got(n, 7), one(n);
            for (int i = 0; i < count; ++i) {
                v[size_t(i)] = edges[(i + shift) % kEdges];
                want[size_t(i)] =
                    short(std::nearbyint(std::min(32767.0, std::max(-32768.0, v[size_t(i)]))));
                one[size_t(i)] = regen::lanes::RoundToShort(v[size_t(i)]);
            }
            regen::lanes::RoundToShorts(v.data(), count, got.data());
            ASSERT_EQ(got, want);
            ASSERT_EQ(one, want);
        }
    }
}

} // namespace
