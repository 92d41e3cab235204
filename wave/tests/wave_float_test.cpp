// Float loaders of CWave: mixing by mode, scaling, layouts, the zero fill at
// the end of the file and the position they share with the integer loaders.
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

float Scaled(int v) {
    return float(v / 32768.0);
}

constexpr float kJunk = 7.25f; // never a value the loaders produce

// Mono output from two-channel frames, one row per flag word.
TEST(WaveFloat, MixesTheFirstTwoChannelsByMode) {
    struct Case {
        int left, right, flags;
        float want;
    };
    const Case cases[] = {
        {16384, -16384, 0 << 8, 0.0f},
        {16384, -16384, 1 << 8, 0.5f},
        {16384, -16384, 2 << 8, -0.5f},
        {16384, -16384, 3 << 8, 0.5f},
        {16384, -16384, 16 << 8, 0.5f},
        {16384, -16384, 4 << 8, 0.0f}, // unknown modes average
        {16384, -16384, 17 << 8, 0.0f},
        {16384, -16384, -256, 0.0f}, // mode -1 by the arithmetic shift
        {16384, -16384, -127 * 256, 0.0f},
        {16384, -16384, 257 << 8, 0.0f},
        {16384, -16384, (1 << 8) | 0xFE, 0.5f}, // bits 1 to 7 are ignored
        {-3, 0, 0, Scaled(-1)},                 // truncated toward zero, not floored
        {3, 0, 0, Scaled(1)},
        {0, 3, 3 << 8, Scaled(-1)},
        {-3, 0, 16 << 8, Scaled(-1)},
        {-32768, -32768, 0, -1.0f},
        {32767, 32767, 0, 0.999969482421875f},
        {32767, -32768, 3 << 8, 0.999969482421875f}, // the difference overflows 16 bits
        {-32768, 32767, 16 << 8, Scaled(-32767)},
        {-32768, 32767, 2 << 8, 0.999969482421875f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("L=" + std::to_string(c.left) + " R=" + std::to_string(c.right) +
                     " flags=" + std::to_string(c.flags));
        TempDir dir;
        const std::string file = dir.Write("in.wav", Wav16({c.left, c.right}, 2));
        CWave w;
        ASSERT_EQ(w.OpenWave(file.c_str()), 1);
        float out[2] = {kJunk, kJunk}; // mono output fills one element per frame
        w.LoadWaveFloat(out, 1, c.flags, 0);
        EXPECT_EQ(out[0], c.want);
        EXPECT_EQ(out[1], kJunk);
    }
}

// Two-channel output: a two-channel file stores its channels as they are
// (whatever the mode); any other count puts the mixed value in both.
TEST(WaveFloat, StereoOutputInBothLayouts) {
    struct Case {
        const char* name;
        unsigned channels;
        std::vector<int> samples;
        int flags; // -1: LoadWaveFloatStereo
        bool interleaved;
        std::vector<float> want;
    };
    const float a = Scaled(1000), b = Scaled(-2000), c = Scaled(3000), d = Scaled(-4000);
    const float e = Scaled(-32768), f = Scaled(32767);
    const Case cases[] = {
        {"stereo file, interleaved",
         2,
         {1000, -2000, 3000, -4000, -32768, 32767},
         -1,
         true,
         {a, b, c, d, e, f}},
        {"stereo file, planar",
         2,
         {1000, -2000, 3000, -4000, -32768, 32767},
         -1,
         false,
         {a, c, e, b, d, f}},
        {"stereo file, mode 2 ignored",
         2,
         {1000, -2000, 3000, -4000},
         (2 << 8) | 1,
         true,
         {a, b, c, d}},
        {"mono file, 257, interleaved", 1, {1000, -2000, 32767}, 257, true, {a, a, b, b, f, f}},
        {"mono file, 257, planar", 1, {1000, -2000, 32767}, 257, false, {a, b, f, a, b, f}},
        {"mono file, stereo loader, interleaved", 1, {1000, -32768}, -1, true, {a, a, e, e}},
        {"mono file, stereo loader, planar", 1, {1000, -32768}, -1, false, {a, e, a, e}},
        {"mono file, mode 3", 1, {1000, -2000}, (3 << 8) | 1, true, {0, 0, 0, 0}},
        {"three channels, mode 0, planar",
         3,
         {1000, -3000, 30000, 5001, 0, -32768},
         1,
         false,
         {Scaled(-1000), Scaled(2500), Scaled(-1000), Scaled(2500)}},
        {"three channels, mode 2, interleaved",
         3,
         {1000, -3000, 30000, 5001, 0, -32768},
         (2 << 8) | 1,
         true,
         {Scaled(-3000), Scaled(-3000), 0, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const std::string file = dir.Write("in.wav", Wav16(k.samples, uint16_t(k.channels)));
        CWave w;
        const int frames = int(k.want.size() / 2);
        ASSERT_EQ(w.OpenWave(file.c_str()), frames);
        std::vector<float> out(k.want.size(), kJunk);
        if (k.flags < 0)
            w.LoadWaveFloatStereo(out.data(), frames, k.interleaved);
        else
            w.LoadWaveFloat(out.data(), frames, k.flags, k.interleaved);
        EXPECT_EQ(out, k.want);
    }
}

// Mono output from files that are not two-channel: R equals L on a
// one-channel file, only the first two of three channels mix, and a file
// without channels gives silence.
TEST(WaveFloat, MonoOutputFromOtherChannelCounts) {
    struct Case {
        unsigned channels;
        std::vector<int> samples;
        int mode;
        std::vector<float> want;
    };
    const std::vector<int> mono = {-32768, 32767, -5};
    const std::vector<int> three = {100, -51, 30000, -7, 9, 32767};
    const std::vector<float> monoL = {-1.0f, 0.999969482421875f, Scaled(-5)};
    const Case cases[] = {
        {1, mono, 0, monoL},
        {1, mono, 1, monoL},
        {1, mono, 2, monoL},
        {1, mono, 3, {0, 0, 0}},
        {1, mono, 16, {0, 0, 0}},
        {3, three, 0, {Scaled(24), Scaled(1)}},
        {3, three, 1, {Scaled(100), Scaled(-7)}},
        {3, three, 2, {Scaled(-51), Scaled(9)}},
        {3, three, 3, {Scaled(75), Scaled(-8)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("channels=" + std::to_string(c.channels) + " mode=" + std::to_string(c.mode));
        TempDir dir;
        const std::string file = dir.Write("in.wav", Wav16(c.samples, uint16_t(c.channels)));
        CWave w;
        const int frames = int(c.want.size());
        ASSERT_EQ(w.OpenWave(file.c_str()), frames);
        std::vector<float> out(c.want.size(), kJunk);
        w.LoadWaveFloat(out.data(), frames, c.mode << 8, 0);
        EXPECT_EQ(out, c.want);
    }

    // No channels: nothing to read, every frame is silent, in either output.
    TempDir dir;
    const std::string file = dir.Write("in.wav", Wav16({1000, 2000}, 0));
    CWave w;
    ASSERT_EQ(w.OpenWave(file.c_str()), 0);
    std::vector<float> out(5, kJunk);
    w.LoadWaveFloat(out.data(), 3, 1 << 8, 0);
    w.LoadWaveFloatStereo(out.data() + 3, 1, 1);
    EXPECT_EQ(out, std::vector<float>(5, 0.0f));
}

// The file ends inside the request: the frames read keep their values and
// every later element of the layout is 0.0, including a frame cut in half.
TEST(WaveFloat, ZeroFillsFromTheFrameWhereTheFileEnds) {
    struct Case {
        const char* name;
        int flags; // -1: LoadWaveFloatStereo
        bool interleaved;
        std::vector<float> want;
    };
    const float a = Scaled(1000), b = Scaled(-2000), c = Scaled(3000), d = Scaled(-4000);
    const Case cases[] = {
        {"stereo, interleaved", -1, true, {a, b, c, d, 0, 0, 0, 0, 0, 0}},
        {"stereo, planar", -1, false, {a, c, 0, 0, 0, b, d, 0, 0, 0}},
        {"mono, mode 1", 1 << 8, false, {a, c, 0, 0, 0}},
        {"mono, mode 0", 0, false, {Scaled(-500), Scaled(-500), 0, 0, 0}},
    };
    // Two whole frames, then a left sample without its right.
    const Bytes wav = Wav16({1000, -2000, 3000, -4000, 12345}, 2);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const std::string file = dir.Write("in.wav", wav);
        CWave w;
        ASSERT_EQ(w.OpenWave(file.c_str()), 2);
        std::vector<float> out(k.want.size(), kJunk);
        if (k.flags < 0)
            w.LoadWaveFloatStereo(out.data(), 5, k.interleaved);
        else
            w.LoadWaveFloat(out.data(), 5, k.flags, k.interleaved);
        EXPECT_EQ(out, k.want);

        // Nothing is left: a further load is all silence.
        std::vector<float> more(4, kJunk);
        w.LoadWaveFloatStereo(more.data(), 2, 1);
        EXPECT_EQ(more, std::vector<float>(4, 0.0f));
    }
}

// The loaders read on past the data chunk to the end of the file.
TEST(WaveFloat, StopsAtTheEndOfTheDataChunk) {
    // "LIST" would read as 0x494C, 0x5453.
    const Bytes wav = WavDeclaring(1, 16, 2, Cat({Samples16({-16384}), Text("LIST")}));
    TempDir dir;
    const std::string file = dir.Write("in.wav", wav);
    CWave w;
    ASSERT_EQ(w.OpenWave(file.c_str()), 1);
    std::vector<float> out(4, kJunk);
    w.LoadWaveFloat(out.data(), 4, 0, 0);
    EXPECT_EQ(out, (std::vector<float>{-0.5f, 0.0f, 0.0f, 0.0f}));
}

// Samples of 8 bits are unsigned bytes, widened as (byte - 128) x 256.
// OpenWave refuses such a file but leaves the stream attached just after the
// format chunk, so the loaders read on from there.
TEST(WaveFloat, DecodesEightBitSamples) {
    TempDir dir;
    const std::string file = dir.Write("in.wav", WavDeclaring(2, 8, 5, Bytes{0, 255, 128, 127, 1}));
    CWave w;
    ASSERT_EQ(w.OpenWave(file.c_str()), -1);
    std::vector<float> header(8, kJunk);
    w.LoadWaveFloat(header.data(), 4, 1 << 8, 0); // the data chunk's 8-byte header
    std::vector<float> out(6, kJunk);
    w.LoadWaveFloatStereo(out.data(), 3, 1);
    EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.9921875f, 0.0f, Scaled(-256), 0, 0}));
}

// The float and integer loaders share one position: each call moves both the
// stream and the running page position by the frames it asks for. A page
// forward and back returns the stream to the running position, so after
// every call the next frame read must be the one that follows.
TEST(WaveFloat, SharesThePositionWithTheIntegerLoaders) {
    enum Loader { kFloat, kFloatStereo, kShort, kShortStereo };
    struct Step {
        Loader loader;
        int frames;
        int flags; // flag word for kFloat, stereo flag for kShort
        bool interleaved;
    };
    const Step steps[] = {
        {kFloat, 3, 1 << 8, false},  {kShort, 2, 0, false},      {kFloatStereo, 4, 0, true},
        {kShortStereo, 1, 0, false}, {kFloat, 0, 257, true},     {kFloat, 5, 257, false},
        {kShort, 2, 1, true},        {kFloat, 2, 2 << 8, false}, {kFloatStereo, 3, 0, false},
    };
    const int kFrames = 40;
    const auto left = [](int k) { return 100 + 7 * k; };
    const auto right = [](int k) { return -3000 - 11 * k; };
    std::vector<int> samples;
    for (int k = 0; k < kFrames; ++k) {
        samples.push_back(left(k));
        samples.push_back(right(k));
    }
    TempDir dir;
    const std::string file = dir.Write("in.wav", Wav16(samples, 2));
    CWave w;
    ASSERT_EQ(w.OpenWave(file.c_str()), kFrames);

    int at = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("step at frame " + std::to_string(at));
        const int n = s.frames;
        std::vector<int> gotL, gotR; // scaled back to sample values
        if (s.loader == kFloat || s.loader == kFloatStereo) {
            const bool stereo = s.loader == kFloatStereo || (s.flags & 1);
            std::vector<float> out(size_t(2 * n), kJunk);
            if (s.loader == kFloatStereo)
                w.LoadWaveFloatStereo(out.data(), n, s.interleaved);
            else
                w.LoadWaveFloat(out.data(), n, s.flags, s.interleaved);
            for (int i = 0; i < n; ++i) {
                if (!stereo) {
                    gotL.push_back(int(out[size_t(i)] * 32768.0f));
                } else {
                    gotL.push_back(int(out[size_t(s.interleaved ? 2 * i : i)] * 32768.0f));
                    gotR.push_back(int(out[size_t(s.interleaved ? 2 * i + 1 : n + i)] * 32768.0f));
                }
            }
        } else {
            const bool stereo = s.loader == kShortStereo || s.flags;
            std::vector<short> out(size_t(2 * n), short(-1));
            if (s.loader == kShortStereo)
                w.LoadWaveShortStereo(out.data(), n, s.interleaved);
            else
                w.LoadWaveShort(out.data(), n, s.flags, s.interleaved);
            for (int i = 0; i < n; ++i) {
                if (!stereo) {
                    gotL.push_back(out[size_t(i)]);
                } else {
                    gotL.push_back(out[size_t(s.interleaved ? 2 * i : i)]);
                    gotR.push_back(out[size_t(s.interleaved ? 2 * i + 1 : n + i)]);
                }
            }
        }
        std::vector<int> wantL, wantR;
        for (int k = at; k < at + n; ++k) {
            if (!gotR.empty()) {
                wantL.push_back(left(k));
                wantR.push_back(right(k));
            } else if (s.loader == kShort) {
                wantL.push_back((left(k) + right(k)) / 2);
            } else {
                wantL.push_back((s.flags >> 8) == 2 ? right(k) : left(k));
            }
        }
        EXPECT_EQ(gotL, wantL);
        EXPECT_EQ(gotR, wantR);
        at += n;
        w.SetNextPage();
        w.SetPrevPage();
    }

    // Past the end: the float loader delivers what is left, then silence.
    const int rest = kFrames - at;
    std::vector<float> out(size_t(rest + 2), kJunk);
    w.LoadWaveFloat(out.data(), rest + 2, 1 << 8, 0);
    EXPECT_EQ(out[0], Scaled(left(at)));
    EXPECT_EQ(out[size_t(rest - 1)], Scaled(left(kFrames - 1)));
    EXPECT_EQ(out[size_t(rest)], 0.0f);
    EXPECT_EQ(out[size_t(rest + 1)], 0.0f);
}

// An object with no file to read (idle, or writing) loads silence and leaves
// a file being written untouched.
TEST(WaveFloat, LoadsSilenceWithoutAFileToRead) {
    for (bool writing : {false, true}) {
        SCOPED_TRACE(writing ? "writing" : "idle");
        TempDir dir;
        const std::string path = dir.Path("out.wav");
        CWave w;
        if (writing) {
            ASSERT_EQ(w.OutputWave(path.c_str(), nullptr), 0);
        }
        std::vector<float> out(7, kJunk);
        w.LoadWaveFloat(out.data(), 2, 257, 1);
        w.LoadWaveFloatStereo(out.data() + 4, 1, 0);
        w.LoadWaveFloat(out.data() + 6, 1, 0, 0);
        EXPECT_EQ(out, std::vector<float>(7, 0.0f));
        if (writing) {
            ASSERT_EQ(w.OutputWaveFinalize(), 0);
            EXPECT_EQ(ReadFile(path).size(), 44u);
        }
    }
}

} // namespace
