#include "Loader.h"

namespace regen {

void LoadSignal(CWave& in, short* block, int frames, Channel channel, std::vector<float>& scratch) {
    if (channel == Channel::kMix) {
        in.LoadWaveShort(block, frames, 0, 0);
        return;
    }
    // The float loader picks one channel or their difference; v / 32768 is
    // exact in a float, so scaling back gives the 16-bit value itself.
    scratch.resize(size_t(frames));
    in.LoadWaveFloat(scratch.data(), frames, int(channel) << CWave::kMixShift, 0);
    for (int i = 0; i < frames; ++i)
        block[i] = short(scratch[size_t(i)] * 32768.0f);
}

// The float loader mixes a file's first two channels by mode, the 16-bit
// one gives the two channels of a file of two as they are and the one
// channel of a file of one in both: for such files its pairs give the same
// judged signal without the float round trip. A file of more channels has
// the average of all of them in both, so it goes the float way.
Loader::Loader(CWave& in, Channel channel)
    : m_in(in), m_channel(channel),
      m_fromPairs(channel != Channel::kMix && in.GetFormatChunk().channels <= 2 &&
                  in.GetSampleFormat().channels <= 2) {}

int Loader::Load(short* block, int frames) {
    const uint64_t before = m_in.GetLoadedFrames();
    if (m_fromPairs) {
        m_pairs.resize(2 * size_t(frames > 0 ? frames : 0));
        m_in.LoadWaveShort(m_pairs.data(), frames, 1, 1);
        const short* pair = m_pairs.data();
        for (int i = 0; i < frames; ++i, pair += 2) {
            const int left = pair[0], right = pair[1];
            // The difference is halved toward zero, as the float loader's mix.
            block[i] = short(m_channel == Channel::kLeft    ? left
                             : m_channel == Channel::kRight ? right
                                                            : (left - right) / 2);
        }
    } else {
        LoadSignal(m_in, block, frames, m_channel, m_scratch);
    }
    const int held = int(m_in.GetLoadedFrames() - before);
    m_held += uint64_t(held);
    return held;
}

} // namespace regen
