// The any-WAV open mode: its header walk, the reason each mode records for a
// refusal, the conversion of every sample format to 16 bits, and positions
// in frames of the file's own size.
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

using namespace wavtest;

namespace {

const Bytes kGuidPcm = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A WAVE_FORMAT_EXTENSIBLE format chunk; `guid` is its subformat.
Bytes Extensible(uint16_t channels, uint16_t container, uint16_t valid, Bytes guid = kGuidPcm,
                 uint16_t subformat = 1) {
    guid[0] = uint8_t(subformat);
    Fmt f;
    f.tag = 0xFFFE;
    f.channels = channels;
    f.bits = container;
    f.extra = Cat({Le16(22), Le16(valid), Le32(3), guid});
    return FmtChunk(f);
}

Bytes Plain(uint16_t tag, uint16_t channels, uint16_t bits, int32_t blockAlign = -1) {
    Fmt f;
    f.tag = tag;
    f.channels = channels;
    f.bits = bits;
    f.blockAlign = blockAlign;
    return FmtChunk(f);
}

Bytes F32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return Le32(u);
}

Bytes F64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    return Cat({Le32(uint32_t(u)), Le32(uint32_t(u >> 32))});
}

// An RF64 file: ds64 declaring `dataSize`, the format, and a data chunk
// whose own size says "see ds64".
Bytes Rf64(uint64_t dataSize, const Bytes& fmt, const Bytes& body) {
    const Bytes ds64 = Chunk("ds64", Cat({Le32(0), Le32(0), Le32(uint32_t(dataSize)),
                                          Le32(uint32_t(dataSize >> 32)), Bytes(12, 0)}));
    Bytes b = Riff(Cat({ds64, fmt, ChunkSized("data", 0xFFFFFFFF, body)}), 0xFFFFFFFF);
    std::memcpy(b.data(), "RF64", 4);
    return b;
}

} // namespace

// Each file in both modes: the result, the reason recorded, and for the ones
// read, the first frames as 16-bit mono.
TEST(AnyWav, HeaderWalksAndRecordedReasons) {
    const Bytes mono = FmtChunk(Fmt{});
    const Bytes four = Samples16({100, -200, 300, -400});
    const auto P = CWave::kOpenPcm16;
    const auto A = CWave::kOpenAnyWav;
    const struct {
        const char* name;
        Bytes bytes;
        CWave::tOpenMode mode;
        int result;
        CWave::tOpenStatus status;
    } cases[] = {
        {"canonical", Wav16({100, -200, 300, -400}), A, 4, CWave::kOpened},
        {"JUNK before fmt", Riff(Cat({Chunk("JUNK", Bytes(28, 0)), mono, Chunk("data", four)})), A,
         4, CWave::kOpened},
        {"JUNK before fmt", Riff(Cat({Chunk("JUNK", Bytes(28, 0)), mono, Chunk("data", four)})), P,
         0, CWave::kFirstChunkNotFmt},
        {"odd bext and its pad",
         Riff(Cat({mono, Chunk("bext", Bytes(3, 'b')), {0}, Chunk("data", four)})), A, 4,
         CWave::kOpened},
        {"odd chunk without its pad",
         Riff(Cat({mono, Chunk("bext", Bytes(3, 'b')), Chunk("data", four)})), A, 4,
         CWave::kOpened},
        {"fact", Riff(Cat({mono, Chunk("fact", Le32(4)), Chunk("data", four)})), P, -2,
         CWave::kChunkBeforeData},
        {"data before fmt", Riff(Cat({Chunk("data", four), mono})), A, 0, CWave::kNoFormatChunk},
        {"no data chunk", Riff(Cat({mono, Chunk("LIST", {})})), A, 0, CWave::kNoDataChunk},
        {"size cut off: no exit", Riff(Cat({mono, Text("da")})), A, 0, CWave::kNoDataChunk},
        {"size cut off after the id", Riff(Cat({mono, Text("data\x01")})), A, 0,
         CWave::kNoDataChunk},
        {"not RIFF", Text("RIFX....WAVE"), A, 0, CWave::kNotWave},
        {"RF64, ds64's size short of the file", Rf64(6, mono, Cat({four, Text("tail")})), A, 3,
         CWave::kOpened},
        {"RF64", Rf64(8, mono, four), P, 0, CWave::kRf64},
        {"EXTENSIBLE PCM", Riff(Cat({Extensible(1, 16, 16), Chunk("data", four)})), A, 4,
         CWave::kOpened},
        {"EXTENSIBLE unknown GUID",
         Riff(Cat({Extensible(1, 16, 16, Bytes(16, 7)), Chunk("data", four)})), A, -1,
         CWave::kUnsupportedFormat},
        {"EXTENSIBLE cut short", Riff(Cat({Plain(0xFFFE, 1, 16), Chunk("data", four)})), A, -1,
         CWave::kUnsupportedFormat},
        {"mu-law", Riff(Cat({Plain(7, 1, 8), Chunk("data", four)})), A, -1,
         CWave::kUnsupportedFormat},
        {"float of 16 bits", Riff(Cat({Plain(3, 1, 16), Chunk("data", four)})), A, -1,
         CWave::kUnsupportedFormat},
        {"valid bits beyond the container", Riff(Cat({Extensible(1, 16, 24), Chunk("data", four)})),
         A, -1, CWave::kUnsupportedFormat},
        {"empty data", Riff(Cat({mono, Chunk("data", {})})), A, 0, CWave::kEmptyData},
        {"empty data, then a chunk", Riff(Cat({mono, Chunk("data", {}), Chunk("LIST", {})})), P, 0,
         CWave::kEmptyData},
        {"zero size, samples follow", Riff(Cat({mono, ChunkSized("data", 0, four)})), P, 0,
         CWave::kUnknownLength},
        {"zero size, samples follow", Riff(Cat({mono, ChunkSized("data", 0, four)})), A, 0,
         CWave::kUnknownLength},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.mode == A ? " (any)" : " (pcm16)"));
        CWave w;
        ASSERT_EQ(w.OpenWave(dir.Write("in.wav", c.bytes).c_str(), c.mode), c.result);
        EXPECT_EQ(w.GetOpenStatus(), c.status);
        short got[5] = {9, 9, 9, 9, 9};
        w.LoadWaveShort(got, 5, 0, 0);
        const std::vector<short> want = c.result == 4 ? std::vector<short>{100, -200, 300, -400, 0}
                                        : c.result == 3 ? std::vector<short>{100, -200, 300, 0, 0}
                                                        : std::vector<short>(5, 0);
        if (c.result > 0 || c.mode == A) {
            EXPECT_EQ(std::vector<short>(got, got + 5), want);
        }
    }
    CWave w;
    EXPECT_EQ(w.OpenWave(dir.Path("absent.wav").c_str(), A), 0);
    EXPECT_EQ(w.GetOpenStatus(), CWave::kCannotOpen);
    EXPECT_EQ(w.GetOpenErrno(), ENOENT);
}

// One sample of each format, as the loaders give it: integers keep their top
// 16 bits, floats are scaled by 32768, rounded toward zero and held in range.
TEST(AnyWav, ConvertsEverySampleFormatTo16Bits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* name;
        Bytes fmt;
        Bytes sample;
        short want;
    } cases[] = {
        {"8-bit 0", Plain(1, 1, 8), {0}, -32768},
        {"8-bit 255", Plain(1, 1, 8), {255}, 32512},
        {"8-bit 128", Plain(1, 1, 8), {128}, 0},
        {"24-bit max", Plain(1, 1, 24), {0xFF, 0xFF, 0x7F}, 32767},
        {"24-bit min", Plain(1, 1, 24), {0x00, 0x00, 0x80}, -32768},
        {"24-bit -1", Plain(1, 1, 24), {0xFF, 0xFF, 0xFF}, -1},
        {"24-bit 255", Plain(1, 1, 24), {0xFF, 0x00, 0x00}, 0},
        {"24-bit 256", Plain(1, 1, 24), {0x00, 0x01, 0x00}, 1},
        {"32-bit max", Plain(1, 1, 32), Le32(0x7FFFFFFF), 32767},
        {"32-bit -1", Plain(1, 1, 32), Le32(0xFFFFFFFF), -1},
        {"32-bit -65536", Plain(1, 1, 32), Le32(0xFFFF0000), -1},
        {"32-bit 65535", Plain(1, 1, 32), Le32(0x0000FFFF), 0},
        {"S24_LE: the low bytes, the top one ignored",
         Plain(1, 1, 24, 4),
         {0x00, 0x80, 0x00, 0xAA},
         128},
        {"S24_LE negative", Plain(1, 1, 24, 4), {0x00, 0x00, 0xF0, 0x00}, -4096},
        {"EXTENSIBLE 24 in 32: the high bytes", Extensible(1, 32, 24), Le32(0x7F800000), 0x7F80},
        {"EXTENSIBLE 20 in 24", Extensible(1, 24, 20), {0x00, 0x10, 0x80}, -32752},
        {"EXTENSIBLE 8-bit is unsigned", Extensible(1, 8, 8), {0}, -32768},
        {"EXTENSIBLE float", Extensible(1, 32, 32, kGuidPcm, 3), F32(0.5f), 16384},
        {"float 1/32768", Plain(3, 1, 32), F32(1.0f / 32768), 1},
        {"float toward zero", Plain(3, 1, 32), F32(-1.5f / 32768), -1},
        {"float tiny negative", Plain(3, 1, 32), F32(-0.00001f), 0},
        {"float 100.75 down", Plain(3, 1, 32), F32(100.75f / 32768), 100},
        {"float 0.99999", Plain(3, 1, 32), F32(0.99999f), 32767},
        {"float -0.99999", Plain(3, 1, 32), F32(-0.99999f), -32767},
        {"float 1.0 held", Plain(3, 1, 32), F32(1.0f), 32767},
        {"float -1.0", Plain(3, 1, 32), F32(-1.0f), -32768},
        {"float -7 held", Plain(3, 1, 32), F32(-7.0f), -32768},
        {"float NaN", Plain(3, 1, 32), F32(nan), 0},
        {"float inf", Plain(3, 1, 32), F32(std::numeric_limits<float>::infinity()), 32767},
        {"double 0.25", Plain(3, 1, 64), F64(0.25), 8192},
        {"double -1e300", Plain(3, 1, 64), F64(-1e300), -32768},
        {"double just under -1/32768", Plain(3, 1, 64), F64(-0.99999 / 32768), 0},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Two frames: the sample, then its bytes again, so that a wrong
        // container size shows in the second one.
        const std::string path =
            dir.Write("in.wav", Riff(Cat({c.fmt, Chunk("data", Cat({c.sample, c.sample}))})));
        CWave w;
        ASSERT_EQ(w.OpenWave(path.c_str(), CWave::kOpenAnyWav), 2);
        short got[3] = {9, 9, 9};
        w.LoadWaveShort(got, 3, 0, 0);
        EXPECT_EQ(std::vector<short>(got, got + 3), (std::vector<short>{c.want, c.want, 0}));
        float f = 7;
        w.SetPos(1);
        w.LoadWaveFloat(&f, 1, 1 << 8, 0);
        EXPECT_EQ(f, c.want / 32768.0f);
    }
}

// Positions count the file's own frames: SetPos(n) reaches frame n of a
// 24-bit stereo file, a page is 524,288 frames, and a skip moves as far.
TEST(AnyWav, PositionsCountTheFilesFrames) {
    constexpr int kFrames = 524288 + 50;
    Bytes body;
    for (int i = 0; i < kFrames; ++i)
        for (int side = 0; side < 2; ++side) {
            const uint32_t v = uint32_t(i % 30000 + side) << 8;
            body.insert(body.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)});
        }
    TempDir dir;
    CWave w;
    ASSERT_EQ(
        w.OpenWave(dir.Write("in.wav", Riff(Cat({Plain(1, 2, 24), Chunk("data", body)}))).c_str(),
                   CWave::kOpenAnyWav),
        kFrames);
    const auto frame = [&] {
        short s[2] = {9, 9};
        w.LoadWaveShort(s, 1, 1, 1);
        return std::vector<short>(s, s + 2);
    };
    const auto at = [](int i) {
        return std::vector<short>{short(i % 30000), short(i % 30000 + 1)};
    };
    EXPECT_EQ(w.SetPos(7), 0);
    EXPECT_EQ(frame(), at(7));
    w.SetNextPage(); // from frame 8, where the load left the running position
    EXPECT_EQ(frame(), at(524288 + 8));
    w.SetPrevPage(); // from frame 524,297
    EXPECT_EQ(frame(), at(9));
    w.SkipFrames(100);
    EXPECT_EQ(frame(), at(110));
    EXPECT_EQ(w.SetPos(-100), -1); // before the file's start
    w.SetTopPage();
    EXPECT_EQ(frame(), at(0));
}

// Through a descriptor the header may start anywhere in the file: the walk,
// the length of a streamed header and the positions all count from there.
TEST(AnyWav, ReadsThroughADescriptorFromItsOffset) {
    const Bytes lead = Text("leading");
    const Bytes streamed =
        Riff(Cat({FmtChunk(Fmt{}), ChunkSized("data", 0x7FFFF000, Samples16({5, -6, 7}))}));
    const Bytes rf64 = Rf64(6, Plain(1, 1, 16), Samples16({5, -6, 7}));
    TempDir dir;
    for (const Bytes& wav : {streamed, rf64}) {
        const std::string path = dir.Write("in.wav", Cat({lead, wav, Chunk("LIST", {})}));
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(lseek(fd, off_t(lead.size()), SEEK_SET), off_t(lead.size()));
        CWave w;
        ASSERT_EQ(w.OpenWaveFd(fd, CWave::kOpenAnyWav), 3);
        short got[4] = {9, 9, 9, 9};
        ASSERT_EQ(w.SetPos(1), 0);
        w.LoadWaveShort(got, 4, 0, 0);
        EXPECT_EQ(std::vector<short>(got, got + 4), (std::vector<short>{-6, 7, 0, 0}));
        close(fd);
    }
}
