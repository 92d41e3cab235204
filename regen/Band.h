// The band filter of --auto: the judged signal averaged over a short window
// centred on each frame, with the baseline (the mean over a long window)
// taken out, both from one set of prefix sums.
#pragma once

#include "Stage.h"

#include <cstdint>
#include <vector>

namespace regen {

// The smoothing for pulses whose shortest common half-period is
// `shortest` frames: an odd window of about half of it. A centred average
// moves both edges of a pulse by the same amount, so pulse widths keep
// their ratio, and white noise falls with the square root of its length;
// half the shortest pulse still lets that pulse reach its full height.
int SmoothingFor(int shortest);

// sums[i] = from[0] + ... + from[i - 1] for i from 0 to count.
void PrefixSums(const short* from, int count, int32_t* sums);

// How far before and after a frame SmoothAndRemoveBaseline reads.
int ContextBefore(int window, int smooth);
int ContextAfter(int window, int smooth);

// out[i] = the mean of the `smooth` frames centred on x[i] minus the mean
// of the `window` frames from i - window / 2 on (0: no baseline), clamped
// to 16 bits, for i from 0 to frames - 1. `x` must be readable from
// -ContextBefore to frames + ContextAfter - 1. `sums` is working memory.
void SmoothAndRemoveBaseline(const short* x, int frames, int window, int smooth, short* out,
                             std::vector<int32_t>& sums);

// The band filter as a stage: each sample minus the mean of the `window`
// (0: none) around it, or, `smoothed`, the mean of the `smooth` around it
// minus that mean, as RemoveBaseline and SmoothAndRemoveBaseline give them.
// It reads ContextAfter - 1 samples ahead, so its output runs that far
// behind its input. What precedes the first sample is Prime's context, or
// the first sample itself held; what follows the last is the last sample
// held, which Drain supplies.
class Band : public Stage {
  public:
    Band(int window, int smooth, bool smoothed);

    // The ContextBefore samples before the first one flowed.
    void Prime(const short* context);
    int Before() const { return m_before; }
    int Flow(const short* in, int frames, short* out) override;
    int Drain(short* out) override;
    int MaxDrain() const override { return m_after - 1; }

  private:
    int m_window, m_smooth;
    bool m_smoothed;
    int m_before, m_after;
    bool m_primed = false;
    std::vector<short> m_history; // the last before + after - 1 samples, then the new ones
    std::vector<int32_t> m_sums;
    std::vector<float> m_values; // the outputs before they are held within 16 bits
};

} // namespace regen
