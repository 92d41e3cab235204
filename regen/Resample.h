// The recording at another rate: a windowed-sinc interpolator that streams
// block by block, and the pass that copies a recording through it.
#pragma once

#include "Wave.h"

#include <cstdint>
#include <vector>

namespace regen {

// The frames that `frames` at `from` Hz last at `to` Hz, rounded up.
uint64_t ResampledFrames(uint64_t frames, int from, int to);

class Resampler {
  public:
    // Both rates positive; `channels` interleaved channels of 16-bit samples.
    Resampler(int from, int to, int channels);

    // Takes `frames` frames and appends to `out` each output frame whose
    // kernel lies within what has been given.
    void Flow(const short* in, int frames, std::vector<short>& out);
    // After the last Flow: the output frames still to come, up to
    // ResampledFrames of all that was given, with silence past its end.
    void Drain(std::vector<short>& out);

  private:
    void Give(std::vector<short>& out, int64_t available);

    uint64_t m_from, m_to; // the rates over their greatest common divisor
    int m_channels;
    int m_half;                  // the kernel reaches this many input frames each side
    std::vector<float> m_kernel; // kPhases rows of 2 * m_half taps
    std::vector<std::vector<float>> m_history; // per channel, from input frame m_first on
    int64_t m_first;
    uint64_t m_given = 0; // input frames taken
    uint64_t m_next = 0;  // the next output frame
};

// Reads `in` to its end (the whole recording, or a stream as far as it
// goes) and writes it at `rate` Hz to `copy`, which is open for 16-bit
// output with `in`'s channels (one where `in` has not two: their mean).
// False, as soon as it is known, when the copy would pass `mostFrames`;
// a failed read shows in in.GetReadErrno(), a failed write in
// copy.GetWriteErrno().
bool CopyResampled(CWave& in, CWave& copy, int rate, uint64_t mostFrames);

} // namespace regen
