// The reading and regeneration hot paths are specialised (direct reads for
// the layouts that equal the file bytes, loops fixed at one and two channels,
// selections instead of branches, a pass that skips what it would drop).
// These tests hold them to the reference models in testing/, on files built
// here as bytes. The loads themselves meet the reader model in
// wave/tests/wave_equivalence_test.cpp; here it checks skipping.
#include "Activity.h"
#include "Loader.h"
#include "Passes.h"
#include "RunModel.h"
#include "Switch.h"
#include "WavBytes.h"
#include "WavFormat.h"
#include "Wave.h"
#include "WaveModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

struct FileCase {
    const char* name;
    int channels;
    int bytesPerSample;
    int frames; // whole frames of data
    int cut;    // bytes of one more frame, cut off by the end of the data
    int tail;   // bytes of a chunk after the data (header included), 0 for none
};

// A file of `frames` whole frames of random samples, then `cut` bytes, then
// maybe a list chunk of random bytes. The header declares only the data.
struct BuiltFile {
    Bytes bytes;
    size_t dataStart;
};

BuiltFile Build(const FileCase& c, unsigned seed) {
    const size_t dataBytes =
        size_t(c.frames) * size_t(c.channels * c.bytesPerSample) + size_t(c.cut);
    Bytes body = RandomBytes(dataBytes, seed);
    if (c.tail > 0)
        body = Cat({body, Chunk("LIST", RandomBytes(size_t(c.tail - 8), seed + 1))});
    BuiltFile built{WavDeclaring(uint16_t(c.channels), uint16_t(8 * c.bytesPerSample),
                                 uint32_t(dataBytes), body),
                    wav::kHeaderBytes};
    // The reader refuses 8-bit files with -1 but stays attached right after
    // the 24 bytes of the format chunk: loads decode from there on.
    if (c.bytesPerSample == 1)
        built.dataStart = 12 + wav::kFmtBytes;
    return built;
}

const FileCase kFileCases[] = {
    {"mono16", 1, 2, 40000, 0, 0},
    {"mono16_cut_mid_sample", 1, 2, 40000, 1, 0},
    {"stereo16", 2, 2, 30000, 0, 0},
    {"stereo16_cut_mid_sample", 2, 2, 30000, 3, 0},
    {"stereo16_chunk_after", 2, 2, 20000, 0, 1001},
    {"three16", 3, 2, 25000, 0, 0},
    {"three16_cut_after_two_samples", 3, 2, 25000, 4, 0},
    {"three16_chunk_after", 3, 2, 20000, 0, 999},
    {"three8_cut", 3, 1, 30000, 2, 0},
};

// The mix of a frame whose channels all hold the same extreme value is that
// value, up to the largest channel count a file can declare: the sum of the
// channels must not be cut short on the way.
TEST(FastPath, MixOfExtremeFramesKeepsTheirValue) {
    for (const int channels : {3, 65535}) {
        for (const short value : {short(-32768), short(32767)}) {
            SCOPED_TRACE(std::to_string(channels) + " channels of " + std::to_string(value));
            const int frames = 2;
            const Bytes body =
                Samples16(std::vector<int>(size_t(frames) * size_t(channels), value));
            TempDir dir;
            const std::string file = dir.Write(
                "in.wav", WavDeclaring(uint16_t(channels), 16, uint32_t(body.size()), body));
            CWave wave;
            ASSERT_EQ(wave.OpenWave(file.c_str()), frames);
            std::vector<short> mono(frames), stereo(2 * frames);
            wave.LoadWaveShort(mono.data(), frames, 0, 0);
            wave.SetTopPage();
            wave.LoadWaveShort(stereo.data(), frames, 1, 0);
            EXPECT_EQ(mono, std::vector<short>(frames, value));
            EXPECT_EQ(stereo, std::vector<short>(2 * frames, value));
        }
    }
}

// Skipping frames and then loading gives what loading them and dropping the
// result gives, also where the skip ends past the end of the file or in a
// chunk after the data.
TEST(FastPath, SkipFramesEqualsLoadingAndDropping) {
    struct SkipCase {
        int fileCase; // index into kFileCases
        int before;   // frames loaded before the skip
        int skip;
    };
    const SkipCase cases[] = {
        {0, 0, 0},     {0, 3, 12345}, {1, 0, 39999}, {1, 0, 40000}, {1, 0, 60000}, {2, 10, 29989},
        {3, 0, 30000}, {4, 1, 20001}, {5, 5, 24000}, {6, 0, 25000}, {7, 0, 20050}, {8, 2, 29000},
    };
    for (const SkipCase& s : cases) {
        const FileCase& c = kFileCases[s.fileCase];
        SCOPED_TRACE(std::string(c.name) + " skip " + std::to_string(s.skip));
        const BuiltFile built = Build(c, 7u);
        TempDir dir;
        const std::string file = dir.Write("in.wav", built.bytes);
        CWave skipping, reading;
        skipping.OpenWave(file.c_str());
        reading.OpenWave(file.c_str());
        const model::Open open = model::WalkHeader(built.bytes.data(), built.bytes.size());
        ASSERT_EQ(open.pos, int64_t(built.dataStart));
        model::Reader reference(built.bytes.data(), built.bytes.size(), open);
        std::vector<short> a(size_t(s.before + s.skip) + 1), b(a.size());
        skipping.LoadWaveShort(a.data(), s.before, 0, 0);
        reading.LoadWaveShort(b.data(), s.before, 0, 0);
        reference.Load(s.before, false, false);
        skipping.SkipFrames(s.skip);
        reading.LoadWaveShort(b.data(), s.skip, 0, 0);
        reference.Skip(s.skip);
        for (const int frames : {5, 3000}) {
            std::vector<short> x(static_cast<size_t>(frames)), y(x.size());
            skipping.LoadWaveShort(x.data(), frames, 0, 0);
            reading.LoadWaveShort(y.data(), frames, 0, 0);
            EXPECT_EQ(x, y);
            EXPECT_EQ(x, model::Shorts(reference.Load(frames, false, false)));
        }
    }
}

// One channel or the difference, loaded from the 16-bit loader's pairs for
// files of one or two channels, equals what the float loader gives, block by
// block up to and past the end, with the same count of frames held; files of
// more channels, 8-bit ones and cut ones included.
TEST(FastPath, LoaderChannelsEqualFloatLoader) {
    for (const FileCase& c : kFileCases) {
        for (const regen::Channel channel :
             {regen::Channel::kLeft, regen::Channel::kRight, regen::Channel::kDiff}) {
            SCOPED_TRACE(std::string(c.name) + " channel " + std::to_string(int(channel)));
            const BuiltFile built = Build(c, 5u);
            TempDir dir;
            const std::string file = dir.Write("in.wav", built.bytes);
            CWave pairs, floats;
            pairs.OpenWave(file.c_str());
            floats.OpenWave(file.c_str());
            regen::Loader loader(pairs, channel);
            std::vector<float> scratch;
            for (int loaded = 0; loaded < c.frames + 5000;) {
                const int frames = 3001;
                std::vector<short> got(frames, 7), want(frames, 9);
                const uint64_t before = floats.GetLoadedFrames();
                const int held = loader.Load(got.data(), frames);
                regen::LoadSignal(floats, want.data(), frames, channel, scratch);
                EXPECT_EQ(held, int(floats.GetLoadedFrames() - before));
                ASSERT_EQ(got, want) << "frames from " << loaded;
                loaded += frames;
            }
        }
    }
}

// The switch carries its level through 64 samples at a time: lengths
// around whole and partial runs, levels from either side and none, and the
// thresholds at their extremes, against the sample-by-sample model, with
// the crossings it counts once the wave has started.
TEST(FastPath, RegenerateEqualsBranchingReference) {
    struct SettingsCase {
        int switchAbove;
        short amplitude;
        bool invert;
    };
    const SettingsCase settingsCases[] = {
        {8000, 30000, true}, {0, 30000, true}, {32767, 30000, true}, {8000, 12345, false}};
    std::mt19937 random(11);
    std::uniform_int_distribution<int> full(-32768, 32767);
    for (const SettingsCase& c : settingsCases) {
        regen::Settings settings;
        settings.switchAbove = c.switchAbove;
        settings.amplitude = c.amplitude;
        settings.invert = c.invert;
        model::Settings reference;
        reference.switchAt = c.switchAbove;
        reference.amplitude = c.amplitude;
        reference.invert = c.invert;
        // Values at and around the thresholds, the extremes and 0.
        const int t = c.switchAbove;
        const short edges[] = {0,
                               short(t),
                               short(-t),
                               short(std::min(t + 1, 32767)),
                               short(-t - 1),
                               short(std::max(t - 1, 0)),
                               short(-std::max(t - 1, 0)),
                               32767,
                               -32768,
                               1,
                               -1};
        std::uniform_int_distribution<size_t> edge(0, std::size(edges) - 1);
        for (const short start :
             {short(0), short(30000), short(-30000), short(1234), short(-32768)}) {
            for (const int frames : {0, 1, 2, 17, 63, 64, 65, 129, 1000, regen::kBlockFrames}) {
                for (const bool nearEdges : {false, true}) {
                    SCOPED_TRACE("threshold " + std::to_string(t) + " start " +
                                 std::to_string(start) + " frames " + std::to_string(frames) +
                                 (nearEdges ? " edges" : " noise"));
                    std::vector<short> block(static_cast<size_t>(frames));
                    for (auto& s : block)
                        s = nearEdges ? edges[edge(random)] : short(full(random));
                    regen::Crossings expectedCount;
                    int level = start;
                    for (const short v : block) {
                        level = model::Switch(std::vector<short>{v}.data(), 1, level, reference);
                        expectedCount.above += level != 0 && v > t;
                        expectedCount.below += level != 0 && v < -t;
                    }
                    std::vector<short> expected = block;
                    const short expectedLevel =
                        short(model::Switch(expected.data(), size_t(frames), start, reference));
                    regen::Crossings count{-1, -1};
                    EXPECT_EQ(regen::Regenerate(block.data(), frames, start, settings, &count),
                              expectedLevel);
                    EXPECT_EQ(block, expected);
                    EXPECT_EQ(count.above, expectedCount.above);
                    EXPECT_EQ(count.below, expectedCount.below);
                }
            }
        }
    }
}

TEST(FastPath, PeakEqualsSampleBySampleReference) {
    const short values[] = {10000, -10000, 10001, -10001, 32767, -32768};
    for (const int frames : {1, 255, 256, 257, 300, regen::kBlockFrames}) {
        for (const int at : {0, 254, 255, 256, 257, frames - 1}) {
            if (at >= frames)
                continue;
            for (const short v : values) {
                SCOPED_TRACE(std::to_string(v) + " at " + std::to_string(at) + " of " +
                             std::to_string(frames));
                std::vector<short> block(size_t(frames), short(-9999));
                block[size_t(at)] = v;
                EXPECT_EQ(regen::Peak(block.data(), frames), std::max(std::abs(int(v)), 9999));
            }
        }
    }
}

// The regeneration pass without any skipping: every block read, the ones
// outside the span dropped.
short PlainPass(CWave& in, CWave& out, short* block, int blocks, regen::Span span) {
    short level = 0;
    in.SetTopPage();
    for (int b = 0; b < blocks; ++b) {
        in.LoadWaveShort(block, regen::kBlockFrames, 0, 0);
        if (span.first < 0 || b < span.first || b > span.last)
            continue;
        level = short(model::Switch(block, regen::kBlockFrames, level));
        out.OutputWaveFrameByMono(block, regen::kBlockFrames);
    }
    return level;
}

// Runs both passes of the tool on `input` and returns the output file, made
// with RegenerateSpan or with PlainPass.
Bytes RegenerateFile(const std::string& input, bool plain, regen::Span* spanSeen) {
    CWave in, out;
    std::vector<short> block(regen::kBlockFrames);
    const int length = in.OpenWave(input.c_str());
    EXPECT_GT(length, 0);
    TempDir dir;
    const std::string output = dir.Path("out.wav");
    CWave::tOutputWaveFormat format = regen::kOutputFormat;
    EXPECT_EQ(out.OutputWave(output.c_str(), &format), 0);
    const int blocks = length / regen::kBlockFrames;
    const std::optional<regen::Scan> scan = regen::ScanActivity(in, block.data(), blocks);
    EXPECT_TRUE(scan);
    const regen::Span span =
        scan ? regen::FindSpan(regen::Judge(scan->peaks, regen::kActiveAbove)) : regen::Span{};
    *spanSeen = span;
    std::optional<short> level = plain ? PlainPass(in, out, block.data(), blocks, span)
                                       : regen::RegenerateSpan(in, out, block.data(), blocks, span);
    EXPECT_TRUE(level);
    regen::AppendFade(out, block.data(), level.value_or(0));
    EXPECT_EQ(out.OutputWaveFinalize(), 0);
    return ReadFile(output);
}

// Samples of one block: quiet noise, or a loud swing around the thresholds.
Bytes BlockBytes(int channels, bool loud, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> quiet(-9000, 9000), swing(-20000, 20000);
    std::vector<int> samples(size_t(regen::kBlockFrames) * size_t(channels));
    for (int& s : samples)
        s = loud ? swing(random) : quiet(random);
    return Samples16(samples);
}

TEST(FastPath, SkippingPassWritesTheSameFileAsPlainPass) {
    struct PassCase {
        const char* name;
        int channels;
        std::vector<bool> loud; // block by block
        int declaredBlocks;     // the header's length, in blocks; may exceed the data
        int cut;                // bytes of a frame cut off after the blocks
        bool chunkAfter;        // a loud list chunk of one block closes the file
        regen::Span span;       // the span the activity pass must find
    };
    const PassCase cases[] = {
        {"span_inside", 2, {1, 0, 1, 0, 1, 0, 0}, 7, 0, false, {2, 4}},
        {"span_from_block_1", 1, {0, 1, 0, 0}, 4, 0, false, {1, 1}},
        {"span_to_last_block", 3, {0, 0, 0, 1, 0, 1}, 6, 0, false, {3, 5}},
        {"no_span", 2, {1, 0, 0}, 3, 0, false, {-1, -1}},
        {"file_ends_early", 2, {0, 0, 0, 1, 0}, 9, 3, false, {3, 3}},
        {"three_channels_cut", 3, {0, 0, 1, 1}, 8, 4, false, {2, 3}},
        {"chunk_after_data", 2, {0, 0, 0, 0}, 7, 0, true, {-1, -1}},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes body;
        for (size_t b = 0; b < c.loud.size(); ++b) {
            const Bytes block = BlockBytes(c.channels, c.loud[b], unsigned(b + 1));
            body.insert(body.end(), block.begin(), block.end());
        }
        const Bytes cut = RandomBytes(size_t(c.cut), 3);
        body.insert(body.end(), cut.begin(), cut.end());
        if (c.chunkAfter) {
            // Past the data that the file holds: never read as samples.
            const Bytes loud = BlockBytes(c.channels, true, 99);
            body = Cat({body, Chunk("LIST", Bytes(loud.begin() + 8, loud.end()))});
        }
        const uint32_t declared =
            uint32_t(c.declaredBlocks) * regen::kBlockFrames * uint32_t(c.channels) * 2;
        TempDir dir;
        const std::string input =
            dir.Write("in.wav", WavDeclaring(uint16_t(c.channels), 16, declared, body));

        regen::Span skipping, plain;
        const Bytes fast = RegenerateFile(input, false, &skipping);
        const Bytes reference = RegenerateFile(input, true, &plain);
        EXPECT_EQ(skipping.first, c.span.first);
        EXPECT_EQ(skipping.last, c.span.last);
        const size_t spanBlocks = c.span.first < 0 ? 0 : size_t(c.span.last - c.span.first + 1);
        EXPECT_EQ(fast.size(), wav::kHeaderBytes + (spanBlocks + 1) * regen::kBlockFrames * 2);
        EXPECT_EQ(fast, reference);
    }
}

} // namespace
