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

int Loader::Load(short* block, int frames) {
    const uint64_t before = m_in.GetLoadedFrames();
    LoadSignal(m_in, block, frames, m_channel, m_scratch);
    const int held = int(m_in.GetLoadedFrames() - before);
    m_held += uint64_t(held);
    return held;
}

} // namespace regen
