// A pass is: load a block, run the chain, write what it gives. The stages
// carry their state from block to block, so the output does not depend on
// where the blocks fall.
#include "Passes.h"

#include "Activity.h"
#include "Band.h"
#include "Blocks.h"
#include "Fade.h"
#include "Follow.h"
#include "Held.h"
#include "InThread.h"
#include "Judged.h"
#include "Loader.h"
#include "Switch.h"
#include "Take.h"
#include "Tones.h"

#include <algorithm>
#include <memory>

namespace regen {

namespace {

// The band-pass's thread takes eight blocks at a time: a few milliseconds
// of filtering for each hand-over, which costs microseconds.
constexpr int kBandBatchFrames = 8 * kBlockFrames;

} // namespace

std::optional<Scan> ScanActivity(CWave& in, short* block, int blocks, Channel channel, int enough,
                                 const std::function<void(int block, int peak)>& judged) {
    Scan scan;
    scan.peaks.assign(size_t(blocks > 0 ? blocks : 0), 0);
    Loader loader(in, channel);
    // Positioned as SetTopPage would, but a failed seek is reported: the
    // pass would otherwise judge whatever the stream happens to hold.
    if (in.SetPos(0) != 0)
        return std::nullopt;
    // The block count comes from the declared data size, which may promise
    // far more than the file holds. Once a load comes up short the file has
    // ended and every later block would read as silence, so those blocks
    // keep a peak of 0 unread: the work follows the file, not the size field.
    for (int b = 0; b < blocks; ++b) {
        if (!scan.ended) {
            const int held = loader.Load(block, kBlockFrames);
            // Block 0 is never judged, an oddity the verdict lines' readers
            // rely on (imposed).
            if (b > 0)
                scan.peaks[size_t(b)] = Peak(block, kBlockFrames, enough);
            scan.ended = held < kBlockFrames;
        }
        scan.peak = std::max(scan.peak, scan.peaks[size_t(b)]);
        if (b > 0 && judged)
            judged(b, scan.peaks[size_t(b)]);
    }
    scan.framesRead = loader.Held();
    return scan;
}

std::optional<JudgedRun> JudgeAndRegenerate(CWave& in, CWave& out, short* block, int blocks,
                                            const Settings& settings, Held& held,
                                            const std::function<void(int block, int peak)>& judged,
                                            std::vector<Crossings>* crossings) {
    JudgedRun run;
    Scan& scan = run.scan;
    scan.peaks.assign(size_t(blocks > 0 ? blocks : 0), 0);
    Loader loader(in, settings.channel);
    if (in.SetPos(0) != 0)
        return std::nullopt;
    Switch decide(settings, crossings);
    std::vector<Crossings>::size_type spanRecords = 0;
    // As in ScanActivity: block 0 is never judged, and once the file has
    // ended the blocks it does not hold are silent and go unread.
    for (int b = 0; b < blocks; ++b) {
        const bool loaded = !scan.ended;
        if (loaded) {
            const int got = loader.Load(block, kBlockFrames);
            scan.ended = got < kBlockFrames;
            // A stream that cannot seek shows where it ends only when it is
            // read there: the block it ends in then lies past its length.
            if (scan.ended && b >= in.GetSampleLength() / kBlockFrames)
                break;
            if (b > 0)
                scan.peaks[size_t(b)] = Peak(block, kBlockFrames, settings.activeAbove);
        }
        const int peak = scan.peaks[size_t(b)];
        scan.peak = std::max(scan.peak, peak);
        if (b > 0 && judged)
            judged(b, peak);
        // A block the file does not hold is silent, and so is every one
        // after it: none of them can be active, so none joins the span.
        const bool active = b > 0 && peak > settings.activeAbove;
        if (!loaded || (!active && run.span.first < 0))
            continue;
        if (run.span.first < 0)
            run.span.first = b;
        decide.Flow(block, kBlockFrames, block);
        if (!active) {
            if (!held.Hold(block, kBlockFrames))
                return std::nullopt;
            continue;
        }
        if (!held.Release(out))
            return std::nullopt;
        out.OutputWaveFrameByMono(block, kBlockFrames);
        run.span.last = b;
        run.level = decide.Level();
        spanRecords = size_t(b - run.span.first + 1);
    }
    held.Drop();
    if (crossings)
        crossings->resize(spanRecords);
    scan.framesRead = loader.Held();
    return run;
}

std::optional<short> RegenerateSpan(CWave& in, CWave& out, short* block, int blocks, Span span,
                                    const Settings& settings, std::vector<Crossings>* crossings) {
    if (span.first < 0 || span.first >= blocks)
        return short(0);
    // Blocks outside the span would be read only to be dropped: the ones
    // before it are skipped over, the ones after it are never reached. A
    // stream that cannot go back to the first sample would regenerate
    // silence, so that is a failure.
    if (in.SetPos(0) != 0)
        return std::nullopt;
    in.SkipFrames(int(span.first) * kBlockFrames);
    Loader loader(in, settings.channel);
    Switch decide(settings, crossings);
    for (int64_t b = span.first; b <= span.last && b < blocks; ++b) {
        loader.Load(block, kBlockFrames);
        out.OutputWaveFrameByMono(block, decide.Flow(block, kBlockFrames, block));
    }
    return decide.Level();
}

std::optional<short> RegenerateTracked(CWave& in, CWave& out, Span span, int window,
                                       const Settings& settings,
                                       std::vector<Crossings>* crossings) {
    const int64_t length = in.GetSampleLength();
    const int64_t blocks = BlockCount(length);
    if (span.first < 0 || span.first >= blocks)
        return short(0);
    const int64_t last = std::min(span.last, blocks - 1);
    uint64_t spanFrames = 0;
    for (int64_t b = span.first; b <= last; ++b)
        spanFrames += uint64_t(FramesOf(b, length));
    // The chain: the band filter (the baseline out, the pulses smoothed)
    // where one is asked for, the span's end, and the decision: the fixed
    // switch, or the one that follows the pulses' midpoint. The filter
    // looks a little ahead, so the chain is fed one block past the span
    // (where there is one) and cut back before the decision; past the
    // file's end its last sample is held.
    const bool follows = settings.follow > 0 || settings.smooth > 1;
    Chain chain;
    std::unique_ptr<Band> band;
    if (window > 0 || settings.smooth > 1)
        band = std::make_unique<Band>(window, settings.smooth, follows);
    const int before = band ? band->Before() : 0;
    const int64_t first = span.first * kBlockFrames;
    if (in.SetPos(int(std::max<int64_t>(0, first - before))) != 0)
        return std::nullopt;
    JudgedSource source(settings);
    std::vector<short> block(kBlockFrames);
    if (band && first >= before) { // else the file's first sample stands for what precedes it
        source.Load(in, block.data(), before);
        band->Prime(block.data());
    }
    // The band-pass, the costliest stage, filters the next batch on a
    // thread of its own while the stages after it take the last.
    if (settings.Banded())
        chain.Add(std::make_unique<InThread>(
            std::make_unique<TonesInLanes>(settings.bandLow, settings.bandHigh,
                                           in.GetFormatChunk().sampleRate),
            kBandBatchFrames));
    if (band)
        chain.Add(std::move(band));
    chain.Add(std::make_unique<Take>(spanFrames));
    std::function<short()> level;
    if (follows) {
        auto follower = std::make_unique<LevelFollower>(
            FollowSettings{settings.height, settings.switchAbove, settings.follow, settings.pause,
                           settings.amplitude, settings.invert, settings.timed, settings.carrier});
        const LevelFollower* state = follower.get();
        level = [state] { return state->Level(); };
        chain.Add(std::move(follower));
        // No fixed thresholds to count crossings of: one empty record per block.
        if (crossings)
            crossings->assign(size_t(last - span.first + 1), Crossings{});
    } else {
        auto decide = std::make_unique<Switch>(settings, crossings);
        const Switch* state = decide.get();
        level = [state] { return state->Level(); };
        chain.Add(std::move(decide));
    }
    std::vector<short> given(size_t(chain.MaxOutput(kBlockFrames)));
    const int64_t fed = std::min(last + 1, blocks - 1);
    for (int64_t b = span.first; b <= fed; ++b) {
        const int frames = FramesOf(b, length);
        source.Load(in, block.data(), frames);
        out.OutputWaveFrameByMono(given.data(), chain.Flow(block.data(), frames, given.data()));
    }
    out.OutputWaveFrameByMono(given.data(), chain.Drain(given.data()));
    return level();
}

void AppendFade(CWave& out, short* block, short level) {
    MakeFade(block, level);
    out.OutputWaveFrameByMono(block, kBlockFrames);
}

} // namespace regen
