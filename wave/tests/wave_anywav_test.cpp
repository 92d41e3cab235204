// The any-WAV open mode where real writers (real_writers_test) do not reach:
// odd chunks and their pad bytes, RF64 sizes, the formats it refuses and why,
// and the edges of the conversion to 16 bits.
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

// A WAVE_FORMAT_EXTENSIBLE format chunk of subformat `tag`; `tail` stands for
// the rest of its GUID, which for PCM and float is fixed.
Bytes Extensible(uint16_t container, uint16_t valid, uint16_t tag = 1,
                 Bytes tail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00,
                               0x38, 0x9B, 0x71}) {
    Fmt f;
    f.tag = 0xFFFE;
    f.bits = container;
    f.extra = Cat({Le16(22), Le16(valid), Le32(4), Le16(tag), tail});
    return FmtChunk(f);
}

Bytes Plain(uint16_t tag, uint16_t bits, int32_t blockAlign = -1) {
    Fmt f;
    f.tag = tag;
    f.bits = bits;
    f.blockAlign = blockAlign;
    return FmtChunk(f);
}

template <class T> Bytes Raw(T v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

} // namespace

// Each file: OpenWave's result and the reason recorded; a refusal in the
// any-WAV mode leaves nothing attached, and the frames read are the four
// samples (three where ds64 says so), then zeros.
TEST(AnyWav, HeaderWalksAndRecordedReasons) {
    const Bytes mono = FmtChunk(Fmt{});
    const Bytes four = Samples16({100, -200, 300, -400});
    const Bytes data = Chunk("data", four);
    const auto P = CWave::kOpenPcm16;
    const auto A = CWave::kOpenAnyWav;
    Bytes rf64 = Riff(Cat({Chunk("ds64", Cat({Le32(0), Le32(0), Le32(6), Le32(0), Bytes(12, 0)})),
                           mono, ChunkSized("data", 0xFFFFFFFF, Cat({four, Text("tail")}))}));
    std::memcpy(rf64.data(), "RF64", 4);
    Fmt wide; // a format chunk beyond the 40 bytes read
    wide.extra = Bytes(34, 0);
    const struct {
        const char* name;
        Bytes bytes;
        CWave::tOpenMode mode;
        int result;
        CWave::tOpenStatus status;
    } cases[] = {
        {"odd bext and its pad", Riff(Cat({mono, Chunk("bext", Bytes(3, 'b')), {0}, data})), A, 4,
         CWave::kOpened},
        {"odd chunk without its pad", Riff(Cat({mono, Chunk("bext", Bytes(3, 'b')), data})), A, 4,
         CWave::kOpened},
        {"format chunk of 50 bytes", Riff(Cat({FmtChunk(wide), data})), A, 4, CWave::kOpened},
        {"RF64, ds64's size short of the file", rf64, A, 3, CWave::kOpened},
        {"data before fmt", Riff(Cat({data, mono})), A, 0, CWave::kNoFormatChunk},
        {"id cut off: no exit", Riff(Cat({mono, Text("da")})), A, 0, CWave::kNoDataChunk},
        {"size cut off: no exit", Riff(Cat({mono, Text("data\x01")})), A, 0, CWave::kNoDataChunk},
        {"EXTENSIBLE, unknown GUID", Riff(Cat({Extensible(16, 16, 1, Bytes(14, 0)), data})), A, -1,
         CWave::kUnsupportedFormat},
        {"valid bits beyond the container", Riff(Cat({Extensible(16, 24), data})), A, -1,
         CWave::kUnsupportedFormat},
        {"float of 16 bits", Riff(Cat({Plain(3, 16), data})), A, -1, CWave::kUnsupportedFormat},
        {"64-bit integers", Riff(Cat({Plain(1, 64), data})), A, -1, CWave::kUnsupportedFormat},
        {"empty data, then a chunk", Riff(Cat({mono, Chunk("data", {}), Chunk("LIST", {})})), P, 0,
         CWave::kEmptyData},
        {"zero size, samples follow", Riff(Cat({mono, ChunkSized("data", 0, four)})), A, 0,
         CWave::kUnknownLength},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CWave w;
        ASSERT_EQ(w.OpenWave(dir.Write("in.wav", c.bytes).c_str(), c.mode), c.result);
        EXPECT_EQ(w.GetOpenStatus(), c.status);
        if (c.mode == P)
            continue;
        EXPECT_EQ(w.SetPos(0), c.result > 0 ? 0 : -1);
        short got[5] = {9, 9, 9, 9, 9};
        w.LoadWaveShort(got, 5, 0, 0);
        std::vector<short> want = {100, -200, 300, -400, 0};
        std::fill(want.begin() + std::max(c.result, 0), want.end(), 0);
        EXPECT_EQ(std::vector<short>(got, got + 5), want);
    }
}

// Read from a pipe, whose size is unknown, an RF64 file whose ds64 claims a
// data size near 2^64 still loads its samples; the length is held at the
// interface's limit.
TEST(AnyWav, HugeDs64SizeOnAPipe) {
    for (const uint64_t declared : {~uint64_t(0), (uint64_t(1) << 63) - 16}) {
        SCOPED_TRACE(declared);
        const Bytes ds64 = Cat({Le32(0), Le32(0), Le32(uint32_t(declared)),
                                Le32(uint32_t(declared >> 32)), Bytes(8, 0)});
        Bytes file = Riff(Cat({Chunk("ds64", ds64), FmtChunk(Fmt{}),
                               ChunkSized("data", 0xFFFFFFFF, Samples16({100, -200, 300}))}));
        std::memcpy(file.data(), "RF64", 4);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(write(ends[1], file.data(), file.size()), ssize_t(file.size()));
        close(ends[1]);
        CWave w;
        EXPECT_EQ(w.OpenWaveFd(ends[0], CWave::kOpenAnyWav), 0x7FFFFFFF);
        close(ends[0]);
        short got[4] = {9, 9, 9, 9};
        w.LoadWaveShort(got, 4, 0, 0);
        EXPECT_EQ(std::vector<short>(got, got + 4), (std::vector<short>{100, -200, 300, 0}));
    }
}

// One sample of a format, as the loaders give it: integers keep their top 16
// bits, floats are scaled by 32768, rounded toward zero and held in range.
TEST(AnyWav, ConvertsSamplesTo16Bits) {
    const struct {
        const char* name;
        Bytes fmt;
        Bytes sample;
        short want;
    } cases[] = {
        {"24-bit min", Plain(1, 24), {0x00, 0x00, 0x80}, -32768},
        {"24-bit max", Plain(1, 24), {0xFF, 0xFF, 0x7F}, 32767},
        {"24-bit: the top two bytes", Plain(1, 24), {0x12, 0x34, 0x56}, 0x5634},
        {"32-bit: the top two bytes", Plain(1, 32), Le32(0x89ABCDEF), -30293},
        {"32-bit -65536", Plain(1, 32), Le32(0xFFFF0000), -1},
        {"S24_LE: the low bytes, the top one ignored", Plain(1, 24, 4), {0x00, 0x80, 0, 0xAA}, 128},
        {"S24_LE negative", Plain(1, 24, 4), {0x00, 0x00, 0xF0, 0x00}, -4096},
        {"8-bit in 2-byte containers", Plain(1, 8, 2), {0x00, 0xAA}, -32768},
        {"EXTENSIBLE float", Extensible(32, 32, 3), Raw(0.5f), 16384},
        {"float toward zero", Plain(3, 32), Raw(-1.5f / 32768), -1},
        {"float 100.75 down", Plain(3, 32), Raw(100.75f / 32768), 100},
        {"float 1.0 held", Plain(3, 32), Raw(1.0f), 32767},
        {"float -7 held", Plain(3, 32), Raw(-7.0f), -32768},
        {"float NaN", Plain(3, 32), Raw(std::numeric_limits<float>::quiet_NaN()), 0},
        {"float -NaN", Plain(3, 32), Raw(-std::numeric_limits<float>::quiet_NaN()), 0},
        {"float infinity held", Plain(3, 32), Raw(std::numeric_limits<float>::infinity()), 32767},
        {"float -infinity held", Plain(3, 32), Raw(-std::numeric_limits<float>::infinity()),
         -32768},
        {"float too large to scale held", Plain(3, 32), Raw(3e38f), 32767},
        {"float just below full scale", Plain(3, 32), Raw(32766.75f / 32768), 32766},
        {"float between the top two", Plain(3, 32), Raw(32767.5f / 32768), 32767},
        {"float below the bottom", Plain(3, 32), Raw(-32768.5f / 32768), -32768},
        {"float -32767.5 toward zero", Plain(3, 32), Raw(-32767.5f / 32768), -32767},
        {"double 0.25", Plain(3, 64), Raw(0.25), 8192},
        {"double -1e300", Plain(3, 64), Raw(-1e300), -32768},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Eleven frames of the sample: a wrong container size shows from the
        // second one on, and the first eight meet the loops that convert
        // eight samples at a time, the last three the one-at-a-time rest.
        constexpr int kFrames = 11;
        Bytes data;
        for (int k = 0; k < kFrames; ++k)
            data = Cat({data, c.sample});
        const std::string path = dir.Write("in.wav", Riff(Cat({c.fmt, Chunk("data", data)})));
        CWave w;
        ASSERT_EQ(w.OpenWave(path.c_str(), CWave::kOpenAnyWav), kFrames);
        short got[kFrames + 1];
        std::fill(got, got + kFrames + 1, short(9));
        w.LoadWaveShort(got, kFrames + 1, 0, 0);
        std::vector<short> want(kFrames, c.want);
        want.push_back(0);
        EXPECT_EQ(std::vector<short>(got, got + kFrames + 1), want);
        float f = 7;
        w.SetPos(1);
        w.LoadWaveFloat(&f, 1, 1 << 8, 0);
        EXPECT_EQ(f, c.want / 32768.0f);
    }
}

// Distinct 24-bit samples keep their order and top two bytes through the
// loops that convert many at a time (one repeated sample hides a lane fault).
TEST(AnyWav, Packed24BitSamplesKeepTheirOrder) {
    constexpr int kSamples = 2002; // groups of 8 and of 16, then 2 more
    const Bytes data = RandomBytes(3 * kSamples, 24);
    std::vector<short> want(kSamples), got(kSamples);
    for (size_t k = 0; k < want.size(); ++k)
        want[k] = short(uint16_t(data[3 * k + 1] | data[3 * k + 2] << 8));
    TempDir dir;
    CWave w;
    const std::string path = dir.Write("in.wav", Riff(Cat({Plain(1, 24), Chunk("data", data)})));
    ASSERT_EQ(w.OpenWave(path.c_str(), CWave::kOpenAnyWav), kSamples);
    w.LoadWaveShort(got.data(), kSamples, 0, 0);
    EXPECT_TRUE(got == want);
}
