// The stages carry their state across the cuts between blocks: whatever the
// runs they are fed in, they give what one run over the whole signal gives,
// on the chain's thread or on one of their own.
#include "Band.h"
#include "Baseline.h"
#include "InThread.h"
#include "Stage.h"
#include "Switch.h"
#include "Take.h"
#include "Tones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<short> Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<short> x(n);
    for (short& s : x)
        s = short(d(rng));
    return x;
}

// Runs of random lengths from 1 to `longest` that add up to `n`.
std::vector<int> Cuts(size_t n, int longest, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(1, longest);
    std::vector<int> cuts;
    for (size_t done = 0; done < n;) {
        const int c = int(std::min<size_t>(size_t(d(rng)), n - done));
        cuts.push_back(c);
        done += size_t(c);
    }
    return cuts;
}

std::vector<short> FlowInRuns(regen::Chain& chain, const std::vector<short>& x,
                              const std::vector<int>& cuts) {
    std::vector<short> y, out(size_t(chain.MaxOutput(*std::max_element(cuts.begin(), cuts.end()))));
    size_t at = 0;
    for (int c : cuts) {
        const int n = chain.Flow(x.data() + at, c, out.data());
        y.insert(y.end(), out.begin(), out.begin() + n);
        at += size_t(c);
    }
    const int n = chain.Drain(out.data());
    y.insert(y.end(), out.begin(), out.begin() + n);
    return y;
}

} // namespace

TEST(Stages, BaselineInAnyRunsEqualsOneRunWithTheEndsHeld) {
    const struct {
        int window;
        size_t frames;
        int longest; // run
    } cases[] = {
        {3, 50, 1},           {16, 300, 7},        {17, 300, 40}, {1024, 25000, 10240},
        {8192, 30000, 10240}, {8192, 5000, 10240}, // shorter than the window: every output is from
                                                   // held ends
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        const std::vector<short> x = Noise(c.frames, unsigned(c.window));
        // The reference: one call over the signal with its first sample held
        // before it and its last held after it.
        const int before = c.window / 2, after = c.window - before;
        std::vector<short> padded(size_t(before), x.front());
        padded.insert(padded.end(), x.begin(), x.end());
        padded.insert(padded.end(), size_t(after), x.back());
        std::vector<short> want(c.frames);
        regen::RemoveBaseline(padded.data() + before, int(c.frames), c.window, want.data());

        regen::Chain chain;
        chain.Add(std::make_unique<regen::Band>(c.window, 1, false));
        EXPECT_EQ(FlowInRuns(chain, x, Cuts(c.frames, c.longest, 1)), want);
    }
}

TEST(Stages, SwitchCountsEachOutputBlockWhereverTheRunsAreCut) {
    // Two and a half blocks of loud noise, fed in odd runs, then cut back to
    // two blocks and a few samples by Take: the level and one record per
    // block begun are those of whole-block calls.
    const size_t frames = 2 * regen::kBlockFrames + 5000, kept = 2 * regen::kBlockFrames + 3;
    const std::vector<short> x = Noise(frames, 9);
    std::vector<short> want(x.begin(), x.begin() + long(kept));
    std::vector<regen::Crossings> wantCounts;
    short level = 0;
    for (size_t at = 0; at < kept; at += regen::kBlockFrames) {
        regen::Crossings count;
        const int n = int(std::min<size_t>(regen::kBlockFrames, kept - at));
        level = regen::Regenerate(want.data() + at, n, level, regen::Settings{}, &count);
        wantCounts.push_back(count);
    }

    std::vector<regen::Crossings> counts;
    regen::Chain chain;
    chain.Add(std::make_unique<regen::Take>(kept));
    auto decide = std::make_unique<regen::Switch>(regen::Settings{}, &counts);
    const regen::Switch& state = *decide;
    chain.Add(std::move(decide));
    EXPECT_EQ(FlowInRuns(chain, x, Cuts(frames, 3000, 2)), want);
    EXPECT_EQ(state.Level(), level);
    ASSERT_EQ(counts.size(), wantCounts.size());
    for (size_t b = 0; b < counts.size(); ++b) {
        EXPECT_EQ(counts[b].above, wantCounts[b].above) << b;
        EXPECT_EQ(counts[b].below, wantCounts[b].below) << b;
    }
}

TEST(Stages, TonesInLanesGiveWhatOneFilterGives) {
    // Two tones in noise, several groups long, fed in runs shorter and
    // longer than a group: the lanes give the samples of one filter run
    // over the whole signal but for a rare tie that the last bits of a
    // double decide, and never by more than 1. Edges left out, a rate
    // whose edges sit close together and a memory too long for the
    // segments (which runs as one lane) alike.
    const struct {
        int low, high;
        uint32_t rate;
        int longest; // run
    } cases[] = {
        {613, 4410, 44100, 10240}, {613, 4410, 44100, 300000}, {216, 882, 44100, 7000},
        {0, 4410, 44100, 10240},   {613, 0, 44100, 10240},     {0, 0, 44100, 10240},
        {700, 2900, 8000, 10240},  {3, 4410, 44100, 10240},
    };
    const size_t frames = 1000003;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.low) + "-" + std::to_string(c.high) + " Hz at " +
                     std::to_string(c.rate) + ", runs up to " + std::to_string(c.longest));
        std::vector<short> x = Noise(frames, unsigned(c.low + c.high));
        for (size_t i = 0; i < frames; ++i) {
            const double f = (i / 37) % 2 ? 1200.0 : 2200.0;
            x[i] = short(x[i] / 8 + 20000 * std::sin(2 * M_PI * f * double(i) / c.rate));
        }
        std::vector<short> want(frames);
        regen::Tones(c.low, c.high, c.rate).Flow(x.data(), int(frames), want.data());
        regen::Chain chain;
        chain.Add(std::make_unique<regen::TonesInLanes>(c.low, c.high, c.rate));
        const std::vector<short> got = FlowInRuns(chain, x, Cuts(frames, c.longest, 5));
        ASSERT_EQ(got.size(), want.size());
        size_t ties = 0;
        for (size_t i = 0; i < frames; ++i) {
            ASSERT_LE(std::abs(got[i] - want[i]), 1) << i;
            ties += got[i] != want[i];
        }
        EXPECT_LE(ties, frames / 100000);
    }
}

TEST(Stages, ChainDrainsEveryStageItHolds) {
    // The band-pass in lanes holds up to a group, the band filter after it
    // its look-ahead: both drain at the end, into one buffer that
    // MaxOutput sizes, and nothing is lost or made up.
    const size_t frames = 3 * regen::kBlockFrames + 17;
    const std::vector<short> x = Noise(frames, 4);
    regen::Chain chain;
    chain.Add(std::make_unique<regen::TonesInLanes>(613, 4410, 44100));
    chain.Add(std::make_unique<regen::Band>(64, 1, false));
    EXPECT_EQ(FlowInRuns(chain, x, Cuts(frames, regen::kBlockFrames, 3)).size(), frames);
}

TEST(Stages, InThreadGivesWhatTheStageInsideGives) {
    // A stage on a thread of its own, fed in runs shorter and longer than
    // its batch (and a batch longer than the signal), gives what the stage
    // alone gives fed in one run: the same samples, none lost at the end,
    // the drain within what MaxDrain promised. The band-pass in lanes holds
    // back a group of its own, the band filter looks ahead.
    const struct {
        const char* name;
        int batch, longest; // run
        bool lanes;
        size_t frames;
    } cases[] = {
        {"lanes, batch of 8 blocks, runs of a block", 8 * regen::kBlockFrames, regen::kBlockFrames,
         true, 700001},
        {"lanes, runs longer than the batch", 10000, 300000, true, 700001},
        {"lanes, a batch longer than the signal", 2000000, regen::kBlockFrames, true, 700001},
        {"band, batch of 1", 1, 50, false, 5003},
        {"band, odd batch and runs", 4093, 7001, false, 300007},
    };
    const auto make = [](bool lanes) -> std::unique_ptr<regen::Stage> {
        if (lanes)
            return std::make_unique<regen::TonesInLanes>(613, 4410, 44100);
        return std::make_unique<regen::Band>(64, 5, true);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t frames = c.frames;
        const std::vector<short> x = Noise(frames, 9);
        regen::Chain alone;
        alone.Add(make(c.lanes));
        const std::vector<short> want = FlowInRuns(alone, x, {int(frames)});
        auto inThread = std::make_unique<regen::InThread>(make(c.lanes), c.batch);
        regen::InThread& stage = *inThread;
        regen::Chain chain;
        chain.Add(std::move(inThread));
        const std::vector<int> cuts = Cuts(frames, c.longest, 3);
        std::vector<short> got, out(size_t(chain.MaxOutput(c.longest)));
        size_t at = 0;
        for (int n : cuts) {
            const int given = chain.Flow(x.data() + at, n, out.data());
            ASSERT_LE(given, n);
            got.insert(got.end(), out.begin(), out.begin() + given);
            at += size_t(n);
        }
        const int drained = chain.Drain(out.data());
        EXPECT_LE(drained, stage.MaxDrain());
        got.insert(got.end(), out.begin(), out.begin() + drained);
        EXPECT_EQ(got, want);
    }
}
