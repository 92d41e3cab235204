// The loaders decode whole runs of file bytes at a time. Here they are
// compared, load by load and element by element, with a slow reader that
// takes one sample per stdio call, on files of several channel counts and
// both sample widths, with request sizes on both sides of a run and files
// that end inside a frame or inside a sample.
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

// Reads sample by sample from wherever its stream stands: one fgetc per
// 8-bit sample, one 2-byte fread per 16-bit sample. When a sample cannot be
// read, that frame and every later one of the request are zeros.
class SlowReader {
  public:
    SlowReader(const std::string& path, long start, unsigned channels, unsigned bits)
        : fp_(std::fopen(path.c_str(), "rb")), channels_(channels), bits_(bits) {
        if (!fp_ || std::fseek(fp_, start, SEEK_SET) != 0)
            ADD_FAILURE() << "cannot open " << path;
    }
    ~SlowReader() {
        if (fp_)
            std::fclose(fp_);
    }
    SlowReader(const SlowReader&) = delete;
    SlowReader& operator=(const SlowReader&) = delete;

    std::vector<short> Load(int frames, int stereo, int interleaved) {
        const size_t n = size_t(frames);
        std::vector<short> out(stereo ? 2 * n : n, short(0x2B2B));
        for (size_t i = 0; i < n; ++i) {
            int64_t sum = 0;
            for (unsigned j = 0; j < channels_; ++j) {
                int v;
                if (!Sample(v)) {
                    ZeroFrom(out, n, i, stereo, interleaved);
                    return out;
                }
                if (stereo && channels_ == 2)
                    out[interleaved ? 2 * i + j : j * n + i] = short(v);
                else
                    sum += v;
            }
            if (stereo && channels_ == 2)
                continue;
            const short mixed = channels_ ? short(sum / int64_t(channels_)) : 0;
            if (!stereo) {
                out[i] = mixed;
            } else if (interleaved) {
                out[2 * i] = out[2 * i + 1] = mixed;
            } else {
                out[i] = out[n + i] = mixed;
            }
        }
        return out;
    }

  private:
    bool Sample(int& v) {
        if (bits_ <= 8) {
            const int c = std::fgetc(fp_);
            if (c == EOF)
                return false;
            v = (c - 128) * 256;
            return true;
        }
        unsigned char b[2];
        if (std::fread(b, 1, 2, fp_) != 2)
            return false;
        v = int16_t(uint16_t(b[0] | b[1] << 8));
        return true;
    }

    static void ZeroFrom(std::vector<short>& out, size_t n, size_t from, int stereo,
                         int interleaved) {
        for (size_t k = from; k < n; ++k) {
            if (!stereo) {
                out[k] = 0;
            } else if (interleaved) {
                out[2 * k] = out[2 * k + 1] = 0;
            } else {
                out[k] = out[n + k] = 0;
            }
        }
    }

    FILE* fp_;
    unsigned channels_;
    unsigned bits_;
};

// Both vectors have the same size.
long FirstDifference(const std::vector<short>& a, const std::vector<short>& b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return long(i);
    return -1;
}

enum Tail { kWholeFrames, kMidFrame, kMidSample };

} // namespace

TEST(LoaderEquivalence, MatchesSampleBySampleReading) {
    // Requests below, at and above one run of the loaders' buffer; the data
    // ends inside the seventh, and later requests find nothing.
    constexpr int kRun = int(CWave::kIoBytes);
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
        {"planar", 1, 0, true},
    };

    std::mt19937 random(20240611u);
    TempDir dir;
    for (uint16_t channels : {0, 1, 2, 3, 5}) {
        for (uint16_t bits : {16, 8}) {
            for (Tail tail : {kWholeFrames, kMidFrame, kMidSample}) {
                if (tail == kMidSample && bits == 8)
                    continue; // a one-byte sample cannot be cut
                const size_t sampleBytes = bits / 8;
                size_t size = size_t(kDataFrames) * channels * sampleBytes;
                if (tail == kMidFrame && channels > 1)
                    size -= sampleBytes;
                if (tail == kMidSample)
                    size += sampleBytes == 2 ? 1 : 0;
                Bytes data(size);
                for (unsigned char& b : data)
                    b = uint8_t(random());
                Fmt fmt;
                fmt.channels = channels;
                fmt.bits = bits;
                const Bytes file = Riff(Cat({FmtChunk(fmt), Chunk("data", data)}));
                const std::string path = dir.Write("in.wav", file);
                for (const auto& mode : modes) {
                    SCOPED_TRACE(::testing::Message()
                                 << channels << " channels, " << bits << " bits, tail " << tail
                                 << ", " << mode.name);
                    CWave wave;
                    const int opened = wave.OpenWave(path.c_str());
                    // 8-bit files are refused right after the format chunk,
                    // with the stream left attached there.
                    const long start = bits == 16 ? 44 : 36;
                    if (bits == 16)
                        ASSERT_EQ(opened, channels ? int(size / channels / 2) : 0);
                    else
                        ASSERT_EQ(opened, -1);
                    SlowReader slow(path, start, channels, bits);
                    int load = 0;
                    for (int frames : requests) {
                        SCOPED_TRACE(::testing::Message() << "load " << load++ << " of " << frames);
                        std::vector<short> fast(size_t(frames) * (mode.stereo ? 2 : 1),
                                                short(0x4C4C));
                        if (mode.viaStereoCall)
                            wave.LoadWaveShortStereo(fast.data(), frames, mode.interleaved);
                        else
                            wave.LoadWaveShort(fast.data(), frames, mode.stereo, mode.interleaved);
                        const std::vector<short> expected =
                            slow.Load(frames, mode.stereo, mode.interleaved);
                        const long at = FirstDifference(fast, expected);
                        ASSERT_EQ(at, -1) << "element " << at << ": " << fast[size_t(at)]
                                          << " instead of " << expected[size_t(at)];
                    }
                }
            }
        }
    }
}
