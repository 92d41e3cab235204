// The advice at the end of a run: one remedy per problem, --auto first, and
// never an option the run already used; --auto only where it would do better.
#include "RunTool.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
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
// The option "--NAME" at `at`, or "" (NAME of lower-case letters and dashes).
std::string OptionAt(const std::string& text, size_t at) {
    if (text.compare(at, 2, "--") != 0)
        return "";
    size_t end = at + 2;
    while (end < text.size() &&
           (std::islower(static_cast<unsigned char>(text[end])) || text[end] == '-'))
        ++end;
    return end > at + 2 ? text.substr(at, end - at) : "";
}

std::vector<std::string> Suggested(const std::string& err) {
    std::vector<std::string> found;
    for (size_t i = 0; i < err.size(); ++i) {
        bool matched = false;
        for (const char* lead : {"try ", "run with ", "with "}) {
            const size_t n = std::strlen(lead);
            const std::string option = err.compare(i, n, lead) == 0 ? OptionAt(err, i + n) : "";
            if (!option.empty()) {
                found.push_back(option);
                i += n + option.size() - 1;
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        const std::string option = OptionAt(err, i);
        if (!option.empty() && err.compare(i + option.size(), 6, " keeps") == 0) {
            found.push_back(option);
            i += option.size() + 5;
        } else if (err.compare(i, 15, "convert it with") == 0) {
            found.push_back("a conversion");
            i += 14;
        }
    }
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
