// Hostile and broken WAV files, each built byte by byte here: the reader and
// the whole pulseregen program must meet them with their defined results
// (a length, 0, -1, -2 or exit status 1), never a crash or a long loop. The
// files stay tiny, so a run that is slow can only be a loop driven by a size
// field; ctest's TIMEOUT on this executable catches that.
#include "Passes.h"
#include "RunTool.h"
#include "Settings.h"
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

// "RIFF", a RIFF size of 36, "WAVE" and a format chunk of `fmtSize` (its 16
// bytes of fields, then fmtSize - 16 zero bytes when that is positive and
// small). The byte rate and block align are those of 16-bit samples,
// whatever `bits` says.
Bytes Head(uint16_t channels, uint32_t fmtSize = 16, uint16_t bits = 16, uint16_t tag = 1,
           const char* fmtId = "fmt ") {
    Fmt f;
    f.tag = tag;
    f.channels = channels;
    f.bits = bits;
    f.byteRate = uint32_t(44100u * 2 * channels);
    f.blockAlign = uint16_t(2 * channels);
    f.size = fmtSize;
    if (fmtSize > 16 && fmtSize < 64)
        f.extra = Bytes(fmtSize - 16, 0);
    f.id = fmtId;
    return Riff(FmtChunk(f), 0x24);
}

// A scratch directory per test; the program runs in it.
class Hostile : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        return dir_.Write(name, bytes);
    }
    std::string Path(const std::string& name) { return dir_.Path(name); }

    // Runs the real program on `input`, writing `output`.
    Result Tool(const std::string& input, const std::string& output) {
        return RunTool(dir_.Dir(), {input, output});
    }

    TempDir dir_;
};

// What OpenWave says about a file, in the process (only for files that do
// not end it).
int Open(const std::string& path) {
    CWave w;
    return w.OpenWave(path.c_str());
}

// What a run with no active block writes: the header and the silent fade
// block.
Bytes SilentFadeOnly() {
    return Cat({Mono16Header(10240), Bytes(20480, 0)});
}

// Checks that OpenWave ends the process with status 1 and prints nothing.
void ExpectOpenExits(const std::string& path) {
    EXPECT_EXIT(
        {
            CWave w;
            w.OpenWave(path.c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "^$");
}

// ---- Files the reader refuses or reads oddly -------------------------------

struct HostileCase {
    const char* name;
    Bytes bytes;
    int openResult;
};

std::vector<HostileCase> RefusedCases() {
    const Bytes riff36 = Cat({Text("RIFF"), Le32(36)});
    return {
        {"empty", {}, 0},
        {"riff_magic_cut", Text("RIF"), 0},
        {"not_riff", Cat({Text("RIFX"), Le32(36), Text("WAVE")}), 0},
        {"riff_id_nonprinting", Cat({Bytes{0x00, 0x01, 0x7f, 0xff}, Le32(36), Text("WAVE")}), 0},
        {"wave_magic_cut", Cat({riff36, Text("WA")}), 0},
        {"fmt_cut", Cat({riff36, Text("WAVEfmt "), Le32(16), Le16(1)}), 0},
        {"first_chunk_id_nonprinting",
         Cat({Head(1, 16, 16, 1, "\x01\x02\x03\x04"), Chunk("data", {})}), 0},
        // The list chunk's skip lands far past the end: the next id is missing.
        {"list_size_ffffffff",
         Cat({Head(1), ChunkSized("LIST", 0xFFFFFFFF, {}), Chunk("data", Bytes(4, 0))}), 0},
        {"lower_list_size_ffffffff",
         Cat({Head(1), ChunkSized("list", 0xFFFFFFFF, {}), ChunkSized("data", 4, {})}), 0},
        // The format chunk's end lies within 32-bit range but far past the file.
        {"fmt_size_7fffff00", Cat({Head(1, 0x7FFFFF00), Chunk("data", Bytes(4, 0))}), 0},
        {"chunk_id_nonprinting", Cat({Head(1), Chunk("\0\x01\x7f\xff", Bytes(4, 0))}), -2},
        {"chunk_id_nonprinting_after_list",
         Cat({Head(1), Chunk("LIST", Text("ab")), Chunk("\x80\x90\xa0\x1b", {})}), -2},
        {"fact_chunk", Cat({Head(1), Chunk("fact", Bytes(4, 0)), Chunk("data", {})}), -2},
        {"zero_channels", Cat({Head(0), ChunkSized("data", 0xFFFFFFFF, Le32(0x7FFF7FFF))}), 0},
        {"empty_data", Cat({Head(2), Chunk("data", {})}), 0},
        {"eight_bit", Cat({Head(1, 16, 8), Chunk("data", Bytes(2, 0x80))}), -1},
        {"not_pcm", Cat({Head(1, 16, 16, 3), Chunk("data", Bytes(2, 0))}), -1},
        {"bits_zero_channels_max", Cat({Head(0xFFFF, 16, 0), ChunkSized("data", 2, {})}), -1},
    };
}

// Every refused file: OpenWave's value, loads on the refused object that
// stay within the buffer, and a whole program run that reports the value,
// creates no output and exits with status 1.
TEST_F(Hostile, RefusedFilesGiveTheirValueAndNoOutput) {
    for (const HostileCase& c : RefusedCases()) {
        SCOPED_TRACE(c.name);
        const std::string in = Write(std::string(c.name) + ".wav", c.bytes);
        {
            CWave w;
            EXPECT_EQ(w.OpenWave(in.c_str()), c.openResult);
            // Whatever the stream holds, a load writes exactly the request;
            // where the open gave 0 (closed, no channels or no data left)
            // it writes zeros.
            std::vector<short> buf(2 * 64 + 8, 0x5A5A);
            w.LoadWaveShortStereo(buf.data(), 64, 0);
            const std::vector<short> stereo(buf.begin(), buf.begin() + 128);
            w.SetNextPage();
            w.LoadWaveShort(buf.data(), 64, 0, 1);
            for (size_t i = 128; i < buf.size(); ++i)
                EXPECT_EQ(buf[i], 0x5A5A) << "element " << i;
            if (c.openResult == 0) {
                EXPECT_EQ(stereo, std::vector<short>(128, 0));
            }
        }
        const std::string out = Path(std::string(c.name) + "-out.wav");
        const Result r = Tool(in, out);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error: Input file can't open [" + std::to_string(c.openResult) + "]\n");
        EXPECT_FALSE(Exists(out));
    }
}

// Files cut inside the RIFF size end the process with status 1, silently,
// in the reader and in the program, before any output is created.
TEST_F(Hostile, RiffSizeCutOffExitsWithOne) {
    const char* cases[] = {"RIFF", "RIFF\x01\x02", "RIFF\xff\xff\xff"};
    for (const char* bytes : cases) {
        SCOPED_TRACE(bytes);
        const std::string in = Write("cut.wav", Text(bytes));
        ExpectOpenExits(in);
        const std::string out = Path("cut-out.wav");
        const Result r = Tool(in, out);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(Exists(out));
    }
}

// A header with every kind of field: RIFF, a format chunk with 2 extra
// bytes, a list chunk with 4 bytes, and a data chunk declaring 8 bytes of
// which the file holds 1 (no whole frame). Cut at every length in turn, the
// file gives 0 when the cut falls in an id, a fixed field or a skipped run of
// bytes, or leaves no frame, exit status 1 when it falls in one of the three
// size fields, and a length only when whole.
TEST_F(Hostile, HeaderCutAtEveryLength) {
    const Bytes whole =
        Cat({Head(1, 18), Chunk("LIST", Text("INFO")), ChunkSized("data", 8, Bytes(2, 0))});
    ASSERT_EQ(whole.size(), 60u);
    struct Range {
        size_t from, to; // cut lengths from..to-1
        bool exits;
        int result;
    };
    const Range ranges[] = {
        {0, 4, false, 0},   // "RIFF"
        {4, 8, true, 0},    // RIFF size
        {8, 12, false, 0},  // "WAVE"
        {12, 38, false, 0}, // format chunk, its 24 bytes read at once, then 2 extra
        {38, 42, false, 0}, // "LIST"
        {42, 46, true, 0},  // list size
        {46, 50, false, 0}, // list payload, skipped past the end
        {50, 54, false, 0}, // "data"
        {54, 58, true, 0},  // data size
        {58, 60, false, 0}, // less than a frame of the data
        {60, 61, false, 1}, // whole: 1 frame of 16-bit mono
    };
    size_t covered = 0;
    for (const Range& r : ranges) {
        ASSERT_EQ(r.from, covered);
        covered = r.to;
        for (size_t cut = r.from; cut < r.to; ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const std::string in =
                Write("cut" + std::to_string(cut) + ".wav", Truncated(whole, cut));
            const std::string out = Path("cut" + std::to_string(cut) + "-out.wav");
            const Result run = Tool(in, out);
            if (r.exits) {
                ExpectOpenExits(in);
                EXPECT_EQ(run.status, 1);
                EXPECT_EQ(run.out, "");
                EXPECT_FALSE(Exists(out));
            } else if (r.result == 0) {
                EXPECT_EQ(Open(in), 0);
                EXPECT_EQ(run.status, 1);
                EXPECT_EQ(run.out, "Error: Input file can't open [0]\n");
                EXPECT_FALSE(Exists(out));
            } else {
                EXPECT_EQ(Open(in), r.result);
                EXPECT_EQ(run.status, 0);
                EXPECT_EQ(run.out, "Input Length = 1 samples\n");
                // Shorter than a block: only the silent fade block.
                EXPECT_EQ(ReadFile(out), SilentFadeOnly());
            }
        }
    }
    EXPECT_EQ(covered, whole.size() + 1);
}

// A format chunk size of 0x7FFFFFFF puts the chunk's end past the signed
// 32-bit range, so nothing is skipped and the data chunk follows at once.
TEST_F(Hostile, FmtSize7fffffffSkipsNothing) {
    const std::string in =
        Write("fmt7f.wav", Cat({Head(1, 0x7FFFFFFF), Chunk("data", Samples16({-5, 7, 32767}))}));
    CWave r;
    ASSERT_EQ(r.OpenWave(in.c_str()), 3);
    short got[4] = {1, 1, 1, 1};
    r.LoadWaveShort(got, 4, 0, 0);
    EXPECT_EQ(got[0], -5);
    EXPECT_EQ(got[1], 7);
    EXPECT_EQ(got[2], 32767);
    EXPECT_EQ(got[3], 0);

    const std::string out = Path("fmt7f-out.wav");
    const Result run = Tool(in, out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Input Length = 3 samples\n");
    EXPECT_EQ(ReadFile(out), SilentFadeOnly());
}

// 65,535 channels: the length divides by all of them, a mono load averages
// all of them (truncating toward zero) and a stereo load copies the average
// to both sides. The data chunk declares two blocks; the file holds 2 frames.
TEST_F(Hostile, SixtyFiveThousandChannels) {
    constexpr uint32_t kCh = 65535;
    // Frame 0 sums to -32,768: its mean truncates toward zero, to 0 (not -1).
    std::vector<int> samples(kCh, 0);
    samples[0] = -32768;
    // Frame 1 sums to -32,768 x 65,535, a sum no 16-bit accumulator holds.
    samples.insert(samples.end(), kCh, -32768);
    const short mean1 = -32768;
    const std::string in = Write( // declares 2 blocks
        "many.wav",
        Cat({Head(uint16_t(kCh)), ChunkSized("data", kCh * 2 * 20480, Samples16(samples))}));

    CWave r;
    ASSERT_EQ(r.OpenWave(in.c_str()), 2);
    short mono[3] = {9, 9, 9};
    r.LoadWaveShort(mono, 3, 0, 0);
    EXPECT_EQ(mono[0], 0);
    EXPECT_EQ(mono[1], mean1);
    EXPECT_EQ(mono[2], 0); // past the end
    r.SetTopPage();
    short planar[6] = {9, 9, 9, 9, 9, 9};
    r.LoadWaveShortStereo(planar, 3, 0);
    EXPECT_EQ(std::vector<short>(planar, planar + 6),
              (std::vector<short>{0, mean1, 0, 0, mean1, 0}));

    const std::string out = Path("many-out.wav");
    const Result run = Tool(in, out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Input Length = 2 samples\n");
    EXPECT_EQ(ReadFile(out), SilentFadeOnly());
}

// Data chunks that declare more than the file holds, as a header written to
// a pipe does: the length is the whole frames the file holds, with a warning
// that says so, and no verdict goes past them. A loud sample in the
// trailing part block is never read. The only loud samples are +20,000, so
// the level switches on at the first of them and stays: the span reads 0 up
// to it, -30,000 after it, then the fade from 30,000.
TEST_F(Hostile, DataLongerThanTheFile) {
    struct Case {
        const char* name;
        uint32_t dataSize;          // declared bytes
        size_t fileFrames;          // frames present
        std::vector<size_t> loudAt; // frames holding 20,000, in order
        std::vector<int> valid;     // blocks reported Valid
    };
    const Case cases[] = {
        {"ffffffff", 0xFFFFFFFF, 3 * 10240, {10240 + 100}, {1}},
        {"loud_in_part_block", 3 * 20480, 2 * 10240 + 6000, {10240 + 7, 2 * 10240 + 5000}, {1}},
        {"7ffff000", 0x7FFFF000, 4 * 10240 + 3, {2 * 10240 + 50, 3 * 10240}, {2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> samples(c.fileFrames, 0);
        for (size_t f : c.loudAt)
            samples[f] = 20000;
        const std::string in =
            Write(std::string(c.name) + ".wav",
                  Cat({Head(1), ChunkSized("data", c.dataSize, Samples16(samples))}));
        const int length = int(c.fileFrames);
        {
            CWave r;
            ASSERT_EQ(r.OpenWave(in.c_str()), length);
            EXPECT_EQ(r.GetDeclaredLength(), c.dataSize / 2);
        }

        const std::string out = Path(std::string(c.name) + "-out.wav");
        const Result run = Tool(in, out);
        EXPECT_EQ(run.status, 0);
        std::string expect = "Input Length = " + std::to_string(length) + " samples\n";
        for (int b = 1; b < length / 10240; ++b) {
            const bool v = std::find(c.valid.begin(), c.valid.end(), b) != c.valid.end();
            expect += std::to_string(b) + (v ? ": Valid\n" : ": Invalid\n");
        }
        EXPECT_TRUE(run.out == expect)
            << "stdout differs; its size is " << run.out.size() << ", expected " << expect.size();

        const size_t first = size_t(c.valid.front()) * 10240;
        const size_t spanFrames = size_t(c.valid.back() - c.valid.front() + 1) * 10240;
        std::vector<int> body(spanFrames + 10240);
        for (size_t i = c.loudAt[0] - first; i < spanFrames; ++i)
            body[i] = -30000;
        for (size_t i = 0; i < 10240; ++i)
            body[spanFrames + i] = short(30000 * ((10240 - double(i)) / 10240.0));
        EXPECT_TRUE(ReadFile(out) == Cat({Mono16Header(uint32_t(body.size())), Samples16(body)}));
    }
}

} // namespace
