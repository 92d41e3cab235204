#include "Follow.h"

#include "Runs.h"

#include <cstring>

#include <algorithm>
#include <cmath>

namespace regen {

namespace {

// The gap is at most this share of the tracked height, so that a short
// pulse whose band limit leaves it below its neighbours' height still
// flips the switch.
constexpr float kGapOfHeight = 0.5f;
// A half-period peaking below a sixteenth (24 dB under) of the tracked
// height is not taken for a pulse. A tape's dropouts reach about 20 dB
// down, at once or within a few milliseconds, faster than the levels'
// average over half-periods follows: pulses that far under the height
// they left are still pulses, and followed, so that the gap shrinks with
// them.
constexpr float kNotAPulse = 16.0f;
// Below this the gap is the last bit or two of a 16-bit sample.
constexpr float kMinGap = 2.0f;

// A threshold as an integer that every sample can be compared with.
int AtLeast(double threshold) {
    return int(std::max(-40000.0, std::min(40000.0, threshold)));
}

// The first sample of a half-period from `from` to `to` whose input
// `crossed` passed `threshold` after `before`: the crossing lies the share
// t of the frame from the one before, so the frame holds `from` for t of
// it and `to` for the rest.
short Timed(short before, short crossed, float threshold, short from, short to) {
    const float span = float(crossed) - float(before);
    const float t =
        span == 0.0f ? 1.0f : std::max(0.0f, std::min(1.0f, (threshold - float(before)) / span));
    return short(std::lrint(float(from) * t + float(to) * (1.0f - t)));
}

} // namespace

LevelFollower::LevelFollower(const FollowSettings& settings)
    : m_settings(settings), m_high(float(settings.height)), m_low(-float(settings.height)),
      m_mid(0.0f), m_gap(float(settings.hysteresis)), m_judgedFrom(0.0f),
      m_alpha(settings.follow > 0 ? 1.0f / float(settings.follow) : 0.0f) {}

void LevelFollower::Close(int state) {
    // A half-period longer than a pause is silence or noise, not a pulse:
    // the levels stay where the pulses left them.
    if (m_alpha == 0.0f || m_count == 0 || m_count > m_settings.pause)
        return;
    // Nor does a half-period that peaks far below the pulses: noise that
    // flipped the switch in a pause, which would sink the levels into the
    // noise. A fade or a dropout is followed; under a deeper one the gap,
    // which the noise sets, still lets the pulses through.
    //
    // The peak is taken from the midpoint as it stood before the other
    // level's last move. At a dropout's edge the first dropped pulse moves
    // its level an eighth of the way down, and the midpoint with it by
    // half as much, which can be most of a dropped pulse's height: taken
    // from there, the next pulse of the other sign would look too low to
    // be followed, its level would never come down, and the midpoint would
    // run out past the dropped pulses, losing every edge in the dropout.
    const float peak =
        state > 0 ? float(m_extreme) - m_judgedFrom : m_judgedFrom - float(m_extreme);
    if (peak * kNotAPulse < (m_high - m_low) / 2)
        return;
    if (state > 0)
        m_high += (float(m_extreme) - m_high) * m_alpha;
    else
        m_low += (float(m_extreme) - m_low) * m_alpha;
    m_judgedFrom = m_mid;
    m_mid = (m_high + m_low) / 2;
    const float height = (m_high - m_low) / 2;
    m_gap = std::max(kMinGap, std::min(float(m_settings.hysteresis), height * kGapOfHeight));
}

bool LevelFollower::Carried(float peak) {
    if (m_settings.carrier <= 0)
        return true;
    // m_run counts the half-periods that would change the carrier's state.
    const bool strong = m_state != 0 && peak > float(m_settings.carrier);
    m_run = strong != m_carrier ? m_run + 1 : 0;
    if (m_run >= (m_carrier ? kCarrierCloses : kCarrierOpens)) {
        m_carrier = !m_carrier;
        m_run = 0;
    }
    return m_carrier;
}

short LevelFollower::Process(short* y, int frames) {
    // Runs between flips are scanned against integer thresholds, their
    // peak taken and their output written by loops without branches; only
    // the flips, a few per pulse, take the slow road. A sample v flips the
    // switch up when v > mid + gap, that is when v >= floor(mid + gap) + 1,
    // and down when v < ceil(mid - gap).
    const int sign = m_settings.invert ? -1 : 1;
    const short up = short(sign * m_settings.amplitude), down = short(-up);
    int i = 0;
    short last = m_last; // the input sample before y[i]
    while (i < frames) {
        const float upper = m_mid + m_gap, lower = m_mid - m_gap;
        // The run to the next flip, scanned, its peak taken and its output
        // written eight samples at a time (Runs.h).
        const short level = m_out;
        short peak = 0;
        const int end =
            m_state > 0
                ? FollowRun<true>(y, i, frames, AtLeast(std::ceil(lower)), level, peak, last)
                : FollowRun<false>(y, i, frames, AtLeast(std::floor(upper)) + 1, level, peak, last);
        if (end > i) {
            if (m_count > 0)
                m_extreme = m_state > 0 ? std::max(m_extreme, peak) : std::min(m_extreme, peak);
            else
                m_extreme = peak;
            m_count += end - i;
        }
        if (end == frames)
            break;
        // y[end] flips the switch and starts the next half-period.
        const short before = end > 0 ? last : m_last;
        const short crossed = y[end];
        const float threshold = m_state > 0 ? lower : upper;
        const short from = m_out;
        const bool carried =
            Carried(m_state > 0 ? float(m_extreme) - m_mid : m_mid - float(m_extreme));
        if (m_state != 0)
            Close(m_state);
        m_state = m_state > 0 ? -1 : 1;
        m_extreme = crossed;
        m_count = 1;
        const short to = carried ? (m_state > 0 ? up : down) : from;
        m_out = to;
        y[end] = m_settings.timed && to != from ? Timed(before, crossed, threshold, from, to) : to;
        last = crossed;
        i = end + 1;
    }
    if (frames > 0)
        m_last = last;
    return Level();
}

int LevelFollower::Flow(const short* in, int frames, short* out) {
    if (out != in)
        std::memmove(out, in, size_t(frames > 0 ? frames : 0) * sizeof(short));
    Process(out, frames);
    return frames;
}

} // namespace regen
