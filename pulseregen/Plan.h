// What a run regenerates, decided from the recording: the verdict on each
// block, the span, the levels (resolved from what the options gave) and the
// baseline window; and, once a run without --auto is over, the signs that
// --auto would have fitted the recording better.
#pragma once

#include "Options.h"
#include "Settings.h"
#include "Wave.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace regen {
class Held;
}

namespace plan {

struct Plan {
    std::vector<unsigned char> active; // one verdict per block judged
    regen::Span span;
    regen::Settings settings; // the options' settings, levels resolved
    int window = 0;           // the baseline window taken out first; 0 for none
    bool drowned = false;     // --auto: the noise on the pulses leaves no gap to switch in
};

// The fixed way: block 0 and the trailing part block are never judged, the
// others by their peak magnitude; verdicts on standard output unless quiet.
// Empty when the input cannot be positioned at its first sample.
std::optional<Plan> PlanByPeaks(CWave& in, short* block, int blocks, const options::Options& opt);
// Whether the levels are known before the recording is read (sample
// values, no baseline, no --auto), so that one read judges and regenerates.
bool InOneRead(const options::Options& opt);
// The fixed way in one read (InOneRead): the plan as PlanByPeaks makes it,
// the span regenerated into `out` as it is found, and the level it ends on.
// Empty, with errno set, on a failed seek or when `held` cannot keep the
// blocks held back (held.Failed() then tells). A `streamed` input (a pipe)
// tells its length only at its end, which it is read to: the report (the
// length and the verdicts) is printed then, unless a read failed.
std::optional<std::pair<Plan, short>>
PlanAndRegenerate(CWave& in, CWave& out, short* block, int blocks, const options::Options& opt,
                  regen::Held& held, std::vector<regen::Crossings>& crossings, bool streamed);
// The report's first line.
void PrintLength(CWave& in);
// --auto: every block judged by its swings; what no option named is chosen
// from the recording and said in one line; the span widened by a block at
// each end. Empty on a failed seek. `beside`, where given, is a second
// reader of the input, which reads part of it meanwhile.
std::optional<Plan> PlanBySwings(CWave& in, const options::Options& opt, CWave* beside);

// Ends a run without --auto that shows the signs that the fixed choices do
// not fit the recording with one line suggesting it. `crossings` has one
// record per block of the span. The signs that need the recording read
// again are looked for only where it can be (`reread`).
void SuggestAuto(CWave& in, const options::Options& opt, const Plan& plan,
                 const std::vector<regen::Crossings>& crossings, bool reread);

} // namespace plan
