// End-to-end runs of the pulseregen program: arguments, input bytes, the
// report on standard output, the exit status and the output file.
#include "RunModel.h"
#include "RunTool.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace wavtest;

namespace {

constexpr int kBlock = model::kBlockFrames;

std::string Usage() {
    return "usage: " + ProgramPath() +
           " [input(.wav)] [output(.wav)]\nThe same filename for input and output is not "
           "acceptable.\n";
}

// What a run must print and write, by the reference model.
struct Expected {
    std::string out;
    Bytes wav;
};

using Opts = model::Settings;

Expected Model(const std::vector<int>& interleaved, int channels, const Opts& o = Opts{}) {
    const model::Run run = model::Regenerate(model::Mono(interleaved, channels, o.channel), o);
    Expected e{run.report, {}};
    const uint32_t bytes = uint32_t(run.samples.size() * 2);
    e.wav = Header44(1, o.rate, o.rate * 2, 2, 16, bytes + 36, bytes);
    for (short s : run.samples)
        Put16(e.wav, uint16_t(s));
    return e;
}

// `frames` mono samples of uniform noise within +-`quiet`; Swing then puts a
// square wave into chosen blocks.
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
    std::string hint = "";    // a sign the last line, suggesting --auto, must give; "" for none
};

const std::string kTryAuto = "; try --auto, which chooses";
// The sign of a run whose blocks were all judged inactive, where --auto
// finds pulses: the warning has said already that no block is active.
const char kBelowActive[] = "a pulse train lies below the active level";

// The line that ends every refused command line.
std::string TryHelp() {
    return "Try '" + ProgramPath() + " --help' for more information.\n";
}

void RunCases(const std::vector<CliCase>& cases) {
    for (const CliCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.input)
            dir.Write("in.wav", *c.input);
        Result r = RunTool(dir.Dir(), c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        if (c.status == 2) {
            const std::string tail = TryHelp();
            ASSERT_GE(r.err.size(), tail.size()) << r.err;
            EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << r.err;
            r.err.resize(r.err.size() - tail.size());
        }
        const size_t last = r.err.rfind('\n', r.err.size() < 2 ? 0 : r.err.size() - 2);
        const std::string lastLine = r.err.substr(last == std::string::npos ? 0 : last + 1);
        if (c.hint.empty()) {
            EXPECT_EQ(r.err.find(kTryAuto), std::string::npos) << r.err;
        } else {
            EXPECT_NE(lastLine.find(c.hint + kTryAuto), std::string::npos) << r.err;
            r.err.resize(r.err.size() - lastLine.size());
        }
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

// The names in the directory other than `known`, one after another.
std::string Unexpected(const TempDir& dir, const std::set<std::string>& known) {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Dir()))
        if (!known.count(entry.path().filename().string()))
            names += entry.path().filename().string() + " ";
    return names;
}

} // namespace

TEST(Cli, RefusalsAndErrors) {
    Fmt f8;
    f8.bits = 8;
    const Bytes quiet = Wav16(std::vector<int>(kBlock + 5, 0));
    const std::string inputError = "Error: Input file can't open [";
    Fmt extensible;
    extensible.tag = 0xFFFE;
    extensible.channels = 2;
    Fmt wide4;
    wide4.bits = 24;
    wide4.channels = 4;
    std::vector<int> held(2 * kBlock + kBlock / 2, 500);
    Swing(held, 1, 12000, 64);
    const Bytes header = Wav16({});
    const std::vector<CliCase> cases = {
        {"no arguments", {}, std::nullopt, Usage(), 2, std::nullopt, "got 0"},
        {"one argument", {"in.wav"}, quiet, Usage(), 2, std::nullopt, "got 1"},
        {"three arguments", {"in.wav", "out.wav", "x"}, quiet, Usage(), 2, std::nullopt, "got 3"},
        {"missing input", kInOut, std::nullopt, inputError + "0]\n", 1, std::nullopt,
         "in.wav: No such file or directory"},
        {"not RIFF", kInOut, Cat({Bytes(64, 'x'), Bytes(1, 0)}), inputError + "0]\n", 1,
         std::nullopt, "in.wav: not a RIFF/WAVE file\n"},
        {"text", kInOut, Bytes(600, 'x'), inputError + "0]\n", 1, std::nullopt,
         "in.wav: a text file, not a WAV file\n"},
        {"empty file", kInOut, Bytes{}, inputError + "0]\n", 1, std::nullopt,
         "in.wav: an empty file, not a WAV file\n"},
        {"directory",
         {".", "out.wav"},
         std::nullopt,
         inputError + "0]\n",
         1,
         std::nullopt,
         "pulseregen: .: a directory, not a WAV file\n"},
        // Cut inside the data chunk's size: the reader ends the run, silently.
        {"43 bytes of a WAV header", kInOut, Bytes(header.begin(), header.begin() + 43), "", 1,
         std::nullopt,
         "in.wav: only 43 bytes, too short for a WAV file, which takes at least 44\n"},
        {"RIFF of another type", kInOut,
         Cat({Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0}, Bytes(60, 'A')}), inputError + "0]\n", 1,
         std::nullopt, "a RIFF file of type 'AAAA', not 'WAVE'"},
        {"empty data chunk", kInOut, Wav16({}), inputError + "0]\n", 1, std::nullopt,
         "data chunk holds no sample frames"},
        {"8-bit", kInOut, Riff(Cat({FmtChunk(f8), Chunk("data", Bytes(kBlock, 0x80))})),
         inputError + "-1]\n", 1, std::nullopt, "8-bit PCM, 1 channel(s)"},
        {"fact chunk", kInOut,
         Riff(Cat({FmtChunk(Fmt{}), Chunk("fact", Bytes(4, 0)), Chunk("data", Bytes(64, 0))})),
         inputError + "-2]\n", 1, std::nullopt, "chunk 'fact' stands between"},
        {"first chunk not fmt", kInOut,
         Riff(Cat({Chunk("JUNK", Bytes(28, 0)), FmtChunk(Fmt{}), Chunk("data", Bytes(64, 0))})),
         inputError + "0]\n", 1, std::nullopt, "first chunk is 'JUNK'"},
        {"24-bit, 4 channels", kInOut, Riff(Cat({FmtChunk(wide4), Chunk("data", Bytes(64, 0))})),
         inputError + "-1]\n", 1, std::nullopt,
         "24-bit PCM, 4 channel(s); 16-bit PCM is needed; run with --any-wav to read it\n"},
        {"extensible", kInOut, Riff(Cat({FmtChunk(extensible), Chunk("data", Bytes(64, 0))})),
         inputError + "-1]\n", 1, std::nullopt,
         "16-bit WAVE_FORMAT_EXTENSIBLE of an unknown subformat, 2 channel(s); 16-bit PCM is "
         "needed; convert it with: sox in.wav -b 16 -e signed-integer OUT.wav"},
        {"data longer than the file", kInOut, WavDeclaring(1, 16, 4 * kBlock * 2, Samples16(held)),
         Model(held, 1).out, 0, Model(held, 1).wav,
         "declares 40960 frames but the file ends after 25600"},
        {"header cut in RIFF size", kInOut, Bytes{'R', 'I', 'F', 'F', 0x10, 0x00}, "", 1,
         std::nullopt, "in.wav: only 6 bytes, too short for a WAV file"},
        {"output is a directory",
         {"in.wav", "."},
         quiet,
         "Error: Output file can't open\n",
         1,
         std::nullopt,
         "pulseregen: .: Is a directory\n"},
        {"output in a missing directory",
         {"in.wav", "missing/out.wav"},
         quiet,
         "Error: Output file can't open\n",
         1,
         std::nullopt,
         "pulseregen: missing/out.wav: No such file or directory\n"},
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
            const Result r = RunTool(dir.Dir(), args);
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
        // A constant holds no pulse train for --auto to find: no advice.
        {"10,239 frames", kInOut, Wav16(std::vector<int>(kBlock - 1, 30000)),
         "Input Length = 10239 samples\n", 0, silentBlock()},
        {"loud only in block 0", kInOut, Wav16(loudFirst),
         "Input Length = 30820 samples\n1: Invalid\n2: Invalid\n", 0, silentBlock(),
         "loudest magnitude is 9000", kBelowActive},
        {"active blocks 2 and 5", kInOut, Wav16(span), modelSpan.out, 0, modelSpan.wav},
        {"verdict boundaries", kInOut, Wav16(bounds), modelBounds.out, 0, modelBounds.wav},
        {"stereo 48 kHz", kInOut, Wav16(stereo, 2, 48000), modelStereo.out, 0, modelStereo.wav,
         "plays 8.8% slower",
         "most active blocks do not swing past the switch level +-8000, the mix is much weaker "
         "than the left signal"},
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
    const Result r = RunTool(dir.Dir(), {"in.wav", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Model(samples, 1).out + "Error: Output file can't write\n");
}

TEST(Cli, UnwritableStandardOutputFails) {
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const std::vector<int> samples(2 * kBlock, 100);
    TempDir dir;
    dir.Write("in.wav", Wav16(samples));
    const Result r = RunTool(dir.Dir(), kInOut, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err, "");
    EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == Model(samples, 1).wav);
}

// Inputs that cannot seek are read as a file holding the same bytes would be.
TEST(Cli, InputThatCannotSeekReadAsAFile) {
    // A program that stops reading early fails the writer, not the test run.
    signal(SIGPIPE, SIG_IGN);
    std::mt19937 random(11);
    std::vector<int> samples = Noise(5 * kBlock + 9, 9000, random);
    Swing(samples, 3, 20000, 41); // a span that starts past the first block
    const Bytes input = Wav16(samples);
    const Expected model = Model(samples, 1);
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool asStandardInput;
    } cases[] = {{"FIFO", {"in.fifo", "out.wav"}, false}, {"piped -", {"-", "out.wav"}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string fifo = dir.Path("in.fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { dir.Write("in.fifo", input); });
        const Started s = StartTool(dir.Dir(), c.args, "", c.asStandardInput ? fifo : "");
        writer.join();
        const Result r = FinishTool(s);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, model.out);
        EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == model.wav) << "out.wav differs";
    }
}

// An output is replaced by a whole run alone, through a symlink too, and a
// FIFO is refused rather than waited on.
TEST(Cli, OutputReplacedOnlyWhole) {
    std::mt19937 random(13);
    std::vector<int> samples = Noise(3 * kBlock, 9000, random);
    Swing(samples, 1, 20000, 41);
    const Expected model = Model(samples, 1);
    const Bytes old = Bytes(100, 'o');

    TempDir dir;
    dir.Write("in.wav", Wav16(samples));
    dir.Write("target.wav", old);
    ASSERT_EQ(chmod(dir.Path("target.wav").c_str(), 0640), 0);
    ASSERT_EQ(symlink("target.wav", dir.Path("link.wav").c_str()), 0);
    Result r = RunTool(dir.Dir(), {"in.wav", "link.wav"});
    EXPECT_EQ(r.status, 0);
    struct stat st;
    ASSERT_EQ(lstat(dir.Path("link.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(dir.Path("target.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(ReadFile(dir.Path("target.wav")) == model.wav);

    ASSERT_EQ(mkfifo(dir.Path("out.fifo").c_str(), 0600), 0);
    r = FinishTool(StartTool(dir.Dir(), {"in.wav", "out.fifo"}), 0, 20);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error: Output file can't open\n");

    // A reader that has gone away: the run completes, installs the output
    // and fails for the lost report.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    r = RunTool(dir.Dir(), {"in.wav", "out.wav"}, "/dev/fd/" + std::to_string(pipeEnds[1]));
    close(pipeEnds[1]);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pulseregen: cannot write to standard output\n");
    EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == model.wav);

    // Interrupted while the output is being written: the report waits on a
    // pipe nobody reads, a verdict line for each of the 209,715 blocks of a
    // sparse file of silence.
    const Bytes huge = WavDeclaring(1, 16, 0xFFFFFFF0u, Bytes(64, 0));
    dir.Write("huge.wav", huge);
    ASSERT_EQ(truncate(dir.Path("huge.wav").c_str(), off_t(44) + off_t(0xFFFFFFF0u)), 0);
    dir.Write("out.wav", old);
    ASSERT_EQ(pipe(pipeEnds), 0);
    const Started s =
        StartTool(dir.Dir(), {"huge.wav", "out.wav"}, "/dev/fd/" + std::to_string(pipeEnds[1]));
    close(pipeEnds[1]);
    std::string leftOver;
    for (int tries = 0; tries < 2000 && leftOver.empty(); ++tries) {
        usleep(10000);
        leftOver = Unexpected(dir, {"in.wav", "huge.wav", "link.wav", "target.wav", "out.fifo",
                                    "out.wav", ".stderr"});
    }
    EXPECT_NE(leftOver, "") << "no temporary output seen";
    kill(s.pid, SIGINT);
    r = FinishTool(s, SIGINT, 20);
    close(pipeEnds[0]);
    EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == old);
    EXPECT_EQ(
        Unexpected(dir, {"in.wav", "huge.wav", "link.wav", "target.wav", "out.fifo", "out.wav"}),
        "");
}

TEST(Cli, Options) {
    std::mt19937 random(12);
    // Mono, peak 20,000 in block 3. Block 1 peaks at exactly 6,000; block 2
    // at 6,001, with its negative half at exactly -6,000.
    std::vector<int> levels = Noise(4 * kBlock + 10, 3000, random);
    Swing(levels, 1, 6000, 40);
    for (size_t i = 0; i < kBlock; ++i)
        levels[2 * kBlock + i] = (i / 30) % 2 ? -6000 : 6001;
    Swing(levels, 3, 20000, 80);
    // Stereo: the four judged signals differ in peak and in phase.
    std::vector<int> stereo;
    for (int f = 0; f < 3 * kBlock; ++f) {
        const bool loud = f >= kBlock;
        stereo.push_back(loud ? (f / 50 % 2 ? -16000 : 16000) : 100);
        stereo.push_back(loud ? (f / 70 % 2 ? -9000 : 9000) : -100);
    }
    Opts at6000;
    at6000.active = at6000.switchAt = 6000;
    Opts at6001 = at6000;
    at6001.active = 6001;
    Opts soft;
    soft.amplitude = 1000;
    soft.invert = false;
    Opts kept;
    kept.rate = 48000;
    // Peak 32,768, late in a block that is active from its start: a switch
    // level of 100% lies beyond every sample, and 70% (22,937) beyond the
    // swings.
    std::vector<int> fullScale = Noise(2 * kBlock, 3000, random);
    Swing(fullScale, 1, 20000, 30);
    fullScale[kBlock + 5000] = -32768;
    const Bytes levelsWav = Wav16(levels), stereoWav = Wav16(stereo, 2, 48000);
    const auto run = [](std::vector<std::string> args, const Bytes& in, const Expected& e,
                        const char* err = "", const char* hint = "") {
        args.insert(args.end(), kInOut.begin(), kInOut.end());
        return CliCase{"", args, in, e.out, 0, e.wav, err, hint};
    };
    std::vector<CliCase> cases = {
        run({"--active=6000", "-s", "6000"}, levelsWav, Model(levels, 1, at6000)),
        run({"--active=30.004%", "--switch=30%"}, levelsWav, Model(levels, 1, at6000)),
        run({"-a", "30.005%", "-s", "6000"}, levelsWav, Model(levels, 1, at6001)),
        run({"-a", "32767", "-s", "100%", "-A", "32767"}, levelsWav, Model(levels, 1, {32767}),
            "loudest magnitude is 20000, the active level 32767\n"),
        run({"-s", "100%"}, Wav16(fullScale), Model(fullScale, 1, {10000, 32768}),
            "switch level +-32768 that --switch gave"),
        run({"-s", "70%"}, Wav16(fullScale), Model(fullScale, 1, {10000, 22937}),
            "switch level +-22937 that --switch gave"),
        run({"-A", "1000", "--no-invert"}, levelsWav, Model(levels, 1, soft)),
        run({"-c", "right"}, levelsWav, Model(levels, 1)),
        run({"--channel=diff"}, levelsWav, Model(levels, 1, {10000, 8000, 30000, 3}),
            "loudest magnitude is 0, the active level 10000\n"),
        run({"--keep-rate"}, stereoWav, Model(stereo, 2, kept)),
        run({"-w"}, levelsWav, Model(levels, 1)),
        {"options after the operands",
         {"in.wav", "out.wav", "-q", "--", "-x"},
         levelsWav,
         Usage(),
         2,
         std::nullopt,
         "got 3"},
        {"quiet",
         {"in.wav", "-q", "out.wav", "-a0"},
         levelsWav,
         "",
         0,
         Model(levels, 1, {0}).wav,
         "",
         "+-8000"},
    };
    for (int channel = 1; channel <= 3; ++channel) {
        Opts o = kept;
        o.channel = channel;
        const char* names[] = {"mix", "left", "right", "diff"};
        cases.push_back(run({"-k", std::string("--channel=") + names[channel]}, stereoWav,
                            Model(stereo, 2, o), channel == 2 ? "loudest magnitude is 9000" : "",
                            channel == 2 ? kBelowActive : ""));
    }
    for (CliCase& c : cases)
        if (!*c.name)
            c.name = "options";
    RunCases(cases);

    // The no-invert output continues its last regenerated sample into the fade.
    const Bytes soft1 = Model(levels, 1, soft).wav;
    EXPECT_EQ(int16_t(Get16(soft1, 44 + 2 * kBlock - 2)), int16_t(Get16(soft1, 44 + 2 * kBlock)));
    EXPECT_EQ(std::abs(int16_t(Get16(soft1, 44 + 2 * kBlock))), 1000);
    // The kept rate reaches the header: rate and byte rate.
    EXPECT_EQ(Get32(Model(stereo, 2, kept).wav, 24), 48000u);
    EXPECT_EQ(Get32(Model(stereo, 2, kept).wav, 28), 96000u);
}

TEST(Cli, BadValuesRefused) {
    const Bytes quiet = Wav16(std::vector<int>(kBlock + 5, 0));
    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"--active=32768"}, "invalid active level '32768'"},
        {{"--active=-1"}, "invalid active level"},
        {{"-a", "1e3"}, "invalid active level"},
        {{"--switch=0%"}, "invalid switch level '0%'"},
        {{"--switch=100.1%"}, "invalid switch level"},
        {{"--switch=1.0000000001%"}, "invalid switch level"},
        {{"--amplitude=0"}, "invalid amplitude"},
        {{"--edges=soft"}, "invalid edges 'soft' (sharp or timed)"},
        {{"-e", "Timed"}, "invalid edges 'Timed'"},
        {{"--amplitude=32768"}, "invalid amplitude"},
        {{"--channel=middle"}, "invalid channel 'middle'"},
        {{"--band=900"}, "invalid band '900'"},
        {{"--band=0-3000"}, "invalid band '0-3000'"},
        {{"--band=3000-900"}, "invalid band '3000-900'"},
        {{"--band=900-900"}, "invalid band"},
        {{"--band=900-3k"}, "invalid band"},
        {{"--band=900-200001"}, "invalid band"},
        {{"--carrier=32768"}, "invalid carrier level '32768' (0 to 32767)"},
        {{"-C", "-1"}, "invalid carrier level '-1'"},
        {{"--rate=999"}, "invalid rate '999' (1000 to 768000 Hz)"},
        {{"--rate=44.1k"}, "invalid rate"},
        {{"-r", "768001"}, "invalid rate"},
        {{"--bogus"}, "unrecognized option '--bogus'"},
        {{"-x"}, "unrecognized option '-x'"},
        {{"--no-invert=1"}, "option '--no-invert' takes no value"},
        {{"-a"}, "option '-a' needs a value"},
    };
    std::vector<CliCase> table;
    for (const auto& c : cases) {
        std::vector<std::string> args = kInOut;
        args.insert(args.end(), c.args.begin(), c.args.end());
        // The usage text is about the files: a wrong option does not get it.
        table.push_back({c.args[0].c_str(), args, quiet, "", 2, std::nullopt, c.err});
    }
    RunCases(table);
}

TEST(Cli, HelpAndVersionTouchNothing) {
    for (const auto& args :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"in.wav", "out.wav", "-h"},
          std::vector<std::string>{"-V", "in.wav", "out.wav"}}) {
        SCOPED_TRACE(args[0]);
        TempDir dir;
        const Result r = RunTool(dir.Dir(), args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(Exists(dir.Path("out.wav")));
        if (args[0] == "-V") {
            EXPECT_EQ(r.out, std::string("pulseregen ") + PULSEREGEN_VERSION + "\n");
        } else {
            for (const char* option :
                 {"--active=LEVEL", "--switch=LEVEL", "--amplitude=N", "--channel=WHICH",
                  "--no-invert", "--keep-rate", "--quiet", "--any-wav", "--auto", "--baseline=N",
                  "--edges=WHICH", "--help", "--version"})
                EXPECT_NE(r.out.find(option), std::string::npos) << option;
        }
    }
}

// --auto on recordings whose pulses the fixed levels miss: the line that
// says what was chosen, the verdicts of every block (block 0 and the
// trailing part block too), and an output that flips at the pulses' edges.
TEST(Cli, AutoChoosesFromTheRecording) {
    constexpr int kHalf = 20; // half-period of the recorded square waves
    struct Pulses {
        int from, to, amplitude;
        int At(int f) const {
            return f < from || f >= to ? 0 : ((f - from) / kHalf) % 2 ? -amplitude : amplitude;
        }
    };
    // Frames `start` to `end` regenerated: silence before the first pulse,
    // then the pulses inverted, held after the last, then the fade.
    const auto regenerated = [](int start, int end, Pulses p, uint32_t rate) {
        std::vector<short> v;
        int level = 0;
        for (int f = start; f < end; ++f) {
            if (const int now = p.At(f))
                level = now > 0 ? 30000 : -30000;
            v.push_back(short(-level));
        }
        for (int i = 0; i < kBlock; ++i)
            v.push_back(short(int(level * ((kBlock - i) / double(kBlock)))));
        const uint32_t bytes = uint32_t(v.size() * 2);
        Bytes wav = Header44(1, rate, rate * 2, 2, 16, bytes + 36, bytes);
        for (short s : v)
            Put16(wav, uint16_t(s));
        return wav;
    };
    // 48 kHz; pulses of 6,000 in the left channel from block 1 to the end of
    // the trailing part block, on an offset that drifts from 9,000 to 23,000;
    // the right channel holds the offset alone.
    const int longFrames = 4 * kBlock + 3000;
    const Pulses onOffset{kBlock, longFrames, 6000};
    std::vector<int> offset;
    for (int f = 0; f < longFrames; ++f) {
        const int drift = 9000 + int(14000LL * f / longFrames);
        offset.push_back(drift + onOffset.At(f)), offset.push_back(drift);
    }
    const Bytes offsetWav = Wav16(offset, 2, 48000);
    const std::string offsetOut =
        "Input Length = 43960 samples\n0: Invalid\n1: Valid\n2: Valid\n3: Valid\n4: Valid\n";
    // Out-of-phase channels, pulses of 900 in blocks 2 and 3 of six.
    const Pulses quiet{2 * kBlock, 4 * kBlock, 900};
    std::vector<int> antiphase;
    for (int f = 0; f < 6 * kBlock; ++f)
        antiphase.push_back(quiet.At(f)), antiphase.push_back(-quiet.At(f));
    // Without a baseline the offset mix never falls below -1,000: one level
    // from the first sample on.
    const Pulses constant{0, 1, 1};
    const std::vector<CliCase> cases = {
        {"DC offset, one silent channel, 48 kHz, part block",
         // Without the band filter, which moves the first edge out of
         // silence earlier by up to half its window.
         {"--auto", "--smooth=1", "--edges=sharp", "in.wav", "out.wav"},
         offsetWav,
         offsetOut,
         0,
         regenerated(0, longFrames, onOffset, 48000),
         // the drift's rise over a 256-frame run adds to the swing; the
         // silent channel weighs nothing, the square has no noise
         "--auto chose --keep-rate --channel=left --active=755 --switch=749 "
         "--baseline=160 --smooth=1 --follow=8 --lag=0.0 --balance=50 --edges=sharp # 48000 Hz"},
        {"named options override the choices",
         {"--auto", "in.wav", "out.wav", "--edges=sharp", "--channel=mix", "--active=100",
          "--switch=1000", "--baseline=0"},
         offsetWav,
         offsetOut,
         0,
         regenerated(0, longFrames, constant, 48000),
         "--auto chose --keep-rate --channel=mix --active=100 --switch=1000 "
         "--baseline=0 --smooth=11 --follow=8 --lag=0.0 --balance=50 --edges=sharp # 48000 Hz"},
        {"a baseline without --auto",
         {"-k", "-q", "-c", "left", "-a", "13000", "-s", "4000", "-b", "160", "in.wav", "out.wav"},
         offsetWav,
         "",
         0,
         regenerated(kBlock, 4 * kBlock, onOffset, 48000)},
        {"a baseline without --auto, the switch past the pulses",
         {"-k", "-q", "-c", "left", "-a", "13000", "-s", "7000", "-b", "160", "in.wav", "out.wav"},
         offsetWav,
         "",
         0,
         regenerated(kBlock, 4 * kBlock, Pulses{0, 0, 0}, 48000),
         "most active blocks do not swing past the switch level +-7000 that --switch gave"},
        {"quiet, out of phase",
         {"--auto", "--smooth=1", "--edges=sharp", "in.wav", "out.wav", "-q"},
         Wav16(antiphase, 2),
         "",
         0,
         regenerated(kBlock, 5 * kBlock, quiet, 44100),
         "--auto chose --keep-rate --channel=diff --active=112 --switch=112 "
         "--baseline=160 --smooth=1 --follow=8 --lag=0.0 --balance=50 --edges=sharp # 44100 Hz"},
    };
    RunCases(cases);
}

TEST(Cli, AutoDecidesQuietScrambledDataAtItsMidpoint) {
    // Random bits of five frames at 48 kHz in a little noise: no gap but
    // the least, the longest baseline, and no band filter.
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0, 300);
    std::vector<int> x(kBlock);
    for (int bit = 0; x.size() < size_t(8 * kBlock); bit = random() % 2)
        for (int k = 0; k < 5; ++k)
            x.push_back(int(std::lround((bit ? 10000 : -10000) + noise(random))));
    TempDir dir;
    dir.Write("in.wav", Wav16(x, 1, 48000));
    const Result r = RunTool(dir.Dir(), {"--auto", "-q", "in.wav", "out.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(" --switch=24 --baseline=8192 --smooth=1 --follow=8 "), std::string::npos)
        << r.err;
}

TEST(Cli, AutoRegeneratesALowRateRecordingAt44100) {
    // Three blocks at 11,025 Hz, a square wave of five-frame half-periods
    // from frame 2,000 to 25,000. The copy at 44,100 Hz is what is judged
    // and regenerated: four times the frames, its half-periods 20 frames.
    std::vector<int> x(3 * kBlock);
    for (int f = 2000; f < 25000; ++f)
        x[size_t(f)] = (f / 5) % 2 ? -8000 : 8000;
    TempDir dir;
    dir.Write("in.wav", Wav16(x, 1, 11025));
    Result r = RunTool(dir.Dir(), {"--auto", "-q", "in.wav", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("--auto chose --keep-rate --rate=44100 --channel=mix "), std::string::npos)
        << r.err;
    const Bytes out = ReadFile(dir.Path("out.wav"));
    ASSERT_GT(out.size(), 44u);
    EXPECT_EQ(Get32(out, 24), 44100u);
    std::vector<size_t> flips;
    for (size_t at = 46; at + 2 < out.size() - 2 * kBlock; at += 2)
        if ((out[at + 1] ^ out[at - 1]) & 0x80) // the sign bit of each sample's high byte
            flips.push_back(at / 2);
    ASSERT_GT(flips.size(), 4000u);
    for (size_t k = 2; k < flips.size(); ++k)
        EXPECT_NEAR(double(flips[k] - flips[k - 1]), 20, 1) << k;
    // A copy that $TMPDIR cannot take fails the run and leaves OUTPUT.
    setenv("TMPDIR", dir.Path("missing").c_str(), 1);
    r = RunTool(dir.Dir(), {"--auto", "-q", "in.wav", "out.wav"});
    unsetenv("TMPDIR");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error: Input file can't open [0]\n");
    EXPECT_NE(r.err.find(dir.Path("missing") + ": No such file or directory"), std::string::npos);
    EXPECT_TRUE(ReadFile(dir.Path("out.wav")) == out);
}

TEST(Cli, RateRefusedWhereNoCopyCanHoldIt) {
    // Declared rates no resampler takes (where --auto keeps the rate), and a
    // copy past a RIFF file's 4 GiB, refused before anything is copied.
    std::vector<int> pulses(kBlock + 100);
    for (size_t f = 0; f < pulses.size(); ++f)
        pulses[f] = (f / 5) % 2 ? -8000 : 8000;
    const struct {
        uint32_t rate;
        size_t frames;
        std::string option, err;
    } cases[] = {
        {0, pulses.size(), "--rate=44100", "cannot resample from the declared 0 Hz"},
        {4294967295u, pulses.size(), "--rate=44100", "declared 4294967295 Hz: --rate takes"},
        {999, pulses.size(), "--rate=44100", "recordings of 1000 to 768000 Hz"},
        {1000, 2796400, "--rate=768000", "File too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        pulses.resize(c.frames);
        TempDir dir;
        dir.Write("in.wav", Wav16(pulses, 1, c.rate));
        Result r = RunTool(dir.Dir(), {"-q", c.option, "in.wav", "out.wav"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(dir.Path("out.wav")));
        if (c.rate < 1000 || c.rate > 768000) {
            EXPECT_EQ(RunTool(dir.Dir(), {"-q", "--auto", "in.wav", "out.wav"}).status, 0);
        }
    }
}

TEST(Cli, AutoLevelsNeverSinkToTheNoiseFloor) {
    // Recordings whose pulses fill few of a block's runs: --auto flips as
    // often as the pulses do (as the default run does), not on the noise
    // between them, and keeps a quieter burst after a loud one.
    std::mt19937 random(28);
    std::normal_distribution<double> gauss(0, 1);
    const auto square = [](int f, int half, int amplitude) {
        return (f / half) % 2 ? -amplitude : amplitude;
    };
    struct Row {
        const char* name;
        std::vector<int> samples;
        int flips; // of the pulses themselves
    };
    std::vector<Row> rows(3);
    rows[0].name = "10 Hz square of 20,000, noise sd 300";
    for (int f = 0; f < 10 * 44100; ++f)
        rows[0].samples.push_back(square(f, 2205, 20000) + int(300 * gauss(random)));
    rows[0].flips = 199;
    rows[1].name = "a 68 ms burst of 1 kHz in 13 blocks, noise sd 30";
    for (int f = 0; f < 13 * kBlock; ++f) {
        const bool burst = f >= 60000 && f < 60000 + 2999;
        rows[1].samples.push_back((burst ? square(f, 22, 20000) : 0) + int(30 * gauss(random)));
    }
    rows[1].flips = 2999 / 22;
    rows[2].name = "bursts of 30,000, then of 12,000";
    for (int f = 0; f < 20 * kBlock; ++f) {
        const bool loud = f >= 20000 && f < 20000 + 4 * kBlock;
        const bool quiet = f >= 120000 && f < 120000 + 4 * kBlock;
        rows[2].samples.push_back(loud ? square(f, 20, 30000) : quiet ? square(f, 20, 12000) : 0);
    }
    rows[2].flips = 2 * (4 * kBlock / 20) - 1 + 1; // each burst's edges, one between them
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        dir.Write("in.wav", Wav16(row.samples));
        // Sharp edges: a timed edge's first sample is a third level.
        ASSERT_EQ(RunTool(dir.Dir(), {"-q", "--auto", "--edges=sharp", "in.wav", "out.wav"}).status,
                  0);
        const Bytes out = ReadFile(dir.Path("out.wav"));
        // The regenerated samples, the fade block left out.
        int flips = 0;
        for (size_t at = 46; at + 2 < out.size() - 2 * kBlock; at += 2)
            flips += out[at] != out[at + 2] || out[at + 1] != out[at + 3];
        EXPECT_NEAR(flips, row.flips, 2);
    }
}
