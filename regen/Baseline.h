// The baseline taken out before the decision: each sample minus the mean of
// the window centred on it, so that DC, hum and a slow wander no longer
// move the signal across the switch.
#pragma once

#include "Stage.h"

#include <cstdint>
#include <vector>

namespace regen {

// Writes x[i] minus the mean of the `window` samples centred on it (from
// i - window / 2 to i + window - window / 2 - 1), clamped to 16 bits, for i
// from 0 to frames - 1. `x` must be readable from -window / 2 to
// frames + window - window / 2 - 2. A window of 0 copies.
void RemoveBaseline(const short* x, int frames, int window, short* out);
// The same with its working memory in `sums`, so that a pass over many
// blocks allocates it once.
void RemoveBaseline(const short* x, int frames, int window, short* out, std::vector<int32_t>& sums);

// RemoveBaseline as a stage (a window of at least 1). The window reaches
// window - window / 2 - 1 samples ahead, so the output runs that far
// behind the input. What precedes the first sample is Prime's context, or
// the first sample itself held; what follows the last is the last sample
// held, which Drain supplies.
class Baseline : public Stage {
  public:
    explicit Baseline(int window);

    // The window / 2 samples before the first one flowed.
    void Prime(const short* context);
    int Flow(const short* in, int frames, short* out) override;
    int Drain(short* out) override;
    int MaxDrain() const override { return m_window - m_window / 2 - 1; }

  private:
    int m_window;
    bool m_primed = false;
    std::vector<short> m_history; // the window's last window - 1 samples, then the new ones
    std::vector<int32_t> m_sums;
};

} // namespace regen
