// Writing side of CWave: the header, the appends, finalisation and the
// refusals.
#include "WavBytes.h"
#include "Wave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

std::vector<short> Pattern(int n, int seed) {
    std::vector<short> v;
    for (int i = 0; i < n; ++i)
        v.push_back(short(uint16_t(uint32_t(i + seed) * 40503u)));
    return v;
}

Bytes Le(const std::vector<short>& v) {
    Bytes b;
    for (short s : v)
        Put16(b, uint16_t(s));
    return b;
}

} // namespace

TEST(OutputWave, HeaderFieldsFromFormat) {
    const struct {
        const char* name;
        bool null;
        CWave::tOutputWaveFormat format;
        Bytes header;
    } cases[] = {
        {"default", true, {}, Header44(2, 44100, 4 * 44100, 4, 16, 0, 0)},
        {"tool", false, {44100, 2, 1}, Header44(1, 44100, 2 * 44100, 2, 16, 0, 0)},
        {"8-bit stereo", false, {8000, 1, 2}, Header44(2, 8000, 2 * 8000, 2, 8, 0, 0)},
        {"8-bit mono", false, {22050, 1, 1}, Header44(1, 22050, 22050, 1, 8, 0, 0)},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path("out.wav");
        CWave::tOutputWaveFormat format = c.format;
        {
            CWave w;
            ASSERT_EQ(w.OutputWave(path.c_str(), c.null ? nullptr : &format), 0);
        } // destroyed without finalising: both sizes stay 0
        EXPECT_EQ(ReadFile(path), c.header);
    }
}

TEST(OutputWave, FinalizeDeclaresExactlyTheFramesAppended) {
    enum Kind { kMono, kStereo };
    struct Append {
        Kind kind;
        int count;
    };
    const struct {
        const char* name;
        CWave::tOutputWaveFormat format;
        std::vector<Append> appends;
        uint32_t dataSize;
    } cases[] = {
        {"tool, none", {44100, 2, 1}, {}, 0},
        {"tool, one block", {44100, 2, 1}, {{kMono, 10240}}, 20480},
        {"tool, two appends", {44100, 2, 1}, {{kMono, 3}, {kMono, 40000}}, 80006},
        {"stereo from mono", {44100, 2, 2}, {{kMono, 3}}, 12},
        {"stereo from mono, long", {44100, 2, 2}, {{kMono, 40000}}, 160000},
        {"stereo pairs", {44100, 2, 2}, {{kStereo, 3}, {kStereo, 20000}}, 80012},
        {"mixed appends", {44100, 2, 2}, {{kStereo, 2}, {kMono, 2}}, 16},
        {"8-bit mono", {8000, 1, 1}, {{kMono, 5}}, 5},
        {"8-bit stereo from mono", {8000, 1, 2}, {{kMono, 40001}}, 80002},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path("out.wav");
        CWave::tOutputWaveFormat format = c.format;
        const bool narrow = format.bytesPerSample != 2;
        Bytes samples;
        CWave w;
        ASSERT_EQ(w.OutputWave(path.c_str(), &format), 0);
        int seed = 0;
        for (const Append& a : c.appends) {
            std::vector<short> left = Pattern(a.count, seed++);
            std::vector<short> right = Pattern(a.count, seed++);
            if (a.kind == kStereo) {
                ASSERT_EQ(w.OutputWaveFrameByStereo(left.data(), right.data(), a.count), 0);
                for (size_t i = 0; i < left.size(); ++i) {
                    Put16(samples, uint16_t(left[i]));
                    Put16(samples, uint16_t(right[i]));
                }
                continue;
            }
            if (narrow) {
                Bytes bytes(left.size());
                for (size_t i = 0; i < bytes.size(); ++i)
                    bytes[i] = uint8_t(left[i]);
                ASSERT_EQ(w.OutputWaveFrameByMono(bytes.data(), a.count), 0);
                for (unsigned char b : bytes)
                    samples.insert(samples.end(), format.channels == 2 ? 2 : 1, b);
            } else {
                ASSERT_EQ(w.OutputWaveFrameByMono(left.data(), a.count), 0);
                for (short s : left)
                    for (int k = 0; k < (format.channels == 2 ? 2 : 1); ++k)
                        Put16(samples, uint16_t(s));
            }
        }
        ASSERT_EQ(w.OutputWaveFinalize(), 0);
        // An odd data chunk is followed by a zero pad byte that only the RIFF
        // size counts.
        const uint32_t pad = c.dataSize % 2;
        samples.insert(samples.end(), pad, 0);
        const Bytes file = ReadFile(path);
        ASSERT_EQ(file.size(), 44 + samples.size());
        EXPECT_EQ(Get32(file, 4), c.dataSize + 36 + pad);
        EXPECT_EQ(Get32(file, 40), c.dataSize);
        EXPECT_TRUE(Bytes(file.begin() + 44, file.end()) == samples);
        EXPECT_EQ(w.OutputWaveFinalize(), -1);
        EXPECT_EQ(w.OutputWaveFrameByMono(samples.data(), 1), -1);
    }
}

TEST(OutputWave, FormatsItCannotWriteRefused) {
    // The appends write 1 or 2 bytes per sample and 1 or 2 samples per frame.
    const CWave::tOutputWaveFormat formats[] = {
        {48000, 2, 6}, {44100, 2, 3}, {44100, 2, 0}, {44100, 3, 1}, {44100, 0, 2}, {44100, 4, 2},
    };
    TempDir dir;
    for (CWave::tOutputWaveFormat format : formats) {
        SCOPED_TRACE(std::to_string(format.bytesPerSample) + "x" + std::to_string(format.channels));
        CWave w;
        EXPECT_EQ(w.OutputWave(dir.Path("out.wav").c_str(), &format), -1);
        EXPECT_FALSE(Exists(dir.Path("out.wav")));
        EXPECT_EQ(w.OutputWaveFinalize(), -1);
    }
}

TEST(OutputWave, StereoAppendChecksInOrder) {
    const struct {
        const char* name;
        bool open;
        CWave::tOutputWaveFormat format;
        int result;
    } cases[] = {
        {"idle", false, {44100, 2, 2}, -1},
        {"mono", true, {44100, 2, 1}, -2},
        {"mono 8-bit", true, {44100, 1, 1}, -2},
        {"stereo 8-bit", true, {44100, 1, 2}, -3},
    };
    TempDir dir;
    short left[2] = {1, 2}, right[2] = {3, 4};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path("out.wav");
        CWave::tOutputWaveFormat format = c.format;
        CWave w;
        if (c.open) {
            ASSERT_EQ(w.OutputWave(path.c_str(), &format), 0);
        }
        EXPECT_EQ(w.OutputWaveFrameByStereo(left, right, 2), c.result);
        if (c.open) {
            ASSERT_EQ(w.OutputWaveFinalize(), 0);
            const Bytes file = ReadFile(path);
            EXPECT_EQ(file.size(), 44u);
            EXPECT_EQ(Get32(file, 40), 0u);
        }
    }
    CWave idle;
    EXPECT_EQ(idle.OutputWaveFrameByMono(left, 2), -1);
    EXPECT_EQ(idle.OutputWaveFinalize(), -1);
}

TEST(OutputWave, SecondOutputWaveLeavesFirstIntact) {
    TempDir dir;
    const std::string first = dir.Path("first.wav");
    const std::string second = dir.Path("second.wav");
    const std::vector<short> a = Pattern(5, 1), b = Pattern(7, 2);
    CWave::tOutputWaveFormat format{44100, 2, 1};
    CWave w;
    ASSERT_EQ(w.OutputWave(first.c_str(), &format), 0);
    ASSERT_EQ(w.OutputWaveFrameByMono(const_cast<short*>(a.data()), 5), 0);
    EXPECT_EQ(w.OutputWave(second.c_str(), nullptr), -1);
    EXPECT_FALSE(Exists(second));
    ASSERT_EQ(w.OutputWaveFrameByMono(const_cast<short*>(b.data()), 7), 0);
    ASSERT_EQ(w.OutputWaveFinalize(), 0);
    EXPECT_EQ(ReadFile(first), Cat({Header44(1, 44100, 88200, 2, 16, 24 + 36, 24), Le(a), Le(b)}));
}

TEST(OutputWave, ReadingObjectRefusesWriting) {
    TempDir dir;
    const Bytes input = Wav16({11, 22, 33, 44});
    const std::string path = dir.Write("in.wav", input);
    CWave w;
    ASSERT_EQ(w.OpenWave(path.c_str()), 4);
    short s[2] = {-1, -1};
    EXPECT_EQ(w.OutputWave(dir.Path("out.wav").c_str(), nullptr), -1);
    EXPECT_FALSE(Exists(dir.Path("out.wav")));
    EXPECT_EQ(w.OutputWaveFrameByMono(s, 2), -1);
    EXPECT_EQ(w.OutputWaveFrameByStereo(s, s, 2), -1);
    EXPECT_EQ(w.OutputWaveFinalize(), -1);
    short got[4] = {};
    w.LoadWaveShort(got, 4, 0, 0); // still reading from the first sample
    EXPECT_EQ(std::vector<short>(got, got + 4), (std::vector<short>{11, 22, 33, 44}));
    w.CloseWave();
    EXPECT_EQ(ReadFile(path), input);
}

TEST(OutputWave, WritingObjectIgnoresPositionsAndLoads) {
    TempDir dir;
    const std::string path = dir.Path("out.wav");
    const std::vector<short> a = Pattern(3, 9);
    CWave::tOutputWaveFormat format{44100, 2, 1};
    CWave w;
    ASSERT_EQ(w.OutputWave(path.c_str(), &format), 0);
    ASSERT_EQ(w.OutputWaveFrameByMono(const_cast<short*>(a.data()), 3), 0);
    EXPECT_EQ(w.SetPos(0), -1);
    w.SetTopPage();
    w.SetPrevPage();
    w.SetNextPage();
    std::vector<short> got(8, 0x5A5A);
    w.LoadWaveShort(got.data(), 4, 1, 0);
    EXPECT_EQ(got, std::vector<short>(8, 0));
    ASSERT_EQ(w.OutputWaveFinalize(), 0);
    EXPECT_EQ(ReadFile(path), Cat({Header44(1, 44100, 88200, 2, 16, 6 + 36, 6), Le(a)}));
}

// The reason is this open's, not a stale errno's.
TEST(OutputWave, UncreatableFileRefused) {
    TempDir dir;
    const std::string folder = dir.Dir(), missing = dir.Path("missing/out.wav");
    const struct {
        const char* path;
        int error;
    } cases[] = {{folder.c_str(), EISDIR}, {missing.c_str(), ENOENT}, {nullptr, EINVAL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "null path");
        CWave w;
        errno = EIO;
        EXPECT_EQ(w.OutputWave(c.path, nullptr), -1);
        EXPECT_EQ(w.GetWriteErrno(), c.error);
        EXPECT_EQ(w.OutputWaveFinalize(), -1);
    }
}

TEST(OutputWave, WriteFailureReportedByFinalize) {
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    std::vector<short> block = Pattern(10240, 3);
    CWave w;
    ASSERT_EQ(w.OutputWave("/dev/full", nullptr), 0);
    EXPECT_EQ(w.OutputWaveFrameByMono(block.data(), 10240), 0);
    EXPECT_EQ(w.OutputWaveFinalize(), -2);
    EXPECT_EQ(w.GetWriteErrno(), ENOSPC);
    EXPECT_EQ(w.OutputWaveFinalize(), -1); // closed and idle all the same
    // A failed file does not taint the next one.
    const std::string path = dir.Path("out.wav");
    CWave::tOutputWaveFormat format{44100, 2, 1};
    ASSERT_EQ(w.OutputWave(path.c_str(), &format), 0);
    EXPECT_EQ(w.OutputWaveFinalize(), 0);
    EXPECT_EQ(w.GetWriteErrno(), 0);
    EXPECT_EQ(ReadFile(path), Header44(1, 44100, 88200, 2, 16, 36, 0));
}
