#include "Stage.h"

#include <algorithm>
#include <cstring>

namespace regen {

void Chain::Add(std::unique_ptr<Stage> stage) {
    m_stages.push_back(std::move(stage));
}

int Chain::MaxOutput(int frames) const {
    // A Flow gives at most what it takes; the drain, what every stage holds.
    int held = 0;
    for (const auto& stage : m_stages)
        held += stage->MaxDrain();
    return std::max(frames, held);
}

int Chain::FlowFrom(size_t first, const short* in, int frames, short* out) {
    if (first == m_stages.size()) {
        if (out != in && frames > 0)
            std::memmove(out, in, size_t(frames) * sizeof(short));
        return frames;
    }
    // Each stage writes into `out` from the previous stage's output there.
    for (size_t s = first; s < m_stages.size() && frames > 0; ++s) {
        frames = m_stages[s]->Flow(in, frames, out);
        in = out;
    }
    return frames;
}

int Chain::Flow(const short* in, int frames, short* out) {
    return FlowFrom(0, in, frames, out);
}

int Chain::Drain(short* out) {
    // A stage's drained samples still pass through every stage after it,
    // which drain in turn.
    int total = 0;
    int most = 0;
    for (const auto& stage : m_stages)
        most = std::max(most, stage->MaxDrain());
    m_scratch.resize(size_t(most));
    for (size_t s = 0; s < m_stages.size(); ++s) {
        const int held = m_stages[s]->Drain(m_scratch.data());
        total += FlowFrom(s + 1, m_scratch.data(), held, out + total);
    }
    return total;
}

} // namespace regen
