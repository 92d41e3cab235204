#include "Probe.h"

#include "Band.h"
#include "Blocks.h"
#include "Flips.h"
#include "Judged.h"
#include "Noise.h"
#include "PulseTrain.h"
#include "Swings.h"
#include "Tones.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace regen {

namespace {

// The gap keeps the noise from flipping the switch back and forth while an
// edge passes the midpoint. The band filter averages the noise over about
// the length of an edge's ramp, so the noise moves little while the ramp
// crosses it: one standard deviation of the filtered noise is enough, and
// more would only delay the edges of the lower pulses more than the
// others'. (On a flat top the noise would have to reach past the whole
// height, which no gap smaller than it changes much.)
constexpr int kGapSigmas = 1;
// Noise past a sixth of the height (3 standard deviations past half of
// it, one sample in 370) reaches across the midpoint from the flat tops of
// the pulses that a band limit or a dropout leaves lower: no setting of
// the switch can then keep it out.
constexpr int kDrownedSigmas = 3;
// The gap leaves most of a pulse's height to spare: a short pulse that a
// band limit or a dropout leaves lower than its neighbours still flips it.
constexpr int kHeightPerGap = 4;
// And at least the baseline's own ripple where a burst starts or ends: a
// mean over eight half-periods that takes in only some of them leaves up
// to an eighth of the height behind.
constexpr int kRippleOfHeight = 8;
// Noise in the tones' band peaks near its envelope, which passes three
// standard deviations in about one half-period of a hundred (e^-4.5).
constexpr int kBandSigmas = 3;
// Where the longest runs end under half their peak, a droop has sunk them
// so far towards the midpoint that the last bits of noise on them would
// flip a switch without a gap.
constexpr int kSagged = 50;
// Noise under a tenth of the height (20 dB down) lies ten standard
// deviations from the midpoint on a flat top.
constexpr int kQuietTops = 10;
constexpr double kLagSteps = 10; // the lag is kept to a tenth of a frame
constexpr double kSameLag = 1;   // frames: blocks whose lags agree
// The baseline spans four periods of the longest common pulse; the band
// filter's window fits several times into it.
constexpr int kHalfPeriodsPerWindow = 8;
constexpr int kSmoothsPerWindow = 4;
constexpr int kMinWindow = 16;
// Runs of random data, half as likely to last each bit longer, are as long
// as the next one in one case of three (the sum of 4^-k): pulses that pair
// up more often than that come in pairs by their code.
constexpr int kChanceOfPair = 3;
constexpr int kProbed = 16;     // blocks read, spread over the active ones
constexpr int kRefinements = 3; // the band filter converges in two or three
// Where noise makes most of the half-periods that the recording shows at
// its own resolution, their shortest is the noise's, and the band filter
// that it sets stays too short to average the noise away: the filter is
// tried wider until the half-periods come at the stable widths of a pulse
// train, up to 33 frames (0.75 ms at 44.1 kHz, three times a tape's
// shortest pulse; at 96 kHz, about one and a half times it).
constexpr int kWiderSmooths[] = {3, 5, 7, 9, 13, 17, 25, 33};
// In white noise the mean over a pulse's whole length measures its level
// best (a matched filter); half that length, which the band filter takes
// where the pulses stand clear of the noise, keeps the edges steep. Where
// the noise drowns the pulses, the mean widens to three quarters of the
// shortest pulse: the noise falls by a further fifth, and the shortest
// pulse still reaches its full height for a quarter of its length.
constexpr int kDrownedSmoothEighths = 6;
constexpr int kShortPercentile = 10, kLongPercentile = 90;
// Half-periods of one or two frames are the noise's, not the pulses', but
// where those of two frames form a peak of their own (TwoFramePulses).
constexpr int kMinHalfPeriod = 3;
// Half-periods of one length this many times as common as those a frame
// shorter form a peak that noise does not make.
constexpr size_t kPulsePeak = 4;
constexpr int kMinFlips = 32; // fewer tell nothing of the pulses' lengths
// The first gap: a quarter of the largest swing, which noise inflates but
// which lets the pulses through; the typical swing would be the noise's
// where pulses are sparse.
constexpr int kFirstGapPercent = 25;

// Whether half-periods of two frames are pulses, not noise: at a low rate
// a short pulse lasts two frames (a tape's 0 bits at 8 kHz). The noise's
// runs grow rarer the longer they are, while a pulse length stands out
// from those beside it: two-frame half-periods far outnumber one-frame
// ones and outnumber three-frame ones.
bool TwoFramePulses(const std::vector<int>& lengths) {
    size_t count[4] = {};
    for (int n : lengths)
        if (n >= 1 && n <= 3)
            ++count[n];
    return count[2] > kPulsePeak * count[1] && count[2] > count[3];
}

Shape Measure(const std::vector<std::vector<short>>& blocks, int smooth, int window, int gap,
              int minPulseFrames) {
    TopMeasure m;
    std::vector<short> y;
    std::vector<int32_t> sums;
    const int before = ContextBefore(window, smooth), after = ContextAfter(window, smooth);
    for (const std::vector<short>& b : blocks) {
        const int inner = int(b.size()) - before - after;
        if (inner <= 0)
            continue;
        y.resize(size_t(inner));
        SmoothAndRemoveBaseline(b.data() + before, inner, window, smooth, y.data(), sums);
        MeasureTops(y.data(), inner, gap, smooth / 2 + 1, m);
    }
    DropChatter(m);
    Shape s;
    s.smooth = smooth;
    s.window = window;
    const int fewest = TwoFramePulses(m.lengths) ? kMinHalfPeriod - 1 : kMinHalfPeriod;
    std::vector<int> lengths;
    for (int n : m.lengths)
        if (n >= fewest)
            lengths.push_back(n);
    s.shortest = Percentile(lengths, kShortPercentile);
    s.longest = Percentile(lengths, kLongPercentile);
    s.noise = NoiseOf(m);
    s.middles = MiddlesNoiseOf(m);
    s.height = HeightOf(m);
    s.measured = lengths.size() >= size_t(kMinFlips);
    s.paired = PairedPercent(m.lengths);
    s.stable = JudgePulseTrain(true, m.lengths, minPulseFrames) == Found::kPulseTrain;
    s.fill = FillOf(m);
    s.sag = SagOf(m, s.longest);
    return s;
}

// Whether noise of `noise` (a deviation) leaves no gap that the pulses of
// `height` pass (kDrownedSigmas).
bool Drowns(int noise, int height) {
    return kDrownedSigmas * noise > height / 2;
}

// Whether half-periods of which `paired` percent are as long as the next
// come in pairs by their code (kChanceOfPair).
bool Balances(int paired) {
    return paired * kChanceOfPair > 100;
}

// Each round sets the band filter from the shortest half-period that the
// last one measured, and the gap from its noise.
Shape Refined(const std::vector<std::vector<short>>& blocks, Shape s, int minPulseFrames) {
    for (int r = 0; r < kRefinements; ++r) {
        const int smooth = SmoothingFor(s.shortest);
        const Shape next = Measure(blocks, smooth, BaselineFor(s.longest, smooth),
                                   GapFor(s.noise, s.height), minPulseFrames);
        if (!next.measured)
            break;
        s = next;
    }
    return s;
}

// The shape that the first of kWiderSmooths to show a pulse train leads
// to; `s` where none does. `firstGap`: the gap of a first measure, which
// the refinement then sets from the noise.
Shape Searched(const std::vector<std::vector<short>>& blocks, const Shape& s, int firstGap,
               int minPulseFrames) {
    for (const int smooth : kWiderSmooths) {
        const Shape first =
            Measure(blocks, smooth, BaselineFor(s.longest, smooth), firstGap, minPulseFrames);
        if (!first.measured || !first.stable)
            continue;
        const Shape next = Refined(blocks, first, minPulseFrames);
        if (next.stable)
            return next;
    }
    return s;
}

} // namespace

int GapFor(int noise, int height) {
    return std::max({kLeastGap, height / kRippleOfHeight,
                     std::min(kGapSigmas * noise, height / kHeightPerGap)});
}

int ToneGapFor(int noise, int band, int height) {
    const int ripple = height / kRippleOfHeight;
    return std::max({kLeastGap, band > 0 ? std::min(kBandSigmas * band, ripple) : ripple,
                     std::min(kGapSigmas * noise, height / kHeightPerGap)});
}

int CarrierFor(int band, int height) {
    return std::min(kBandSigmas * band, height / kHeightPerGap);
}

int PauseFor(int window) {
    return (window > 0 ? window : kMaxWindow) / 2;
}

int BaselineFor(int longest, int smooth) {
    const long w =
        std::max<long>(long(longest) * kHalfPeriodsPerWindow, long(smooth) * kSmoothsPerWindow);
    return int(std::min<long>(kMaxWindow, std::max<long>(kMinWindow, w)));
}

namespace {

// Up to kProbed active blocks, spread evenly over them.
std::vector<int64_t> Probed(const std::vector<unsigned char>& active) {
    std::vector<int64_t> chosen, probed;
    for (size_t b = 0; b < active.size(); ++b)
        if (active[b])
            chosen.push_back(int64_t(b));
    const size_t step = std::max<size_t>(1, chosen.size() / kProbed);
    for (size_t k = 0; k < chosen.size() && probed.size() < size_t(kProbed); k += step)
        probed.push_back(chosen[k]);
    return probed;
}

// A channel's weight in the combination: its height over its noise
// squared, which adds the two channels' signals in proportion to what
// each adds to the signal-to-noise ratio (maximal-ratio combining).
double WeightOf(const std::vector<std::vector<short>>& blocks) {
    TopMeasure m;
    std::vector<short> y;
    std::vector<int32_t> sums;
    const int before = ContextBefore(kDefaultWindow, 1), after = ContextAfter(kDefaultWindow, 1);
    for (const std::vector<short>& b : blocks) {
        const int inner = int(b.size()) - before - after;
        if (inner <= 0)
            continue;
        y.resize(size_t(inner));
        SmoothAndRemoveBaseline(b.data() + before, inner, kDefaultWindow, 1, y.data(), sums);
        std::vector<int> magnitudes(y.begin(), y.end());
        for (int& v : magnitudes)
            v = std::abs(v);
        const int gap =
            std::max(kLeastGap, Percentile(magnitudes, kLongPercentile) / kHeightPerGap);
        MeasureTops(y.data(), inner, gap, 1, m);
    }
    DropChatter(m);
    const double noise = std::max(1, NoiseOf(m));
    return HeightOf(m) / (noise * noise);
}

} // namespace

std::optional<Pairing> ProbePairing(CWave& in, const std::vector<unsigned char>& active,
                                    int maxLag) {
    std::vector<std::vector<short>> left, right;
    std::vector<std::pair<double, int>> lags; // each block's lag and sign
    std::vector<short> stereo;
    for (const int64_t b : Probed(active)) {
        const int frames = FramesOf(b, in.GetSampleLength());
        if (in.SetPos(int(b * kBlockFrames)) != 0)
            return std::nullopt;
        stereo.resize(2 * size_t(frames));
        in.LoadWaveShortStereo(stereo.data(), frames, 1);
        int sign = 1;
        const double lag = FindLag(stereo.data(), frames, maxLag, &sign);
        lags.emplace_back(lag, sign);
        left.emplace_back(size_t(frames));
        right.emplace_back(size_t(frames));
        for (int i = 0; i < frames; ++i)
            left.back()[size_t(i)] = stereo[2 * size_t(i)],
            right.back()[size_t(i)] = stereo[2 * size_t(i) + 1];
    }
    Pairing p;
    if (lags.empty())
        return p;
    std::nth_element(lags.begin(), lags.begin() + long(lags.size() / 2), lags.end());
    const double median = lags[lags.size() / 2].first;
    p.lag = std::round(median * kLagSteps) / kLagSteps + 0.0; // never -0
    // The sign is the one found at that lag. Tones correlate as strongly,
    // negated, half a period to either side, and a block's largest peak
    // may be any of the three: a sign voted over every block can belong
    // to another lag than the median's and pair the channels' difference
    // with the lag of their sum, which cancels the tones.
    int agree = 0;
    for (const auto& [lag, sign] : lags)
        if (std::fabs(lag - median) <= kSameLag)
            agree += sign;
    p.sign = agree < 0 ? -1 : 1;
    const double wl = WeightOf(left), wr = WeightOf(right);
    p.balance = wl + wr > 0 ? int(std::lround(100 * wl / (wl + wr))) : 50;
    return p;
}

std::optional<Shape> ProbeShape(CWave& in, const std::vector<unsigned char>& active,
                                const Settings& settings, int swing, int largest) {
    std::vector<std::vector<short>> blocks;
    for (const int64_t b : Probed(active)) {
        const int frames = FramesOf(b, in.GetSampleLength());
        if (in.SetPos(int(b * kBlockFrames)) != 0)
            return std::nullopt;
        blocks.emplace_back(size_t(frames));
        JudgedSource(settings).Load(in, blocks.back().data(), frames);
    }
    // As FindPulseTrain judges the flips: at a few frames apart the widths'
    // tolerance no longer tells noise from pulses.
    const int minPulseFrames =
        int(int64_t(kMinPulseFrames) * in.GetFormatChunk().sampleRate / kMinPulseRate);
    const int firstGap = std::max(kLeastGap, largest * kFirstGapPercent / 100);
    Shape s = Measure(blocks, 1, kDefaultWindow, firstGap, minPulseFrames);
    if (!s.measured) {
        // Too few pulses to measure: no band filter, and the levels of a
        // recording whose noise is unknown.
        s.gap = SwitchLevelFor(swing);
        return s;
    }
    // The shape of the half-periods as recorded: the band filter below
    // would round a flat top into a tone's.
    const int fill = s.fill;
    s = Refined(blocks, s, minPulseFrames);
    if (!s.stable)
        s = Searched(blocks, s, firstGap, minPulseFrames);
    // Only for pulses that balance: data decided by its level is sampled
    // behind its decoder's own filter, which a wider one would only add to.
    if (Drowns(s.noise, s.height) && Balances(s.paired)) {
        const int smooth = std::max(s.smooth, (s.shortest * kDrownedSmoothEighths / 8) | 1);
        const Shape next = Measure(blocks, smooth, BaselineFor(s.longest, smooth),
                                   GapFor(s.noise, s.height), minPulseFrames);
        if (next.measured && next.stable)
            s = next;
    }
    s.gap = GapFor(s.noise, s.height);
    // A baseline over a few of the longest pulses takes out the hum, the
    // pink noise and the droop below the signal's band, as a mean over a
    // whole block cannot; but where the pulses do not balance within it
    // (scrambled data, a long run of one level) it follows the data and
    // shifts the decision. It is kept where that shift stays within the
    // ripple that the gap allows for.
    const int matched = BaselineFor(s.longest, s.smooth);
    s.balanced = Balances(s.paired);
    s.window = matched;
    s.fill = fill;
    // Data whose runs do not balance (a scrambled code) holds its bits in
    // its level, which a decoder samples at its own clock behind its own
    // filter, not in the times of its edges. A gap there is memory: a
    // level that noise turned stays turned until the signal comes back
    // past the other threshold, so an error outlasts the noise that made
    // it. Such data is decided at the tracked midpoint, with a gap of the
    // last bits of a sample, unless a droop, which the longest baseline
    // that it is then given does not follow, sinks its long runs towards
    // the midpoint: then the gap rides over the droop, as for pulses.
    s.sag = s.balanced ? 100 : Measure(blocks, s.smooth, kMaxWindow, s.gap, minPulseFrames).sag;
    s.midpoint = !s.balanced && s.sag >= kSagged;
    // The band filter keeps noise from moving the edges; such data's
    // decoder does not time its edges but samples its level behind its own
    // filter. Where the noise cannot turn a level between the edges, the
    // band filter would only add its ramp to that filter's, and shorten
    // the shortest runs that a band limit, a droop or a speed error leave.
    s.quiet = s.noise * kQuietTops < s.height;
    // Tones that pair up (FSK) are passed through a band-pass around them
    // instead, which takes out far more of the noise beside them than the
    // averages do; the noise and the gap are measured again behind it.
    s.drowned = Drowns(s.noise, s.height);
    if (s.balanced && s.fill < kToneFill) {
        const ToneBand band =
            BandFor(s.shortest, s.longest, in.GetFormatChunk().sampleRate, kMinHalfPeriod);
        std::vector<std::vector<short>> passed = blocks;
        for (std::vector<short>& b : passed) {
            Tones tones(band.low, band.high, in.GetFormatChunk().sampleRate);
            tones.Flow(b.data(), int(b.size()), b.data());
            // The filter settles within a few of the lowest tone's cycles.
            b.erase(b.begin(), b.begin() + std::min<long>(long(b.size()), 8L * s.longest));
        }
        const Shape next = Measure(passed, 1, kNoWindow, s.gap, minPulseFrames);
        if (next.measured)
            s.tones = {band.low,
                       band.high,
                       next.noise,
                       next.height,
                       ToneGapFor(next.noise, next.middles, next.height),
                       CarrierFor(next.middles, next.height),
                       Drowns(next.noise, next.height)};
    }
    return s;
}

} // namespace regen
