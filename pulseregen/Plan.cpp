// The verdicts go to standard output as the plan is made; the choices and
// warnings, one line each, to standard error.
#include "Plan.h"

#include "Activity.h"
#include "Analysis.h"
#include "Diagnostics.h"
#include "Flips.h"
#include "Held.h"
#include "Judged.h"
#include "Passes.h"
#include "Probe.h"
#include "PulseTrain.h"

#include <cstdio>
#include <string>

namespace plan {

namespace {

// Imposed text: scripts that read the verdicts rely on it.
void PrintVerdict(size_t block, bool valid) {
    printf("%zu: %s\n", block, valid ? "Valid" : "Invalid");
}

void PrintVerdicts(const std::vector<unsigned char>& active, size_t from, size_t to = SIZE_MAX) {
    for (size_t b = from; b < active.size() && b < to; ++b)
        PrintVerdict(b, active[b]);
}

// The activity pass. With a sample-value level each verdict is printed as
// its block is judged, and a block's examination can stop at the first
// sample beyond it (the loudest magnitude, reported when no block is
// active, is then still exact); a percentage waits for the recording's
// exact peak. Empty when the input cannot be positioned at its first sample.
std::optional<regen::Scan> JudgeBlocks(CWave& in, short* block, int blocks,
                                       const options::Options& opt) {
    const bool printNow = !opt.quiet && !opt.active.percent;
    const int activeAbove = opt.active.value;
    const bool exact = opt.active.percent || opt.switchAt.percent;
    return regen::ScanActivity(in, block, blocks, opt.settings.channel,
                               exact ? regen::kExactPeaks : activeAbove, [&](int b, int peak) {
                                   if (printNow)
                                       PrintVerdict(size_t(b), peak > activeAbove);
                               });
}

// A file that ended before its declared length was read as silence there.
void WarnIfEnded(const options::Options& opt, CWave& in, bool ended, uint64_t framesRead) {
    if (ended && in.GetReadErrno() == 0) // a failed read is not the file's end
        diag::Say(diag::ShortData(opt.input, uint64_t(in.GetSampleLength()), framesRead));
}

// What the tracked levels start from and hold through: a height that
// leaves the whole gap at first, and a pause as the baseline window sets it.
void Follow(Plan& plan) {
    plan.settings.height = 2 * plan.settings.switchAbove;
    plan.settings.pause = regen::PauseFor(plan.window);
}

// Lines up and weighs the two channels of a stereo recording, or takes
// one alone where the other adds little but noise. False on a failed seek.
bool Pair(CWave& in, const std::vector<unsigned char>& active, regen::Settings& settings) {
    const int maxLag =
        int(int64_t(in.GetFormatChunk().sampleRate) * regen::kMaxLagMicroseconds / 1000000) + 1;
    const std::optional<regen::Pairing> pairing = regen::ProbePairing(in, active, maxLag);
    if (!pairing)
        return false;
    if (pairing->balance >= regen::kAlone || pairing->balance <= 100 - regen::kAlone) {
        settings.channel =
            pairing->balance >= regen::kAlone ? regen::Channel::kLeft : regen::Channel::kRight;
        return true;
    }
    settings.channel = pairing->sign < 0 ? regen::Channel::kDiff : regen::Channel::kMix;
    settings.lag = pairing->lag;
    settings.balance = pairing->balance;
    return true;
}

} // namespace

std::optional<Plan> PlanByPeaks(CWave& in, short* block, int blocks, const options::Options& opt) {
    const std::optional<regen::Scan> scan = JudgeBlocks(in, block, blocks, opt);
    if (!scan)
        return std::nullopt;
    Plan plan;
    plan.settings = opt.settings;
    plan.settings.activeAbove = opt.active.Resolve(scan->peak);
    plan.settings.switchAbove = opt.switchAt.Resolve(scan->peak);
    WarnIfEnded(opt, in, scan->ended, scan->framesRead);
    plan.active = regen::Judge(scan->peaks, plan.settings.activeAbove);
    if (!opt.quiet && opt.active.percent)
        PrintVerdicts(plan.active, 1);
    plan.span = regen::FindSpan(plan.active);
    if (plan.span.first < 0 && blocks > 1)
        diag::Say(diag::NoActiveBlock(opt.input, scan->peak, plan.settings.activeAbove));
    plan.window = opt.baseline > 0 ? opt.baseline : regen::kNoWindow;
    plan.settings.smooth = opt.smooth > 0 ? opt.smooth : 1;
    plan.settings.follow = opt.follow > 0 ? opt.follow : 0;
    Follow(plan);
    return plan;
}

bool InOneRead(const options::Options& opt) {
    return !opt.automatic && opt.baseline <= 0 && !opt.active.percent && !opt.switchAt.percent &&
           opt.smooth <= 1 && opt.follow <= 0 && !regen::Combines(opt.settings) &&
           !opt.settings.Banded();
}

void PrintLength(CWave& in) {
    printf("Input Length = %d samples\n", in.GetSampleLength());
}

std::optional<std::pair<Plan, short>>
PlanAndRegenerate(CWave& in, CWave& out, short* block, int blocks, const options::Options& opt,
                  regen::Held& held, std::vector<regen::Crossings>& crossings, bool streamed) {
    Plan plan;
    plan.settings = opt.settings;
    plan.settings.activeAbove = opt.active.value;
    plan.settings.switchAbove = opt.switchAt.value;
    const bool printNow = !opt.quiet && !streamed;
    const std::optional<regen::JudgedRun> run = regen::JudgeAndRegenerate(
        in, out, block, blocks, plan.settings, held,
        [&](int b, int peak) {
            if (printNow)
                PrintVerdict(size_t(b), peak > plan.settings.activeAbove);
        },
        &crossings);
    if (!run)
        return std::nullopt;
    plan.active = regen::Judge(run->scan.peaks, plan.settings.activeAbove);
    if (streamed) {
        // The trailing part block, never judged, is read to find where a
        // stream that holds less than it declares ends.
        if (!run->scan.ended)
            in.SkipFrames(int(uint64_t(in.GetSampleLength()) - run->scan.framesRead));
        blocks = in.GetSampleLength() / regen::kBlockFrames;
        if (!opt.quiet && in.GetReadErrno() == 0) {
            PrintLength(in);
            PrintVerdicts(plan.active, 1, size_t(blocks));
        }
    } else {
        WarnIfEnded(opt, in, run->scan.ended, run->scan.framesRead);
    }
    plan.span = run->span;
    if (plan.span.first < 0 && blocks > 1)
        diag::Say(diag::NoActiveBlock(opt.input, run->scan.peak, plan.settings.activeAbove));
    plan.window = regen::kNoWindow;
    return std::make_pair(std::move(plan), run->level);
}

namespace {

// --auto's choices. `report`: the verdicts (unless quiet), the warning about
// a file that ended early and the line that says what was chosen.
std::optional<Plan> ChooseBySwings(CWave& in, const options::Options& opt, bool report,
                                   CWave* beside = nullptr) {
    const std::optional<regen::Channel> named =
        opt.channelGiven ? std::optional<regen::Channel>(opt.settings.channel) : std::nullopt;
    const std::optional<regen::SwingScan> scan = regen::ScanSwings(in, named, beside);
    if (!scan)
        return std::nullopt;
    Plan plan;
    plan.settings = opt.settings;
    if (!named && scan->channels == 2)
        plan.settings.channel = regen::ChooseChannel(scan->blocks);
    const regen::Channel channel = plan.settings.channel;
    const int swing = regen::LoudSwing(scan->blocks, channel);
    const int largest = regen::LargestSwing(scan->blocks, channel);
    plan.settings.activeAbove = opt.activeGiven ? opt.active.Resolve(largest)
                                                : regen::ActiveLevelFrom(scan->blocks, channel);
    if (report)
        WarnIfEnded(opt, in, scan->ended, scan->framesRead);
    plan.active = regen::JudgeSwings(scan->blocks, channel, plan.settings.activeAbove);
    if (report && !opt.quiet)
        PrintVerdicts(plan.active, 0);
    plan.span = regen::Widen(regen::FindSpan(plan.active), int64_t(plan.active.size()));
    if (!named && scan->channels == 2 && !opt.lagGiven && !opt.balanceGiven &&
        !Pair(in, plan.active, plan.settings))
        return std::nullopt;
    const std::optional<regen::Shape> shape =
        regen::ProbeShape(in, plan.active, plan.settings, swing, largest);
    if (!shape)
        return std::nullopt;
    // Tones get the band-pass around them in place of the smoothing, and
    // the gap, the noise and the height measured behind it.
    const bool tones = !opt.bandGiven && opt.smooth <= 0 && shape->tones.low > 0;
    plan.settings.follow = opt.follow >= 0 ? opt.follow : regen::kFollowHalfPeriods;
    // Data that does not balance is decided by its level behind the
    // longest baseline (below), at its midpoint unless it droops.
    const bool levels = opt.baseline < 0 && plan.settings.follow > 0 && !shape->balanced;
    const int gap = tones                       ? shape->tones.gap
                    : levels && shape->midpoint ? regen::kLeastGap
                                                : shape->gap;
    const int noise = tones ? shape->tones.noise : shape->noise;
    const int height = tones ? shape->tones.height : shape->height;
    const bool drowned = tones ? shape->tones.drowned : shape->drowned;
    plan.settings.switchAbove = opt.switchGiven ? opt.switchAt.Resolve(largest) : gap;
    plan.settings.smooth = opt.smooth > 0 ? opt.smooth : levels && shape->quiet ? 1 : shape->smooth;
    // A decoder times the edges, or filters the wave and finds its own
    // crossings: either way an edge moved to the next frame is up to a
    // frame of jitter, a share of a pulse that grows as the rate falls.
    plan.settings.timed = opt.edgesGiven ? opt.settings.timed : true;
    // A switch that follows the midpoint follows slow wander itself; a
    // mean over a few pulses adds a bias wherever the pulses do not balance
    // within it (scrambled codes), so the baseline then takes out DC and
    // the slowest drift alone, over the longest window. Where they do
    // balance, the mean over a few pulses takes out what lies below the
    // signal's band: hum, pink noise, droop.
    plan.window = opt.baseline >= 0 ? opt.baseline : levels ? regen::kMaxWindow : shape->window;
    // The baseline, which then takes out next to nothing, keeps the pause.
    if (tones) {
        plan.settings.bandLow = shape->tones.low;
        plan.settings.bandHigh = shape->tones.high;
        plan.settings.smooth = 1;
        // A decoder of tones listens for a carrier: the noise between the
        // bursts is kept out of the output, not regenerated at full scale.
        if (!opt.carrierGiven)
            plan.settings.carrier = shape->tones.carrier;
    }
    Follow(plan);
    // The flips that tell a pulse train from noise are those of the
    // signal the switch decides on: noise that the band filter takes out
    // of the pulses does not make them noise.
    plan.drowned = drowned && !shape->stable;
    if (report && drowned && !opt.switchGiven)
        diag::Say(diag::Drowned(opt.input, noise, height));
    if (report)
        diag::Say(diag::AutoChoice(
            opt.input, in.GetFormatChunk().sampleRate, opt.rate,
            options::ChannelName(plan.settings.channel), plan.settings.activeAbove,
            plan.settings.switchAbove, plan.window, plan.settings.smooth, plan.settings.follow,
            plan.settings.timed, plan.settings.bandLow, plan.settings.bandHigh,
            plan.settings.follow > 0 ? plan.settings.carrier : 0,
            scan->channels == 2 ? diag::PairChoice(plan.settings.lag, plan.settings.balance)
                                : std::string()));
    return plan;
}

// Whether --auto, keeping what this run named, would find a pulse train in
// a recording in which this run found no active block.
bool AutoFindsPulses(CWave& in, const options::Options& opt) {
    options::Options automatic = opt;
    automatic.automatic = automatic.keepRate = true;
    const std::optional<Plan> plan = ChooseBySwings(in, automatic, false);
    return plan && regen::FindPulseTrain(in, plan->active, plan->settings.channel,
                                         plan->settings.switchAbove) == regen::Found::kPulseTrain;
}

} // namespace

std::optional<Plan> PlanBySwings(CWave& in, const options::Options& opt, CWave* beside) {
    return ChooseBySwings(in, opt, true, beside);
}

// Each sign is one that --auto mends, for a choice this run left to the
// defaults: --auto keeps what the options named, so it would not do better
// there. The rate is not one: its own warning names --keep-rate.
void SuggestAuto(CWave& in, const options::Options& opt, const Plan& plan,
                 const std::vector<regen::Crossings>& crossings, bool reread) {
    std::vector<std::string> signs;
    // Where blocks were judged, the warning has said already that none is
    // active; the sign then says what --auto would find.
    if (reread && plan.span.first < 0 && !opt.activeGiven && AutoFindsPulses(in, opt))
        signs.push_back(in.GetSampleLength() / regen::kBlockFrames <= 1
                            ? "no block is active"
                            : "a pulse train lies below the active level");
    // A level the run named is said, with no remedy: the one there is, a
    // lower level, is the option already used.
    if (regen::MostlyShortOfSwitch(plan.active, plan.span, crossings)) {
        if (opt.switchGiven)
            diag::Say(diag::ShortOfGivenSwitch(opt.input, plan.settings.switchAbove));
        else
            signs.push_back("most active blocks do not swing past the switch level +-" +
                            std::to_string(plan.settings.switchAbove));
    }
    if (reread && !opt.channelGiven) {
        const std::optional<regen::Channel> widest = regen::SampleWidest(in);
        if (widest && *widest != regen::Channel::kMix)
            signs.push_back(std::string("the mix is much weaker than the ") +
                            options::ChannelName(*widest) + " signal");
    }
    if (!signs.empty())
        diag::Say(diag::AutoHint(opt.input, signs));
}

} // namespace plan
