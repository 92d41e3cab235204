// Reading side of CWave: header parsing, positions, loaders, and the pure
// decoders of the file layout.
#include "WavBytes.h"
#include "WavFormat.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

int OpenFds() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++n;
    }
    return n;
}

std::vector<short> Load(CWave& w, int frames, int stereo = 0, int interleaved = 0) {
    std::vector<short> out(size_t(frames) * (stereo ? 2 : 1), short(0x5A5A));
    w.LoadWaveShort(out.data(), frames, stereo, interleaved);
    return out;
}

std::vector<short> Shorts(std::initializer_list<int> v) {
    return {v.begin(), v.end()};
}

// The samples of `bytes` from byte `from` on, as the reader decodes them.
std::vector<short> Decode16(const Bytes& bytes, size_t from, size_t count) {
    std::vector<short> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back(short(Get16(bytes, from + 2 * i)));
    return out;
}

std::vector<int> Ramp(int n, int start = -1000, int step = 3) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.push_back(start + step * i);
    return v;
}

Fmt FmtOf(uint16_t channels, uint16_t bits = 16, uint16_t tag = 1) {
    Fmt f;
    f.channels = channels;
    f.bits = bits;
    f.tag = tag;
    return f;
}

struct OpenCase {
    const char* name;
    Bytes bytes;
    int result;
    bool attached; // the stream stays open after the call
};

} // namespace

TEST(OpenWave, ResultsAndStreamOwnership) {
    Fmt fmt18 = FmtOf(1);
    fmt18.extra = {0xEE, 0xEE};
    Fmt fmt17 = FmtOf(1);
    fmt17.extra = {0xEE};
    Fmt fmtShort = FmtOf(1);
    fmtShort.size = 12; // smaller than the 16 bytes read: nothing skipped
    Fmt fmtWrap = FmtOf(1);
    fmtWrap.size = 0x7FFFFFFA; // chunk end wraps negative in 32 bits: nothing skipped
    Fmt fmtHuge = FmtOf(1);
    fmtHuge.size = 0x7FFFFFF0; // skips past the end of the file
    Fmt notFmt = FmtOf(1);
    notFmt.id = "LIST";
    const Bytes data8 = Chunk("data", Samples16(Ramp(8)));
    const Bytes mono = FmtChunk(FmtOf(1));
    const Bytes tenK = Riff(Cat({mono, Chunk("data", Samples16(Ramp(10240)))}));

    const std::vector<OpenCase> cases = {
        {"canonical mono", tenK, 10240, true},
        {"RIFF size ignored", Riff(Cat({mono, data8}), 0xFFFFFFFF), 8, true},
        {"stereo 46 bytes", Riff(Cat({FmtChunk(FmtOf(2)), Chunk("data", Bytes(46, 1))})), 11, true},
        {"three channels", Riff(Cat({FmtChunk(FmtOf(3)), Chunk("data", Bytes(100, 1))})), 16, true},
        {"no channels", Riff(Cat({FmtChunk(FmtOf(0)), data8})), 0, true},
        {"fmt 18", Riff(Cat({FmtChunk(fmt18), data8})), 8, true},
        {"fmt 17", Riff(Cat({FmtChunk(fmt17), data8})), 8, true},
        {"fmt 12", Riff(Cat({FmtChunk(fmtShort), data8})), 8, true},
        {"fmt size wraps", Riff(Cat({FmtChunk(fmtWrap), data8})), 8, true},
        {"fmt size past end", Riff(Cat({FmtChunk(fmtHuge), data8})), 0, false},
        {"one LIST", Riff(Cat({mono, Chunk("LIST", Bytes(10, 'x')), data8})), 8, true},
        {"one list", Riff(Cat({mono, Chunk("list", Bytes(4, 'x')), data8})), 8, true},
        {"odd LIST, no pad", Riff(Cat({mono, Chunk("LIST", Bytes(3, 'x')), data8})), 8, true},
        {"three lists",
         Riff(Cat({mono, Chunk("LIST", Bytes(6, 'x')), Chunk("list", {}),
                   Chunk("LIST", Bytes(20, 'y')), data8})),
         8, true},
        {"LIST past end", Riff(Cat({mono, ChunkSized("LIST", 0xFFFFFFFF, Bytes(8, 0))})), 0, false},
        {"fact", Riff(Cat({mono, Chunk("fact", Bytes(4, 0)), data8})), -2, true},
        {"fact after LIST",
         Riff(Cat({mono, Chunk("LIST", Bytes(2, 0)), Chunk("fact", Bytes(4, 0)), data8})), -2,
         true},
        {"8-bit", Riff(Cat({FmtChunk(FmtOf(1, 8)), data8})), -1, true},
        {"24-bit", Riff(Cat({FmtChunk(FmtOf(1, 24)), data8})), -1, true},
        {"float tag", Riff(Cat({FmtChunk(FmtOf(1, 16, 3)), data8})), -1, true},
        {"empty data", Riff(Cat({mono, Chunk("data", {})})), 0, true},
        // A size that claims more than the file holds: the frames it holds.
        {"declared beyond file", Riff(Cat({mono, ChunkSized("data", 0xFFFFFFFF, {})})), 0, true},
        {"RIFX", Patched(Wav16(Ramp(4)), 3, 'X'), 0, false},
        {"not WAVE", Patched(Wav16(Ramp(4)), 8, 'A'), 0, false},
        {"no fmt id", Patched(Wav16(Ramp(4)), 15, '_'), 0, false},
        {"first chunk not fmt", Riff(Cat({FmtChunk(notFmt), data8})), 0, false},
        {"ends inside fmt", Truncated(Wav16(Ramp(4)), 30), 0, false},
        {"ends before data id", Riff(mono), 0, false},
        {"ends inside data id", Truncated(Wav16(Ramp(4)), 38), 0, false},
        {"empty file", {}, 0, false},
    };
    TempDir dir;
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("in.wav", c.bytes);
        const int before = OpenFds();
        {
            CWave w;
            EXPECT_EQ(w.OpenWave(path.c_str()), c.result);
            EXPECT_EQ(OpenFds(), before + (c.attached ? 1 : 0));
        }
        EXPECT_EQ(OpenFds(), before);
    }
}

TEST(OpenWave, MissingFileGivesZero) {
    TempDir dir;
    CWave w;
    EXPECT_EQ(w.OpenWave(dir.Path("absent.wav").c_str()), 0);
    EXPECT_EQ(w.GetSampleLength(), 0);
}

TEST(OpenWave, StreamStandsAtFirstSample) {
    Fmt fmt18 = FmtOf(1);
    fmt18.extra = {0xEE, 0xEE};
    const std::vector<int> samples = Ramp(10240, -5000, 1);
    const Bytes body = Samples16(samples);
    const struct {
        const char* name;
        Bytes bytes;
        long top;
    } cases[] = {
        {"canonical", Wav16(samples), 44},
        {"fmt 18", Riff(Cat({FmtChunk(fmt18), Chunk("data", body)})), 46},
        {"LIST and list",
         Riff(Cat({FmtChunk(FmtOf(1)), Chunk("LIST", Bytes(5, 'L')), Chunk("list", Bytes(2, 'l')),
                   Chunk("data", body)})),
         44 + 13 + 10},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.bytes.size(), size_t(c.top) + body.size());
        CWave w;
        ASSERT_EQ(w.OpenWave(dir.Write("in.wav", c.bytes).c_str()), 10240);
        EXPECT_EQ(w.GetSampleLength(), 10240);
        EXPECT_EQ(Load(w, 4), Decode16(c.bytes, size_t(c.top), 4));
        w.SetTopPage();
        EXPECT_EQ(Load(w, 10240), Decode16(c.bytes, size_t(c.top), 10240));
    }
}

TEST(OpenWave, UnexpectedChunkLeavesStreamAfterItsHeader) {
    const Bytes fact = {1, 0, 2, 0, 0xFF, 0xFF, 0x00, 0x80};
    const Bytes bytes = Riff(Cat({FmtChunk(FmtOf(1)), Chunk("fact", fact), Chunk("data", {})}));
    TempDir dir;
    CWave w;
    ASSERT_EQ(w.OpenWave(dir.Write("in.wav", bytes).c_str()), -2);
    EXPECT_EQ(w.GetSampleLength(), 0);
    EXPECT_EQ(Load(w, 4), Decode16(bytes, 44, 4));
}

TEST(OpenWave, RefusedFormatLeavesStreamAfterFormatChunk) {
    const Bytes bytes = Riff(Cat({FmtChunk(FmtOf(1, 16, 3)), Chunk("data", Samples16({7, 8}))}));
    TempDir dir;
    CWave w;
    ASSERT_EQ(w.OpenWave(dir.Write("in.wav", bytes).c_str()), -1);
    EXPECT_EQ(w.GetSampleLength(), 0);
    // The data chunk's header is what follows the format chunk.
    EXPECT_EQ(Load(w, 6), Decode16(bytes, 36, 6));
}

TEST(OpenWave, FailedOpenKeepsEarlierLengthAndReopenClosesFirst) {
    TempDir dir;
    const std::string good = dir.Write("good.wav", Wav16(Ramp(5)));
    const std::string bad =
        dir.Write("bad.wav", Riff(Cat({FmtChunk(FmtOf(1, 8)), Chunk("data", Bytes(4, 0))})));
    const int before = OpenFds();
    CWave w;
    ASSERT_EQ(w.OpenWave(good.c_str()), 5);
    ASSERT_EQ(w.OpenWave(good.c_str()), 5);
    EXPECT_EQ(OpenFds(), before + 1);
    EXPECT_EQ(w.OpenWave(bad.c_str()), -1);
    EXPECT_EQ(w.GetSampleLength(), 5);
    EXPECT_EQ(OpenFds(), before + 1);
    EXPECT_EQ(w.CloseWave(), 0);
    EXPECT_EQ(w.CloseWave(), 0);
    EXPECT_EQ(OpenFds(), before);
}

TEST(OpenWave, ReportsWhatTheLastOpenRead) {
    TempDir dir;
    CWave w;
    char id[4];
    ASSERT_EQ(w.OpenWave(dir.Write("good.wav", Wav16(Ramp(5))).c_str()), 5);
    EXPECT_TRUE(w.GetStopChunkId(id) && std::string(id, 4) == "data");
    const Bytes junkFirst = Riff(Cat({Chunk("JUNK", Bytes(30, 0)), FmtChunk(FmtOf(1, 16))}));
    ASSERT_EQ(w.OpenWave(dir.Write("junk.wav", junkFirst).c_str()), 0);
    EXPECT_TRUE(w.GetStopChunkId(id) && std::string(id, 4) == "JUNK");
    ASSERT_EQ(w.OpenWave(dir.Write("bad.wav", Riff(FmtChunk(FmtOf(2, 8)))).c_str()), -1);
    EXPECT_EQ(w.GetFormatChunk().bitsPerSample, 8);
    EXPECT_EQ(w.GetFormatChunk().channels, 2);
    // Nothing read: nothing left over from the open before.
    ASSERT_EQ(w.OpenWave(dir.Path("absent.wav").c_str()), 0);
    EXPECT_FALSE(w.GetStopChunkId(id));
    EXPECT_EQ(w.GetFormatChunk().bitsPerSample, 0);
}

TEST(OpenWave, PathLongerThanNameCopyStillOpens) {
    TempDir dir;
    std::string path = dir.Dir();
    while (path.size() < 3000) {
        path += "/" + std::string(200, 'd');
        std::filesystem::create_directory(path);
    }
    path += "/in.wav";
    ASSERT_GT(path.size(), 2559u);
    {
        CWave out;
        ASSERT_EQ(out.OutputWave(path.c_str(), nullptr), 0);
        short s[3] = {1, 2, 3};
        ASSERT_EQ(out.OutputWaveFrameByStereo(s, s, 3), 0);
        ASSERT_EQ(out.OutputWaveFinalize(), 0);
    }
    CWave in;
    EXPECT_EQ(in.OpenWave(path.c_str()), 3);
}

using OpenWaveDeathTest = ::testing::Test;

TEST(OpenWaveDeathTest, CutSizeFieldEndsProcessWithStatusOne) {
    const Bytes whole =
        Riff(Cat({FmtChunk(FmtOf(1)), Chunk("LIST", Bytes(2, 0)), Chunk("data", {})}));
    const struct {
        const char* name;
        size_t size;
    } cases[] = {{"RIFF size", 6}, {"LIST size", 42}, {"data size", 52}};
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("cut.wav", Truncated(whole, c.size));
        EXPECT_EXIT(
            {
                CWave w;
                w.OpenWave(path.c_str());
            },
            ::testing::ExitedWithCode(1), "^$");
    }
}

TEST(OpenWaveDeathTest, FieldReadersAssembleLittleEndianOrExit) {
    TempDir dir;
    const std::string path = dir.Write("f.bin", {0x01, 0x02, 0x03, 0x84, 0xFE, 0xFF, 0x7F});
    CWave w;
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(w.get_ulong(f), 0x84030201ul);
    EXPECT_EQ(w.get_ushort(f), 0xFFFEu);
    EXPECT_EXIT(w.get_ushort(f), ::testing::ExitedWithCode(1), "^$");
    EXPECT_EXIT(w.get_ulong(f), ::testing::ExitedWithCode(1), "^$");
    fclose(f);
}

TEST(LoadWaveShort, MonoMixTruncatesTowardZero) {
    const struct {
        uint16_t channels;
        std::vector<int> frame;
        short mixed;
    } cases[] = {
        {2, {-3, 0}, -1},
        {2, {3, 0}, 1},
        {2, {-1, 0}, 0},
        {2, {32767, 32767}, 32767},
        {2, {-32768, -32768}, -32768},
        {2, {-32768, 32767}, 0},
        {3, {1, 1, -3}, 0},
        {3, {-2, -2, -3}, -2},
        {3, {32767, 32767, 32767}, 32767},
        {5, {-1, -1, -1, -1, -1}, -1},
        {5, {4, 0, 0, 0, 0}, 0},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.channels << " channels, first " << c.frame[0]);
        CWave w;
        ASSERT_EQ(w.OpenWave(dir.Write("in.wav", Wav16(c.frame, c.channels)).c_str()), 1);
        EXPECT_EQ(Load(w, 2), Shorts({c.mixed, 0}));
    }
}

TEST(LoadWaveShort, TwoChannelLayouts) {
    const std::vector<int> stereo = {1, 2, 3, 4, 5, 6};
    const std::vector<int> three = {3, 6, 9, -3, -6, -10, 1, 1, 1};
    const struct {
        const char* name;
        Bytes bytes;
        int frames;
        int interleaved;
        bool viaStereoCall;
        std::vector<short> expected;
    } cases[] = {
        {"stereo interleaved", Wav16(stereo, 2), 3, 1, false, Shorts({1, 2, 3, 4, 5, 6})},
        {"stereo planar", Wav16(stereo, 2), 3, 0, false, Shorts({1, 3, 5, 2, 4, 6})},
        {"stereo call", Wav16(stereo, 2), 3, 0, true, Shorts({1, 3, 5, 2, 4, 6})},
        {"cut interleaved", Wav16(stereo, 2), 4, 1, true, Shorts({1, 2, 3, 4, 5, 6, 0, 0})},
        {"cut planar", Wav16(stereo, 2), 4, 0, false, Shorts({1, 3, 5, 0, 2, 4, 6, 0})},
        {"mono doubled interleaved", Wav16({7, -8}), 3, 1, false, Shorts({7, 7, -8, -8, 0, 0})},
        {"mono doubled planar", Wav16({7, -8}), 3, 0, false, Shorts({7, -8, 0, 7, -8, 0})},
        {"three mixed interleaved", Wav16(three, 3), 3, 1, false, Shorts({6, 6, -6, -6, 1, 1})},
        {"three mixed planar", Wav16(three, 3), 3, 0, true, Shorts({6, -6, 1, 6, -6, 1})},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CWave w;
        ASSERT_GT(w.OpenWave(dir.Write("in.wav", c.bytes).c_str()), 0);
        std::vector<short> got(c.expected.size(), short(0x5A5A));
        if (c.viaStereoCall)
            w.LoadWaveShortStereo(got.data(), c.frames, c.interleaved);
        else
            w.LoadWaveShort(got.data(), c.frames, 1, c.interleaved);
        EXPECT_EQ(got, c.expected);
    }
}

// The loaders stop where the data ends: at the end of the data chunk, or,
// for a size that claims more than the file holds (a header written to a
// pipe), at the end of the file short of the chunks that close it. A chunk
// after the data is never read as samples.
TEST(LoadWaveShort, StopsAtTheEndOfTheData) {
    const Bytes fmt = FmtChunk(FmtOf(1)), samples = Samples16({10, -20, 30});
    const Bytes list = Chunk("LIST", Cat({Text("INFOISFT"), Le32(3), Text("abc"), {0}}));
    const Bytes id3 = Chunk("id3 ", Bytes(5, 0x7F)); // odd: its pad byte closes the file
    TempDir dir;
    for (const Bytes& file :
         {Riff(Cat({fmt, Chunk("data", samples), list})),
          Riff(Cat({fmt, ChunkSized("data", 0x7FFFF000, samples), list, id3, {0}}))}) {
        CWave w;
        ASSERT_EQ(w.OpenWave(dir.Write("in.wav", file).c_str()), 3);
        EXPECT_EQ(Load(w, 6), Shorts({10, -20, 30, 0, 0, 0}));
    }
}

// A page is 1 MiB of file per channel, which is 524,288 frames of 16-bit
// audio whatever the channel count.
TEST(Position, OffsetMovesWithPagesPositionsAndLoads) {
    constexpr int kPage = 524288;
    constexpr int kFrames = kPage + 100;
    const auto value = [](int frame) { return short(uint16_t(uint32_t(frame) * 7919u)); };
    TempDir dir;
    for (uint16_t channels : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << channels << " channels");
        std::vector<int> samples;
        for (int i = 0; i < kFrames; ++i)
            samples.insert(samples.end(), channels, value(i));
        CWave w;
        ASSERT_EQ(w.OpenWave(dir.Write("in.wav", Wav16(samples, channels)).c_str()), kFrames);
        const auto expect = [&](int first, int count) {
            std::vector<short> v;
            for (int i = first; i < first + count; ++i)
                v.push_back(i < kFrames ? value(i) : 0);
            return v;
        };
        EXPECT_EQ(Load(w, 5), expect(0, 5));
        w.SetNextPage();
        EXPECT_EQ(Load(w, 3), expect(kPage + 5, 3));
        w.SetPrevPage(); // from the offset the last load left: frame 8
        EXPECT_EQ(Load(w, 2), expect(8, 2));
        EXPECT_EQ(w.SetPos(kFrames - 4), 0);
        EXPECT_EQ(Load(w, 10), expect(kFrames - 4, 10)); // 4 frames, then zeros
        w.SetPrevPage(); // the offset moved by all 10 requested frames
        EXPECT_EQ(Load(w, 1), expect(kFrames + 6 - kPage, 1));
        w.SetTopPage();
        EXPECT_EQ(Load(w, 2), expect(0, 2));
        EXPECT_EQ(w.SetPos(0), 0);
        EXPECT_EQ(Load(w, 1), expect(0, 1));
        // channels x frame x 2 wraps in 32 bits.
        EXPECT_EQ(w.SetPos(-2147483646), 0);
        EXPECT_EQ(Load(w, 1), expect(2, 1));
        EXPECT_EQ(w.SetPos(0x40000000), channels == 1 ? -1 : 0);
        if (channels == 2) {
            EXPECT_EQ(Load(w, 1), expect(0, 1));
        }
        EXPECT_EQ(w.SetPos(-100), -1);
    }
}

TEST(Position, IdleObjectZeroFillsAndRefuses) {
    TempDir dir;
    const std::string path = dir.Write("in.wav", Wav16(Ramp(6, 100), 2));
    CWave fresh;
    CWave closed;
    ASSERT_EQ(closed.OpenWave(path.c_str()), 3);
    closed.CloseWave();
    for (CWave* w : {&fresh, &closed}) {
        SCOPED_TRACE(w == &fresh ? "fresh" : "closed");
        w->SetTopPage();
        w->SetNextPage();
        w->SetPrevPage();
        EXPECT_EQ(w->SetPos(0), -1);
        EXPECT_EQ(Load(*w, 3), std::vector<short>(3, 0));
        EXPECT_EQ(Load(*w, 3, 1, 1), std::vector<short>(6, 0));
        EXPECT_EQ(Load(*w, 3, 1, 0), std::vector<short>(6, 0));
    }
    EXPECT_EQ(fresh.GetSampleLength(), 0);
}

TEST(Position, FreshObjectLengthAfterRefusedOpenIsZero) {
    TempDir dir;
    const Bytes refused[] = {
        Riff(Cat({FmtChunk(FmtOf(1, 8)), Chunk("data", Bytes(4, 0))})),
        Riff(Cat({FmtChunk(FmtOf(1)), Chunk("fact", Bytes(4, 0)), Chunk("data", Bytes(4, 0))})),
    };
    for (const Bytes& b : refused) {
        CWave w;
        EXPECT_LT(w.OpenWave(dir.Write("in.wav", b).c_str()), 0);
        EXPECT_EQ(w.GetSampleLength(), 0);
    }
}

// ---- Pure decoders ----------------------------------------------------------

TEST(WavLayout, LittleEndianFields) {
    const unsigned char b[] = {0x01, 0x82, 0x03, 0xF4};
    EXPECT_EQ(wav::Le16(b), 0x8201u);
    EXPECT_EQ(wav::Le32(b), 0xF4038201u);
    unsigned char out[4] = {};
    wav::PutLe32(out, 0xF4038201u);
    EXPECT_EQ(Bytes(out, out + 4), Bytes(b, b + 4));
    EXPECT_TRUE(wav::IsId(reinterpret_cast<const unsigned char*>("LIST"), "LIST"));
    EXPECT_FALSE(wav::IsId(reinterpret_cast<const unsigned char*>("list"), "LIST"));
}

TEST(WavLayout, DecodeFmtChunkReadsEveryField) {
    Fmt f;
    f.tag = 0xFFFE;
    f.channels = 0x8003;
    f.rate = 0x89ABCDEF;
    f.byteRate = 0x76543210;
    f.blockAlign = 0xBEEF;
    f.bits = 0x8010;
    f.size = 0x80000001;
    const Bytes b = FmtChunk(f);
    const CWave::tWaveFmtChunk d = wav::DecodeFmtChunk(b.data());
    EXPECT_EQ(std::string(d.chunkId, 4), "fmt ");
    EXPECT_EQ(d.chunkSize, int32_t(0x80000001u));
    EXPECT_EQ(d.formatTag, int16_t(0xFFFE));
    EXPECT_EQ(d.channels, 0x8003);
    EXPECT_EQ(d.sampleRate, 0x89ABCDEFu);
    EXPECT_EQ(d.byteRate, 0x76543210u);
    EXPECT_EQ(d.blockAlign, 0xBEEF);
    EXPECT_EQ(d.bitsPerSample, 0x8010);
}

TEST(WavLayout, FmtExtraBytes) {
    const struct {
        int32_t size;
        uint64_t extra;
    } cases[] = {{16, 0},         {17, 1},         {18, 2},       {40, 24},
                 {0, 0},          {-1, 0},         {-8, 0},       {0x7FFFFFF7, 0x7FFFFFE7},
                 {0x7FFFFFF8, 0}, {0x7FFFFFFF, 0}, {INT32_MIN, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(wav::FmtExtraBytes(c.size), c.extra) << c.size;
}

TEST(WavLayout, EncodeHeaderMatchesLayout) {
    const CWave::tOutputWaveFormat format{48000, 2, 2};
    const CWave::tWaveFmtChunk fmt = wav::MakeFmtChunk(format);
    unsigned char out[wav::kHeaderBytes];
    wav::EncodeHeader(out, fmt, 0x01020304, 0xA0B0C0D0);
    Fmt f;
    f.channels = 2;
    f.rate = 48000;
    f.byteRate = 48000 * 4;
    f.blockAlign = 4;
    const Bytes expected = Riff(Cat({FmtChunk(f), ChunkSized("data", 0xA0B0C0D0, {})}), 0x01020304);
    EXPECT_EQ(Bytes(out, out + sizeof out), expected);
}

TEST(WavLayout, DeclaredDataBytesClampsRiffSize) {
    const struct {
        uint64_t frames;
        int32_t bytes, channels;
        uint32_t data, riff;
    } cases[] = {
        {0, 2, 1, 0, 36},
        {10240, 2, 1, 20480, 20516},
        {3, 2, 2, 12, 48},
        {5, 1, 2, 10, 46},
        {5, 1, 1, 5, 42}, // the pad byte after an odd chunk
        {0x7FFFFFED, 2, 1, 0xFFFFFFDA, 0xFFFFFFFE},
        // Clamped to whole frames, with room for the pad byte.
        {0x7FFFFFEE, 2, 1, 0xFFFFFFDA, 0xFFFFFFFE},
        {0x100000000ull, 1, 1, 0xFFFFFFDA, 0xFFFFFFFE},
        {0x3FFFFFFFFFFFFFFFull, 2, 2, 0xFFFFFFD8, 0xFFFFFFFC},
    };
    for (const auto& c : cases) {
        const uint32_t data = wav::DeclaredDataBytes(c.frames, c.bytes, c.channels);
        EXPECT_EQ(data, c.data) << c.frames;
        EXPECT_EQ(wav::RiffSize(data), c.riff) << c.frames;
    }
}
