// The advice at the end of a run: one remedy per problem, --auto first, and
// never an option the run already used; --auto only where it would do better.
#include "RunTool.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace wavtest;

namespace {

constexpr int kFrames = 6 * 10240;

// A square wave of half-period 40 from block 1 on, in both channels or, out
// of phase, with the right one negated, so that the mix cancels.
Bytes Pulses(int amplitude, bool stereo, bool outOfPhase, uint32_t rate) {
    std::vector<int> v;
    for (int f = 0; f < kFrames; ++f) {
        const int s = f < 10240 ? 0 : (f / 40) % 2 ? -amplitude : amplitude;
        v.push_back(s);
        if (stereo)
            v.push_back(outOfPhase ? -s : s);
    }
    return Wav16(v, stereo ? 2 : 1, rate);
}

// Every option that standard error suggests ("try --auto", "--keep-rate
// keeps", "run with --any-wav"), once for each time it is suggested.
std::vector<std::string> Suggested(const std::string& err) {
    static const std::regex kOption(
        "(try|run with|with) (--[a-z-]+)|(--[a-z-]+) keeps|convert it with");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(err.begin(), err.end(), kOption);
         it != std::sregex_iterator(); ++it)
        found.push_back((*it)[2].matched   ? (*it)[2].str()
                        : (*it)[3].matched ? (*it)[3].str()
                                           : "a conversion");
    return found;
}

} // namespace

TEST(Remedy, OnePerProblemNeverTheOptionUsed) {
    const struct {
        const char* name;
        Bytes input;
        std::vector<std::string> options;
        std::vector<std::string> remedies; // in the order they are suggested
    } cases[] = {
        {"out of phase", Pulses(20000, true, true, 44100), {}, {"--auto"}},
        // The quiet-recording levels do not help a mix that cancels; the
        // run gets --auto, not the levels it already has.
        {"out of phase, with the quiet levels",
         Pulses(20000, true, true, 44100),
         {"--active=30%", "--switch=25%"},
         {"--auto"}},
        // A clean 48 kHz recording: the rate warning names --keep-rate, and
        // --auto is not suggested for the rate alone.
        {"clean at 48 kHz", Pulses(20000, false, false, 48000), {}, {"--keep-rate"}},
        {"clean at 48 kHz, rate kept", Pulses(20000, false, false, 48000), {"--keep-rate"}, {}},
        {"quiet pulses", Pulses(6000, false, false, 44100), {}, {"--auto"}},
        // Pulses under a level the run named: said, with no remedy.
        {"quiet pulses, levels named",
         Pulses(6000, false, false, 44100),
         {"--active=7000", "--switch=7000"},
         {}},
        // Silence: nothing that --auto would find either.
        {"silence", Wav16(std::vector<int>(kFrames, 0)), {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.Write("in.wav", c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-q", "in.wav", "out.wav"});
        const Result r = RunTool(dir.Dir(), args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Suggested(r.err), c.remedies) << r.err;
        for (const std::string& used : c.options)
            EXPECT_EQ(r.err.find(used.substr(0, used.find('='))), std::string::npos) << r.err;
    }
}
