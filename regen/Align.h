// The channels of --auto: how far the right channel of a stereo recording
// lags the left (a tape head's azimuth), found by cross-correlation to a
// fraction of a frame, and a streaming stage that lines the two up and
// combines them with the weights their signal-to-noise ratios call for.
#pragma once

#include <vector>

namespace regen {

// The offset from the middle of three equally spaced values, in (-1, 1),
// at which the parabola through them peaks; 0 when they are level.
double ParabolaPeak(double before, double at, double after);

// The lag (frames, within +-maxLag) at which the right channel of
// `frames` interleaved stereo frames best matches the left: positive when
// the right comes later. `sign` receives +1, or -1 when it matches the
// left's negative best.
double FindLag(const short* interleaved, int frames, int maxLag, int* sign = nullptr);

// The two channels lined up (the leading one delayed by the lag,
// interpolated between frames) and combined as balance x left +
// (1 - balance) x sign x right. State carries across calls.
class Aligner {
  public:
    Aligner(double lag, double balance, int sign);
    // One combined sample per frame of `interleaved` into `out`.
    void Process(const short* interleaved, short* out, int frames);

  private:
    int m_whole;       // the lag's whole frames
    float m_fraction;  // and its fraction
    bool m_rightLeads; // the right channel is the one delayed
    float m_left, m_right;
    std::vector<short> m_history; // the leading channel's last m_whole + 1 samples
    std::vector<short> m_lead;    // working memory
};

} // namespace regen
