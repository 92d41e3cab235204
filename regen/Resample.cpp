#include "Resample.h"

#include "Settings.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace regen {

namespace {

// The kernel is held at this many positions between two input frames; the
// output takes the nearest, a timing error of at most 1/512 of a frame.
constexpr int kPhases = 256;
// Zero crossings of the sinc on each side: with the Blackman window its
// stop band lies 58 dB down, below the 16-bit noise of most recordings.
constexpr int kZeroCrossings = 16;
// The pass band ends at this share of the lower rate's Nyquist frequency,
// where the window's transition band begins.
constexpr double kPassShare = 0.9;
// The taps are summed in this many partial sums, which the compiler keeps
// in vector lanes: one sum would wait on each addition in turn.
constexpr int kLanes = 8;
// The history is trimmed once this many frames before the kernel's reach
// have gathered, so that trimming costs little.
constexpr int64_t kTrimFrames = 1 << 16;

double Sinc(double x) {
    return x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
}

} // namespace

uint64_t ResampledFrames(uint64_t frames, int from, int to) {
    return (frames * uint64_t(to) + uint64_t(from) - 1) / uint64_t(from);
}

Resampler::Resampler(int from, int to, int channels)
    : m_channels(channels), m_history(size_t(channels)) {
    const uint64_t common = std::gcd(uint64_t(from), uint64_t(to));
    m_from = uint64_t(from) / common;
    m_to = uint64_t(to) / common;
    // The cutoff in cycles per input frame: below both rates' Nyquist
    // frequencies, so that going down to a lower rate folds nothing back.
    const double cutoff = 0.5 * kPassShare * std::min(1.0, double(to) / double(from));
    m_half = int(std::ceil(kZeroCrossings / (2 * cutoff)));
    m_half += (kLanes / 2 - m_half % (kLanes / 2)) % (kLanes / 2); // whole lanes of taps
    const int taps = 2 * m_half;
    m_kernel.resize(size_t(kPhases) * size_t(taps));
    for (int p = 0; p < kPhases; ++p) {
        // Row p weighs input frames i - half + 1 ... i + half for an output
        // frame at i + p / kPhases; each row sums to 1, so a constant stays.
        float* row = &m_kernel[size_t(p) * size_t(taps)];
        double sum = 0;
        for (int j = 0; j < taps; ++j) {
            const double u = (j - m_half + 1) - double(p) / kPhases;
            const double w = 0.42 + 0.5 * std::cos(M_PI * u / m_half) +
                             0.08 * std::cos(2 * M_PI * u / m_half); // Blackman over +-half
            const double k = std::fabs(u) >= m_half ? 0.0 : 2 * cutoff * Sinc(2 * cutoff * u) * w;
            row[j] = float(k);
            sum += k;
        }
        for (int j = 0; j < taps; ++j)
            row[j] = float(row[j] / sum);
    }
    // Before the first frame the recording is silent.
    m_first = -m_half;
    for (std::vector<float>& h : m_history)
        h.assign(size_t(m_half), 0.0f);
}

void Resampler::Give(std::vector<short>& out, int64_t available) {
    const int taps = 2 * m_half;
    for (;; ++m_next) {
        // Output frame n lies at input frame n * from / to, held exactly.
        const uint64_t at = m_next * m_from;
        int64_t i = int64_t(at / m_to);
        uint64_t phase = ((at % m_to) * 2 * kPhases + m_to) / (2 * m_to);
        if (phase == uint64_t(kPhases))
            ++i, phase = 0;
        if (i + m_half >= available)
            break;
        const float* row = &m_kernel[size_t(phase) * size_t(taps)];
        for (const std::vector<float>& h : m_history) {
            const float* x = &h[size_t(i - m_half + 1 - m_first)];
            float lanes[kLanes] = {};
            for (int j = 0; j < taps; j += kLanes)
                for (int k = 0; k < kLanes; ++k)
                    lanes[k] += row[j + k] * x[j + k];
            float sum = 0;
            for (float lane : lanes)
                sum += lane;
            out.push_back(short(std::lrint(std::clamp(sum, -32768.0f, 32767.0f))));
        }
    }
    // Frames the kernel will not reach again.
    const int64_t reach = int64_t(m_next * m_from / m_to) - m_half;
    if (reach - m_first > kTrimFrames) {
        for (std::vector<float>& h : m_history)
            h.erase(h.begin(), h.begin() + (reach - m_first));
        m_first = reach;
    }
}

void Resampler::Flow(const short* in, int frames, std::vector<short>& out) {
    for (int c = 0; c < m_channels; ++c) {
        std::vector<float>& h = m_history[size_t(c)];
        for (int i = 0; i < frames; ++i)
            h.push_back(float(in[size_t(i) * size_t(m_channels) + size_t(c)]));
    }
    m_given += uint64_t(frames);
    Give(out, m_first + int64_t(m_history[0].size()));
}

void Resampler::Drain(std::vector<short>& out) {
    // The silence after the end lets the last frames' kernels through;
    // what it would add past the recording's length is cut.
    const uint64_t total = ResampledFrames(m_given, int(m_from), int(m_to));
    const size_t due = size_t(total > m_next ? total - m_next : 0) * size_t(m_channels);
    const size_t start = out.size();
    for (std::vector<float>& h : m_history)
        h.resize(h.size() + size_t(m_half) + 1, 0.0f);
    Give(out, m_first + int64_t(m_history[0].size()));
    out.resize(std::min(out.size(), start + due));
}

bool CopyResampled(CWave& in, CWave& copy, int rate, uint64_t mostFrames) {
    const int channels = in.GetFormatChunk().channels == 2 ? 2 : 1;
    Resampler resampler(int(in.GetFormatChunk().sampleRate), rate, channels);
    std::vector<short> block(size_t(kBlockFrames) * size_t(channels)), out, left, right;
    uint64_t written = 0;
    auto write = [&] {
        written += out.size() / size_t(channels);
        if (written > mostFrames)
            return false;
        if (channels == 1) {
            copy.OutputWaveFrameByMono(out.data(), int(out.size()));
        } else {
            const size_t frames = out.size() / 2;
            left.resize(frames);
            right.resize(frames);
            for (size_t i = 0; i < frames; ++i)
                left[i] = out[2 * i], right[i] = out[2 * i + 1];
            copy.OutputWaveFrameByStereo(left.data(), right.data(), int(frames));
        }
        out.clear();
        return true;
    };
    for (;;) {
        const uint64_t had = in.GetLoadedFrames();
        in.LoadWaveShort(block.data(), kBlockFrames, channels == 2, 1);
        const int got = int(in.GetLoadedFrames() - had);
        resampler.Flow(block.data(), got, out);
        if (!write())
            return false;
        if (got < kBlockFrames)
            break;
    }
    resampler.Drain(out);
    return write();
}

} // namespace regen
