// The loaders decode whole runs of file bytes at a time, with loops fixed
// at one and two channels. Here they are compared, load by load and element
// by element, with the reader model that takes one sample at a time, on
// files of several channel counts and both sample widths, with request sizes
// on both sides of a run and files that end inside a frame or inside a
// sample, or have a chunk after the data.
#include "Decode.h"
#include "WavBytes.h"
#include "Wave.h"
#include "WaveModel.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <unistd.h>
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
// sample and one byte of the next; a list chunk after the data, which the
// loaders must not read as samples.
enum Tail { kWholeFrames, kMidFrame, kMidSample, kMidSecondSample, kChunkAfter };

// A pipe that a thread fills with `bytes` (none when null), for as long as
// its reader takes them.
class Piped {
  public:
    explicit Piped(const Bytes* bytes) {
        if (!bytes)
            return;
        signal(SIGPIPE, SIG_IGN); // a reader that stops early ends the writing
        if (pipe(m_ends) != 0)
            return;
        m_writer = std::thread([this, bytes] {
            for (size_t done = 0; done < bytes->size();) {
                const ssize_t n = write(m_ends[1], bytes->data() + done, bytes->size() - done);
                if (n <= 0)
                    break;
                done += size_t(n);
            }
            close(m_ends[1]);
        });
    }
    ~Piped() {
        if (m_ends[0] >= 0)
            close(m_ends[0]);
        if (m_writer.joinable())
            m_writer.join();
    }
    int Fd() const { return m_ends[0]; }

  private:
    int m_ends[2] = {-1, -1};
    std::thread m_writer;
};

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

    std::mt19937 random(20240611u);
    TempDir dir;
    for (uint16_t channels : {0, 1, 2, 3, 5}) {
        for (uint16_t bits : {16, 8}) {
            for (Tail tail : {kWholeFrames, kMidFrame, kMidSample, kMidSecondSample, kChunkAfter}) {
                if ((tail == kMidSample || tail == kMidSecondSample) && bits == 8)
                    continue; // a one-byte sample cannot be cut
                if (tail == kMidSecondSample && channels < 2)
                    continue;
                const size_t sampleBytes = bits / 8;
                size_t size = size_t(kDataFrames) * channels * sampleBytes;
                if (tail == kMidFrame && channels > 1)
                    size -= sampleBytes;
                if (tail == kMidSample)
                    size += 1;
                if (tail == kMidSecondSample)
                    size += sampleBytes + 1;
                const Bytes data = RandomBytes(size, random());
                Fmt fmt;
                fmt.channels = channels;
                fmt.bits = bits;
                Bytes file = Riff(Cat({FmtChunk(fmt), Chunk("data", data)}));
                if (tail == kChunkAfter)
                    file = Cat({file, Chunk("LIST", RandomBytes(993, random()))});
                const std::string path = dir.Write("in.wav", file);
                for (const auto& mode : modes) {
                    for (const bool piped : {false, true}) {
                        SCOPED_TRACE(::testing::Message()
                                     << channels << " channels, " << bits << " bits, tail " << tail
                                     << ", " << mode.name << (piped ? ", piped" : ""));
                        // A file is read through a stream that seeks, a pipe through the
                        // stream; the pipe outlives the reader of its duplicate.
                        Piped source(piped ? &file : nullptr);
                        CWave wave;
                        const int opened =
                            piped ? wave.OpenWaveFd(source.Fd()) : wave.OpenWave(path.c_str());
                        // 8-bit files are refused right after the format chunk,
                        // with the stream left attached there.
                        const long start = bits == 16 ? 44 : 36;
                        if (bits == 16)
                            ASSERT_EQ(opened, channels ? int(size / channels / 2) : 0);
                        else
                            ASSERT_EQ(opened, -1);
                        const model::Open open = model::WalkHeader(file.data(), file.size());
                        ASSERT_EQ(open.pos, start);
                        model::Reader reference(file.data(), file.size(), open);
                        int load = 0;
                        for (int frames : requests) {
                            SCOPED_TRACE(::testing::Message()
                                         << "load " << load++ << " of " << frames);
                            const std::vector<short> expected = model::Shorts(
                                reference.Load(frames, mode.stereo != 0, mode.interleaved != 0));
                            // Two guard elements past the request must stay untouched.
                            std::vector<short> fast(expected.size() + 2, short(0x4C4C));
                            if (mode.viaStereoCall)
                                wave.LoadWaveShortStereo(fast.data(), frames, mode.interleaved);
                            else
                                wave.LoadWaveShort(fast.data(), frames, mode.stereo,
                                                   mode.interleaved);
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
}
