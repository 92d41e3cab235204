// The default run reads its input once: blocks after the last active one
// wait until a later block is active, in memory and, past a few MiB, under
// $TMPDIR. A quiet gap of more than a minute between two bursts is the case
// that uses both, and a $TMPDIR that cannot take the file fails the run
// instead of losing the gap.
#include "RunModel.h"
#include "RunTool.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace wavtest;

namespace {

constexpr int kBlock = model::kBlockFrames;

// `blocks` blocks of a square wave of `amplitude`, half-period `period`.
void AppendSquare(std::vector<int>& v, int blocks, int amplitude, int period) {
    for (size_t i = 0; i < size_t(blocks) * kBlock; ++i)
        v.push_back((i / size_t(period)) % 2 ? -amplitude : amplitude);
}

} // namespace

TEST(OneRead, QuietGapOfMoreThanAMinuteIsKeptWhole) {
    // Bursts at +-20,000 (active) around a gap of 260 blocks (60 s) at
    // +-9,000: never active, yet it flips the switch, so every sample of the
    // gap in the output tells whether it was kept in order.
    std::vector<int> samples(3 * kBlock, 0);
    AppendSquare(samples, 3, 20000, 40);
    AppendSquare(samples, 260, 9000, 23);
    AppendSquare(samples, 3, 20000, 31);
    AppendSquare(samples, 30, 9000, 17); // after the last active block: dropped
    const model::Run run = model::Regenerate(samples, model::Settings{});
    const uint32_t bytes = uint32_t(run.samples.size() * 2);
    Bytes want = Header44(1, 44100, 88200, 2, 16, bytes + 36, bytes);
    for (short s : run.samples)
        Put16(want, uint16_t(s));

    TempDir dir;
    dir.Write("in.wav", Wav16(samples));
    ASSERT_EQ(mkdir(dir.Path("tmp").c_str(), 0700), 0);
    const struct {
        const char* tmpdir;
        int status;
    } cases[] = {{"tmp", 0}, {"missing", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpdir);
        setenv("TMPDIR", dir.Path(c.tmpdir).c_str(), 1);
        const Result r = RunTool(dir.Dir(), {"in.wav", "out.wav"});
        unsetenv("TMPDIR");
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 0) {
            EXPECT_EQ(r.out, run.report);
            EXPECT_EQ(FileText(dir.Path("out.wav")), std::string(want.begin(), want.end()));
        } else {
            // The verdicts came as the blocks were read; the output never.
            EXPECT_NE(r.err.find(dir.Path("missing") + ": No such file or directory"),
                      std::string::npos)
                << r.err;
            struct stat st;
            EXPECT_NE(stat(dir.Path("out.wav").c_str(), &st), 0);
        }
        unlink(dir.Path("out.wav").c_str());
    }
}
