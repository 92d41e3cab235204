// WAV files written at test time by the programs people use (sox, ffmpeg,
// Python's wave module), each read the way a user would: headers written to
// a pipe without options, the rest with --any-wav. Frame counts come from
// soxi, samples from sox's undithered 16-bit conversion (sox -D), and every
// sox command a refusal prints is run to see that pulseregen reads its
// output. The file's name holds a space, a ';' and a quote, which the
// printed commands must survive. Missing writers are skipped, saying so.
#include "RunTool.h"
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef MAKE_WAVS_SCRIPT
#error "MAKE_WAVS_SCRIPT must name make_wavs.py"
#endif

using namespace wavtest;

namespace {

const char* const kName = "take 1; it's.wav";
const char* const kQuoted = "'take 1; it'\\''s.wav'"; // kName as a shell word
constexpr int kCompared = 20000; // frames compared: one load of more than 64 KiB

bool Have(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `command` with sh in `dir`; what it prints. A failure fails the test.
std::string Shell(const std::string& dir, const std::string& command) {
    std::string out;
    FILE* p = popen(("cd '" + dir + "' && { " + command + "; }").c_str(), "r");
    if (!p) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (pclose(p) != 0)
        ADD_FAILURE() << "failed: " << command;
    return out;
}

// The first kCompared frames of `file` as sox converts them to 16 bits,
// undithered, interleaved.
std::vector<int> SoxSamples(const std::string& dir, const std::string& file) {
    const std::string raw = Shell(dir, "sox -D " + file + " -t s16 - trim 0s " +
                                           std::to_string(kCompared) + "s 2>/dev/null");
    std::vector<int> v;
    for (size_t i = 0; i + 1 < raw.size(); i += 2)
        v.push_back(int16_t(uint16_t(uint8_t(raw[i]) | uint8_t(raw[i + 1]) << 8)));
    return v;
}

enum Read { kDefault, kAnyWav, kNeither };

struct Writer {
    const char* name;
    std::string command; // writes kName from src.wav with the program it names first
    Read read;           // which mode reads it
    bool truthInSource;  // soxi and sox misread the file: src.wav tells its frames and samples
    bool sameAsSource;   // every sample keeps its 16-bit value: the run's output equals src.wav's
};

std::vector<Writer> Writers() {
    const std::string out = std::string(" ") + kQuoted;
    const std::string script = std::string("python3 ") + MAKE_WAVS_SCRIPT;
    const std::string soxPipe = "sox src.wav -t raw - | sox -t raw -r 44100 -e signed -b 16 -c 2 "
                                "- -t wav - 2>/dev/null | cat >" +
                                out;
    const std::string ff = "ffmpeg -v error -y -i src.wav ";
    return {
        // Headers written to a pipe: the length is the source's.
        {"sox to a pipe (0x7FFFF000)", soxPipe, kDefault, true, true},
        {"sox to a pipe, a LIST chunk appended as GStreamer does",
         soxPipe + " && printf 'LIST\\004\\000\\000\\000INFO' >>" + out, kDefault, true, true},
        {"ffmpeg to a pipe (0xFFFFFFFF)", ff + "-f wav pipe: | cat >" + out, kDefault, true, true},
        {"ffmpeg RF64 to a pipe (no length anywhere)",
         ff + "-rf64 always -f wav pipe: | cat >" + out, kNeither, true, true},
        // What only --any-wav reads.
        {"ffmpeg at 96 kHz: EXTENSIBLE", ff + "-ar 96000" + out, kAnyWav, false, false},
        {"sox 4 channels", "sox src.wav" + out + " remix 1 2 2 1", kAnyWav, false, false},
        {"ffmpeg bext", ff + "-write_bext 1" + out, kAnyWav, false, true},
        {"ffmpeg JUNK before fmt", ff + "-rf64 auto" + out, kAnyWav, false, true},
        {"ffmpeg RF64", ff + "-rf64 always" + out, kAnyWav, false, true},
        {"sox 8-bit", "sox src.wav -b 8" + out, kAnyWav, false, false},
        {"sox 24-bit", "sox src.wav -b 24" + out, kAnyWav, false, true},
        {"sox float 32", "sox src.wav -e floating-point -b 32" + out, kAnyWav, false, true},
        {"ffmpeg float 64", ff + "-c:a pcm_f64le" + out, kAnyWav, false, true},
        {"Python wave 24-bit", script + " pcm24 src.wav" + out, kAnyWav, false, true},
        {"Python wave 32-bit", script + " pcm32 src.wav" + out, kAnyWav, false, true},
        {"S24_LE in 4-byte containers", script + " s24le src.wav" + out, kAnyWav, true, true},
        {"EXTENSIBLE, 24 bits in 32", script + " ext24in32 src.wav" + out, kAnyWav, true, true},
    };
}

int InputLength(const std::string& report) {
    int n = -1;
    return std::sscanf(report.c_str(), "Input Length = %d samples", &n) == 1 ? n : -1;
}

// Reads kName as the user would and checks it against what sox says of it.
void Check(const TempDir& dir, const Writer& w, const Result& source, int sourceFrames) {
    const std::string file = dir.Path(kName);
    const std::string truth = w.truthInSource ? "src.wav" : kQuoted;
    const int frames =
        w.truthInSource ? sourceFrames : std::atoi(Shell(dir.Dir(), "soxi -s " + truth).c_str());

    // The library: the length, and the first samples of the first two
    // channels within 1 of sox's.
    CWave in;
    const int length = in.OpenWave(file.c_str(), CWave::kOpenAnyWav);
    if (w.read == kNeither) {
        EXPECT_EQ(length, 0);
    } else {
        EXPECT_EQ(length, frames);
        const int channels = in.GetSampleFormat().channels;
        const std::vector<int> want = SoxSamples(dir.Dir(), truth);
        ASSERT_EQ(want.size(), size_t(kCompared * channels));
        for (int side = 0; side < std::min(channels, 2); ++side) {
            std::vector<float> got(kCompared);
            in.SetPos(0);
            in.LoadWaveFloat(got.data(), kCompared, (side + 1) << 8, 0);
            for (int i = 0; i < kCompared; ++i)
                ASSERT_LE(std::abs(got[size_t(i)] * 32768 - want[size_t(i * channels + side)]), 1)
                    << "channel " << side << ", frame " << i;
        }
    }

    // The program: the true length, a verdict for each whole block after
    // the first and no more; where every sample is the source's, the
    // source's very report and output.
    const Result run = RunTool(dir.Dir(), {w.read == kAnyWav ? "--any-wav" : "--", kName, "o.wav"});
    if (w.read != kNeither) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(InputLength(run.out), frames);
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), std::max(frames / 10240, 1));
        if (w.sameAsSource) {
            EXPECT_EQ(run.out, source.out);
            EXPECT_TRUE(ReadFile(dir.Path("o.wav")) == ReadFile(dir.Path("src-out.wav")));
        }
    }
    if (w.read == kDefault) {
        EXPECT_NE(run.err.find("declares"), std::string::npos) << run.err;
        return;
    }

    // Refused without --any-wav (or by both): one remedy, --any-wav where
    // it reads the file, else a conversion, whose command must give a file
    // that pulseregen reads whole.
    const Result refused = RunTool(dir.Dir(), {kName, "o.wav"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(w.read == kAnyWav ? "--any-wav" : "does not tell the length"),
              std::string::npos)
        << refused.err;
    const std::string lead = "convert it with: ";
    const size_t at = refused.err.find(lead);
    EXPECT_EQ(at == std::string::npos, w.read == kAnyWav) << refused.err;
    if (at == std::string::npos)
        return;
    const std::string command = refused.err.substr(at + lead.size());
    Shell(dir.Dir(), "rm -f OUT.wav; " + command.substr(0, command.size() - 1) + " 2>/dev/null");
    EXPECT_EQ(InputLength(RunTool(dir.Dir(), {"OUT.wav", "o.wav"}).out), frames) << command;
}

TEST(RealWriters, EachIsReadWhole) {
    if (!Have("sox") || !Have("soxi"))
        GTEST_SKIP() << "sox is not installed (apt-get install sox): no writer to test with";
    TempDir dir;
    // 3 s of two tones, loud enough for every block to be active.
    Shell(dir.Dir(), "sox -n -r 44100 -c 2 -b 16 src.wav synth 3 sine 440 sine 660 vol 0.6");
    const int sourceFrames = std::atoi(Shell(dir.Dir(), "soxi -s src.wav").c_str());
    ASSERT_EQ(sourceFrames, 132300);
    const Result source = RunTool(dir.Dir(), {"src.wav", "src-out.wav"});
    ASSERT_EQ(source.status, 0);
    std::string skipped;
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.name);
        if (!Have(w.command.substr(0, w.command.find(' ')))) {
            skipped += std::string(" ") + w.name + ";";
            continue;
        }
        Shell(dir.Dir(), "rm -f \"" + std::string(kName) + "\"; " + w.command);
        Check(dir, w, source, sourceFrames);
    }
    if (!skipped.empty())
        std::printf("skipped, writer not installed:%s\n", skipped.c_str());
}

} // namespace
