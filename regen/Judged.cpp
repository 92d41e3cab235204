#include "Judged.h"

#include "Loader.h"

namespace regen {

namespace {

constexpr int kEvenBalance = 50; // percent: the plain mix

} // namespace

bool Combines(const Settings& settings) {
    const bool pair = settings.channel == Channel::kMix || settings.channel == Channel::kDiff;
    return pair && (settings.lag != 0 || settings.balance != kEvenBalance);
}

JudgedSource::JudgedSource(const Settings& settings) : m_settings(settings) {
    if (Combines(settings))
        m_aligner = std::make_unique<Aligner>(settings.lag, settings.balance / 100.0,
                                              settings.channel == Channel::kDiff ? -1 : 1);
}

void JudgedSource::Load(CWave& in, short* block, int frames) {
    if (!m_aligner || in.GetFormatChunk().channels != 2) {
        LoadSignal(in, block, frames, m_settings.channel, m_scratch);
        return;
    }
    m_stereo.resize(2 * size_t(frames));
    in.LoadWaveShortStereo(m_stereo.data(), frames, 1);
    m_aligner->Process(m_stereo.data(), block, frames);
}

} // namespace regen
