// The loaders decode whole runs of file bytes at a time, with loops fixed
// at one and two channels, converting the samples of the any-WAV mode to 16
// bits run by run. Here they are compared, load by load and element by
// element, with the reader model that takes one sample at a time, on files
// of several channel counts and sample formats, with request sizes on both
// sides of a run and files that end inside a frame or inside a sample, or
// have a chunk after the data.
#include "Decode.h"
#include "WavBytes.h"
#include "Wave.h"
#include "WaveModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

// Both vectors have the same size.
long FirstDifference(const std::vector<short>& a, const std::vector<short>& b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return long(i);
    return -1;
}

// How the file goes on after the whole frames of its data chunk: not at all;
// one sample short of a further frame; one byte of a further sample; a whole
// sample and one byte of the next; a list chunk that the loaders read on
// into as samples (an odd number of bytes, so it ends inside a sample).
enum Tail { kWholeFrames, kMidFrame, kMidSample, kMidSecondSample, kChunkAfter };

} // namespace

TEST(LoaderEquivalence, MatchesSampleBySampleReading) {
    // Requests below, at and above one run of the loaders' buffer; the data
    // ends inside the seventh, and later requests find nothing.
    constexpr int kRun = int(wav::kIoBytes);
    constexpr int kDataFrames = kRun * 9 / 4 + 1234;
    const int requests[] = {
        1, 3, kRun / 2, kRun / 2 + 1, kRun * 5 / 8, kRun / 4 + 1, kRun + 1, 5, kRun * 3 / 2, 7};
    const struct {
        const char* name;
        int stereo, interleaved;
        bool viaStereoCall;
    } modes[] = {
        {"mono", 0, 0, false},
        {"interleaved", 1, 1, false},
        {"planar", 1, 0, false},
        {"planar by the stereo loader", 1, 0, true},
    };

    // The sample formats: the 16-bit reader's two, then what only the
    // any-WAV mode reads (random bytes make every float value, NaN included).
    const struct {
        const char* name;
        uint16_t tag, bits;
        unsigned container; // bytes of each sample in the file
        bool anyWav;
    } formats[] = {
        {"16-bit", 1, 16, 2, false}, {"8-bit", 1, 8, 1, false},         {"24-bit", 1, 24, 3, true},
        {"32-bit", 1, 32, 4, true},  {"24 in 4 bytes", 1, 24, 4, true}, {"float", 3, 32, 4, true},
        {"double", 3, 64, 8, true},
    };
    std::mt19937 random(20240611u);
    TempDir dir;
    for (uint16_t channels : {0, 1, 2, 3, 5}) {
        for (const auto& format : formats) {
            const uint16_t bits = format.bits;
            for (Tail tail : {kWholeFrames, kMidFrame, kMidSample, kMidSecondSample, kChunkAfter}) {
                if ((tail == kMidSample || tail == kMidSecondSample) && format.container == 1)
                    continue; // a one-byte sample cannot be cut
                if (tail == kMidSecondSample && channels < 2)
                    continue;
                if (format.anyWav && channels > 3)
                    continue; // the conversion is the same for any channel count
                const size_t sampleBytes = format.container;
                size_t size = size_t(kDataFrames) * channels * sampleBytes;
                if (tail == kMidFrame && channels > 1)
                    size -= sampleBytes;
                if (tail == kMidSample)
                    size += 1;
                if (tail == kMidSecondSample)
                    size += sampleBytes + 1;
                const Bytes data = RandomBytes(size, random());
                Fmt fmt;
                fmt.tag = format.tag;
                fmt.channels = channels;
                fmt.bits = bits;
                fmt.blockAlign = int32_t(channels * format.container);
                Bytes file = Riff(Cat({FmtChunk(fmt), Chunk("data", data)}));
                if (tail == kChunkAfter)
                    file = Cat({file, Chunk("LIST", RandomBytes(993, random()))});
                const std::string path = dir.Write("in.wav", file);
                for (const auto& mode : modes) {
                    SCOPED_TRACE(::testing::Message() << channels << " channels, " << format.name
                                                      << ", tail " << tail << ", " << mode.name);
                    CWave wave;
                    const int opened = wave.OpenWave(
                        path.c_str(), format.anyWav ? CWave::kOpenAnyWav : CWave::kOpenPcm16);
                    // 8-bit files are refused by the 16-bit reader right after
                    // the format chunk, with the stream left attached there.
                    const bool refused = !format.anyWav && bits == 8;
                    if (refused) {
                        ASSERT_EQ(opened, -1);
                    } else if (channels > 0) {
                        ASSERT_EQ(opened, int(size / channels / format.container));
                    }
                    const model::Open open = format.anyWav
                                                 ? model::WalkAnyHeader(file.data(), file.size())
                                                 : model::WalkHeader(file.data(), file.size());
                    ASSERT_EQ(open.pos, refused ? 36 : 44);
                    model::Reader reference(file.data(), file.size(), open);
                    int load = 0;
                    for (int frames : requests) {
                        SCOPED_TRACE(::testing::Message() << "load " << load++ << " of " << frames);
                        const std::vector<short> expected = model::Shorts(
                            reference.Load(frames, mode.stereo != 0, mode.interleaved != 0));
                        // Two guard elements past the request must stay untouched.
                        std::vector<short> fast(expected.size() + 2, short(0x4C4C));
                        if (mode.viaStereoCall)
                            wave.LoadWaveShortStereo(fast.data(), frames, mode.interleaved);
                        else
                            wave.LoadWaveShort(fast.data(), frames, mode.stereo, mode.interleaved);
                        EXPECT_EQ(fast[expected.size()], short(0x4C4C));
                        EXPECT_EQ(fast[expected.size() + 1], short(0x4C4C));
                        fast.resize(expected.size());
                        const long at = FirstDifference(fast, expected);
                        ASSERT_EQ(at, -1) << "element " << at << ": " << fast[size_t(at)]
                                          << " instead of " << expected[size_t(at)];
                    }
                }
            }
        }
    }
}
