// The noise estimate of --auto: what a few blocks of the judged signal,
// smoothed and with its baseline out, show of the noise apart from the
// pulses' height, and of the pulses' lengths.
#pragma once

#include <vector>

namespace regen {

// What the half-periods of a two-threshold switch at +-`above` around 0
// show, gathered over several blocks.
struct TopMeasure {
    std::vector<int> lengths;    // of each whole half-period, in frames
    std::vector<int> deviations; // of the samples along the flat parts from their neighbours' line
    std::vector<int> spreads;    // of the half-periods' middles from their length's median
    std::vector<int> peaks;      // the largest |sample| of each half-period
    // Percent: each half-period's mean over its middle sample (see FillOf).
    std::vector<int> fills;
    // Percent: each half-period's last sample before the ramp to the next
    // flip, on its own side of 0, over its peak; and that half-period's
    // length (see SagOf).
    std::vector<int> ends;
    std::vector<int> endLengths;
};

// Adds the half-periods of `y` (the first and the last, cut by the block's
// ends, are left out); the deviations of the samples on their flat parts,
// at least `ramp` frames from both flips (the smoothing's ramps), from the
// line through their neighbours; and the spreads of their middle samples
// about the median of those of the same length in `y`, where half-periods
// shorter than `ramp` frames or peaking far below the loud ones add none.
void MeasureTops(const short* y, int frames, int above, int ramp, TopMeasure& into);

// The value at `percent` of the way from the smallest to the largest; 0
// for none (the values are reordered).
int Percentile(std::vector<int>& values, int percent);

// The share, in percent, of the half-periods in `lengths` (in their order)
// that are as long as the one after them, to within a fifth: a tone's
// cycles and a tape's pulse pairs are two equal halves, so they balance
// within a few of them, where the runs of scrambled data are as long as
// chance makes them.
int PairedPercent(const std::vector<int>& lengths);
// The noise's standard deviation: the smaller median of the deviations
// and of the spreads, scaled as for Gaussian noise, whose median absolute
// deviation is 0.6745 of it.
int NoiseOf(TopMeasure& m);
// The same from the middles alone. Behind a band-pass the noise is as
// smooth as the tones, so the line through a sample's neighbours follows
// it and sees only what passes the band's upper edge; the middles still
// move with all of it. 0 for none.
int MiddlesNoiseOf(TopMeasure& m);
// Leaves out the half-periods that peak far below the loud ones: noise in
// pauses and around the edges, not pulses.
void DropChatter(TopMeasure& m);
// The pulses' height: the median of the half-periods' peaks, where a
// drooping pulse shows its height as a band-limited one does.
int HeightOf(const TopMeasure& m);
// The median of the fills: a sinusoid's half-period averages 2/pi (64 %)
// of its crest, a pulse with a flat top nearly all of it. The signed mean
// and the middle sample are both unmoved by zero-mean noise. 0 for none.
int FillOf(TopMeasure& m);
// The median of the ends of the half-periods at least `longest` frames
// long: where a high-pass has taken the low frequencies out (a droop) a
// level held for long sinks back towards 0, and the longest runs end
// nearest to it, while a flat top ends as high as it began. 100 for none.
int SagOf(const TopMeasure& m, int longest);
// Below this fill (percent), half-way between a tone's and a flat top's,
// the signal is taken for tones.
constexpr int kToneFill = 75;

} // namespace regen
