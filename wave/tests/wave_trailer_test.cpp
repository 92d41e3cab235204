// Where the data ends in files whose header claims more than they hold, and
// frames wider than the loaders' read runs.
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

using namespace wavtest;

namespace {

// `n` samples of a pulse train that ends the file: 20,000 twice, then 0
// twice. Its bytes, " N N" and four zeros, look like a chunk header of size
// 0, again and again.
std::vector<int> Pulses(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.push_back(i % 4 < 2 ? 20000 : 0);
    return v;
}

// The canonical header of 16-bit mono PCM whose data chunk declares
// `dataSize` bytes, then `body`.
Bytes Claiming(uint32_t dataSize, const Bytes& body) {
    return Riff(Cat({FmtChunk(Fmt{}), ChunkSized("data", dataSize, body)}));
}

struct OverClaim {
    const char* name;
    Bytes file;
    int length;
    uint64_t trailing;
};

std::vector<OverClaim> OverClaims() {
    const Bytes pulses = Samples16(Pulses(400));
    const Bytes list = Chunk("LIST", Cat({Text("INFOISFT"), Le32(2), Text("x"), {0}}));
    // "LIST" as the data size, the first two samples as its size: a chunk
    // from 4 bytes before the data to the end of the file.
    const Bytes early = Cat({Le32(8), Samples16({1, 2, 3, 4})});
    return {
        {"a pulse train to the end", Claiming(0xFFFFFFFF, pulses), 400, 0},
        {"pulses, then a LIST chunk", Claiming(0xFFFFFFFF, Cat({pulses, list})), 400, list.size()},
        {"pulses, then id3 and its pad",
         Claiming(0x7FFFFFF0, Cat({pulses, Chunk("id3 ", Bytes(3, 7)), {0}})), 400, 12},
        {"an unknown id is samples", Claiming(0xFFFFFFFF, Cat({pulses, ChunkSized("abcd", 0, {})})),
         404, 0},
        {"a chunk that would start before the data",
         Riff(Cat({FmtChunk(Fmt{}), Text("data"), Text("LIST"), early})), 6, 0},
        {"a pulse train shorter than it declares, ending in a frame's half",
         Claiming(2000, Cat({pulses, {7}})), 400, 0},
    };
}

// A pipe holding `bytes` (small enough for the pipe to take them at once),
// read from its start; -1 on failure.
int PipeOf(const Bytes& bytes) {
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    const bool written = write(ends[1], bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(ends[1]);
    if (!written) {
        close(ends[0]);
        return -1;
    }
    return ends[0];
}

} // namespace

// Only chunks that writers put after the audio end the data; samples that
// happen to look like a chunk header are samples, and no chunk is believed
// that would begin before the data. GetTrailingBytes counts what was taken.
TEST(OverClaiming, EndsOnlyAtChunksWritersPutAfterAudio) {
    TempDir dir;
    for (const auto& c : OverClaims()) {
        SCOPED_TRACE(c.name);
        for (CWave::tOpenMode mode : {CWave::kOpenPcm16, CWave::kOpenAnyWav}) {
            CWave w;
            ASSERT_EQ(w.OpenWave(dir.Write("in.wav", c.file).c_str(), mode), c.length);
            EXPECT_EQ(w.GetTrailingBytes(), c.trailing);
            std::vector<short> got(size_t(c.length) + 2, 1);
            w.LoadWaveShort(got.data(), c.length + 2, 0, 0);
            EXPECT_EQ(w.GetLoadedFrames(), uint64_t(c.length));
            EXPECT_EQ(got[size_t(c.length)], 0);
        }
    }
    // A file that holds what it claims has nothing taken for chunks.
    CWave w;
    ASSERT_EQ(w.OpenWave(dir.Write("in.wav", Wav16(Pulses(8))).c_str()), 8);
    EXPECT_EQ(w.GetTrailingBytes(), 0u);
}

// A pipe tells where it ends only when it is read there: it opens with the
// declared length, and once read to its end it has the length, the chunks
// taken off and the samples of the file with the same bytes, whether the
// caller read none, some or all of its bytes first.
TEST(OverClaiming, PipeEndsWhereTheFileDoes) {
    for (const auto& c : OverClaims()) {
        for (size_t headBytes : {size_t(0), size_t(12), size_t(44), c.file.size()}) {
            SCOPED_TRACE(std::string(c.name) + ", head of " + std::to_string(headBytes));
            TempDir dir;
            CWave file;
            file.OpenWave(dir.Write("in.wav", c.file).c_str());
            std::vector<short> want(size_t(c.length) + 8, 1);
            file.LoadWaveShort(want.data(), int(want.size()), 0, 0);
            const bool all = headBytes == c.file.size();
            const int fd = all ? -1 : PipeOf(Bytes(c.file.begin() + long(headBytes), c.file.end()));
            ASSERT_TRUE(all || fd >= 0);
            CWave piped;
            const int declared = piped.OpenWaveFd(fd, CWave::kOpenPcm16, c.file.data(), headBytes);
            if (fd >= 0)
                close(fd);
            EXPECT_EQ(declared, int(std::min<uint64_t>(piped.GetDeclaredLength(), INT32_MAX)));
            std::vector<short> got(want.size(), 1);
            piped.LoadWaveShort(got.data(), int(got.size()), 0, 0);
            EXPECT_EQ(piped.GetSampleLength(), c.length);
            EXPECT_EQ(piped.GetTrailingBytes(), c.trailing);
            EXPECT_EQ(piped.GetLoadedFrames(), uint64_t(c.length));
            EXPECT_EQ(got, want);
            EXPECT_EQ(piped.SetPos(0), -1); // read once: it cannot go back
        }
    }
}

// A 24-bit frame of more than 21,845 channels is wider than one read run of
// the loaders (64 KiB): it is read sample by sample, whole, every channel
// counted in the mix.
TEST(WideFrames, MoreChannelsThanOneRunHolds) {
    for (uint16_t channels : {21846, 30000}) {
        SCOPED_TRACE(channels);
        Fmt f;
        f.bits = 24;
        f.channels = channels;
        Bytes body;
        for (int value : {1000, -2000, 300})
            for (int ch = 0; ch < channels; ++ch) {
                // The top 16 bits carry the value, every other channel's 2
                // more: the mean is 1 more, so every channel must count.
                const int v = value + (ch % 2) * 2;
                const uint32_t s = uint32_t(v) << 8 | 0x55;
                body.insert(body.end(), {uint8_t(s), uint8_t(s >> 8), uint8_t(s >> 16)});
            }
        TempDir dir;
        CWave w;
        ASSERT_EQ(
            w.OpenWave(dir.Write("wide.wav", Riff(Cat({FmtChunk(f), Chunk("data", body)}))).c_str(),
                       CWave::kOpenAnyWav),
            3);
        std::vector<short> got(4, 1);
        w.LoadWaveShort(got.data(), 4, 0, 0);
        EXPECT_EQ(got, (std::vector<short>{1001, -1999, 301, 0}));
        EXPECT_EQ(w.GetLoadedFrames(), 3u);
    }
}
