// End-to-end runs of the pulseregen program: arguments, input bytes, the
// report on standard output, the exit status and the output file.
#include "RunTool.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

constexpr int kBlock = 10240;

std::string Usage() {
    return "usage: " + ProgramPath() +
           " [input(.wav)] [output(.wav)]\nThe same filename for input and output is not "
           "acceptable.\n";
}

// What a run must print and write, worked out here from the tool's rules:
// judge each whole block after the first by its mono mix, regenerate the span
// with the +-8,000 switch, then fade from the level.
struct Expected {
    std::string out;
    Bytes wav;
};

Expected Model(const std::vector<int>& interleaved, int channels) {
    const size_t frames = interleaved.size() / size_t(channels);
    std::vector<int> mono(frames);
    for (size_t f = 0; f < frames; ++f) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += interleaved[f * size_t(channels) + size_t(c)];
        mono[f] = sum / channels;
    }
    Expected e;
    e.out = "Input Length = " + std::to_string(frames) + " samples\n";
    const size_t blocks = frames / kBlock;
    long first = -1, last = -1;
    for (size_t b = 1; b < blocks; ++b) {
        bool active = false;
        for (size_t i = 0; i < kBlock && !active; ++i)
            active = std::abs(mono[b * kBlock + i]) > 10000;
        e.out += std::to_string(b) + (active ? ": Valid\n" : ": Invalid\n");
        if (active) {
            first = first < 0 ? long(b) : first;
            last = long(b);
        }
    }
    std::vector<short> samples;
    int level = 0;
    for (long b = first; first >= 0 && b <= last; ++b) {
        for (size_t i = 0; i < kBlock; ++i) {
            const int s = mono[size_t(b) * kBlock + i];
            if (level == 0 && s > 8000)
                level = 30000;
            else if ((level > 0 && s < -8000) || (level < 0 && s > 8000))
                level = -level;
            samples.push_back(short(-level));
        }
    }
    for (int i = 0; i < kBlock; ++i)
        samples.push_back(short(int(level * ((kBlock - i) / double(kBlock)))));
    e.wav = Mono16Header(uint32_t(samples.size()));
    for (short s : samples)
        Put16(e.wav, uint16_t(s));
    return e;
}

// Blocks of mono samples: noise within +-`quiet` everywhere, with `shape`
// applied to chosen blocks.
std::vector<int> Noise(size_t frames, int quiet, std::mt19937& random) {
    std::uniform_int_distribution<int> d(-quiet, quiet);
    std::vector<int> v(frames);
    for (int& s : v)
        s = d(random);
    return v;
}

void Swing(std::vector<int>& v, size_t block, int amplitude, int period) {
    for (size_t i = 0; i < kBlock; ++i)
        v[block * kBlock + i] = (i / size_t(period)) % 2 ? -amplitude : amplitude;
}

struct CliCase {
    const char* name;
    std::vector<std::string> args;
    std::optional<Bytes> input; // written to in.wav when present
    std::string out;
    int status;
    std::optional<Bytes> wav; // out.wav's bytes; absent when it must not exist
    std::string err = "";     // a reason the one line on standard error must give; "" for none
};

void RunCases(const std::vector<CliCase>& cases) {
    for (const CliCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.input)
            dir.Write("in.wav", *c.input);
        const Result r = RunTool(dir.path(), c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err.rfind("pulseregen: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        }
        if (c.wav) {
            EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == *c.wav) << "out.wav differs";
        } else {
            EXPECT_FALSE(Exists(dir.Path("out.wav")));
        }
        if (c.input) {
            EXPECT_TRUE(ReadFile(dir.Path("in.wav")) == *c.input) << "in.wav changed";
        }
    }
}

const std::vector<std::string> kInOut = {"in.wav", "out.wav"};

} // namespace

TEST(Cli, RefusalsAndErrors) {
    Fmt f8;
    f8.bits = 8;
    const Bytes quiet = Wav16(std::vector<int>(kBlock + 5, 0));
    const std::string inputError = "Error: Input file can't open [";
    const std::vector<CliCase> cases = {
        {"no arguments", {}, std::nullopt, Usage(), 2, std::nullopt, "got 0"},
        {"one argument", {"in.wav"}, quiet, Usage(), 2, std::nullopt, "got 1"},
        {"three arguments", {"in.wav", "out.wav", "x"}, quiet, Usage(), 2, std::nullopt, "got 3"},
        {"missing input", kInOut, std::nullopt, inputError + "0]\n", 1, std::nullopt,
         "in.wav: No such file or directory"},
        {"not RIFF", kInOut, Bytes(64, 'x'), inputError + "0]\n", 1, std::nullopt,
         "not a RIFF/WAVE file"},
        {"empty data chunk", kInOut, Wav16({}), inputError + "0]\n", 1, std::nullopt,
         "data chunk holds no sample frames"},
        {"8-bit", kInOut, Riff(Cat({FmtChunk(f8), Chunk("data", Bytes(kBlock, 0x80))})),
         inputError + "-1]\n", 1, std::nullopt, "8-bit PCM, 1 channel(s)"},
        {"fact chunk", kInOut,
         Riff(Cat({FmtChunk(Fmt{}), Chunk("fact", Bytes(4, 0)), Chunk("data", Bytes(64, 0))})),
         inputError + "-2]\n", 1, std::nullopt, "chunk 'fact' stands between"},
        {"header cut in RIFF size", kInOut, Bytes{'R', 'I', 'F', 'F', 0x10, 0x00}, "", 1,
         std::nullopt},
        {"output is a directory",
         {"in.wav", "."},
         quiet,
         "Error: Output file can't open\n",
         1,
         std::nullopt},
        {"output in a missing directory",
         {"in.wav", "missing/out.wav"},
         quiet,
         "Error: Output file can't open\n",
         1,
         std::nullopt},
        {"same path", {"in.wav", "in.wav"}, quiet, Usage(), 2, std::nullopt, "same file"},
        {"same file by ./", {"in.wav", "./in.wav"}, quiet, Usage(), 2, std::nullopt, "same file"},
    };
    RunCases(cases);
}

TEST(Cli, SameFileUnderAnotherNameRefused) {
    std::mt19937 random(7);
    const Bytes input = Wav16(Noise(2 * kBlock, 20000, random));
    const struct {
        const char* name;
        int (*make)(const char* target, const char* name);
    } cases[] = {{"symlink", symlink}, {"hard link", link}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.Write("in.wav", input);
        ASSERT_EQ(c.make(dir.Path("in.wav").c_str(), dir.Path("alias.wav").c_str()), 0);
        for (const auto& args : {std::vector<std::string>{"in.wav", "alias.wav"},
                                 std::vector<std::string>{"alias.wav", "in.wav"}}) {
            const Result r = RunTool(dir.path(), args);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, Usage());
            EXPECT_TRUE(ReadFile(dir.Path("in.wav")) == input);
        }
    }
}

TEST(Cli, RegeneratedOutput) {
    std::mt19937 random(99);
    const auto silentBlock = [] { return Cat({Mono16Header(kBlock), Bytes(2 * kBlock, 0)}); };

    // Loud only in block 0, which is never judged.
    std::vector<int> loudFirst = Noise(3 * kBlock + 100, 9000, random);
    Swing(loudFirst, 0, 25000, 37);

    // Active blocks 2 and 5 with quieter blocks between them that still cross
    // the switch thresholds, loud material outside the span and in the
    // trailing part block that is never read.
    std::vector<int> span = Noise(7 * kBlock + 5000, 7000, random);
    Swing(span, 0, 30000, 50);
    Swing(span, 2, 12000, 301);
    Swing(span, 3, 9000, 113);
    Swing(span, 6, 9500, 97);
    span[5 * kBlock + 777] = -10001;
    for (size_t i = 7 * kBlock; i < span.size(); ++i)
        span[i] = 32767;

    // Verdict boundaries, one block each: 10,000, -10,000, 10,001, -10,001,
    // -32,768.
    std::vector<int> bounds = Noise(6 * kBlock, 9999, random);
    const int loudest[] = {0, 10000, -10000, 10001, -10001, -32768};
    for (int b = 1; b < 6; ++b)
        bounds[size_t(b) * kBlock + size_t(b) * 1000] = loudest[b];

    // Stereo at 48 kHz: the channels are averaged with truncation toward
    // zero, so (20001, 0) stays at 10,000 and (16001, 0) at 8,000, and the
    // output is 44.1 kHz mono, one sample per input frame.
    std::vector<int> stereo;
    for (int f = 0; f < 4 * kBlock + 3; ++f) {
        const int block = f / kBlock, i = f % kBlock;
        int left = int(random() % 14001) - 7000, right = int(random() % 14001) - 7000;
        if (block == 1)
            left = i % 2 ? 20001 : -20001, right = 0;
        if (block == 2)
            left = i % 300 < 150 ? 16001 + (i % 2) * 4002 : -16001, right = (i % 7 == 0);
        if (block == 3)
            left = i % 40 < 20 ? 16001 : -16003, right = -(i % 3 == 0);
        if (block == 3 && i == 5000)
            left = -20003, right = 0;
        stereo.push_back(left);
        stereo.push_back(right);
    }

    const Expected modelSpan = Model(span, 1);
    const Expected modelBounds = Model(bounds, 1);
    const Expected modelStereo = Model(stereo, 2);
    const std::vector<CliCase> cases = {
        {"10,239 frames", kInOut, Wav16(std::vector<int>(kBlock - 1, 30000)),
         "Input Length = 10239 samples\n", 0, silentBlock()},
        {"loud only in block 0", kInOut, Wav16(loudFirst),
         "Input Length = 30820 samples\n1: Invalid\n2: Invalid\n", 0, silentBlock(),
         "loudest magnitude is 9000"},
        {"active blocks 2 and 5", kInOut, Wav16(span), modelSpan.out, 0, modelSpan.wav},
        {"verdict boundaries", kInOut, Wav16(bounds), modelBounds.out, 0, modelBounds.wav},
        {"stereo 48 kHz", kInOut, Wav16(stereo, 2, 48000), modelStereo.out, 0, modelStereo.wav,
         "plays 8.8% slower"},
    };
    // The expectations' shape, stated independently of the model.
    EXPECT_EQ(modelSpan.wav.size(), 44u + 5 * 2 * kBlock);
    EXPECT_NE(modelSpan.out.find("2: Valid\n3: Invalid\n4: Invalid\n5: Valid\n6: Invalid\n"),
              std::string::npos);
    EXPECT_NE(modelBounds.out.find("1: Invalid\n2: Invalid\n3: Valid\n4: Valid\n5: Valid\n"),
              std::string::npos);
    EXPECT_EQ(modelStereo.out, "Input Length = 40963 samples\n1: Invalid\n2: Valid\n3: Valid\n");
    RunCases(cases);
}

TEST(Cli, FullDiskReported) {
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::mt19937 random(5);
    std::vector<int> samples = Noise(3 * kBlock, 9000, random);
    Swing(samples, 1, 15000, 64);
    TempDir dir;
    dir.Write("in.wav", Wav16(samples));
    const Result r = RunTool(dir.path(), {"in.wav", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Model(samples, 1).out + "Error: Output file can't write\n");
}

TEST(Cli, UnwritableStandardOutputFails) {
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const std::vector<int> samples(2 * kBlock, 100);
    TempDir dir;
    dir.Write("in.wav", Wav16(samples));
    const Result r = RunTool(dir.path(), kInOut, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err, "");
    EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == Model(samples, 1).wav);
}
