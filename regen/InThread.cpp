#include "InThread.h"

#include <algorithm>
#include <cstring>

namespace regen {

InThread::InThread(std::unique_ptr<Stage> inner, int batch)
    : m_inner(std::move(inner)), m_batch(std::max(batch, 1)), m_innerDrain(m_inner->MaxDrain()),
      m_worker(FlowWork, this) {
    m_gathered.reserve(size_t(m_batch));
}

int InThread::Flow(const short* in, int frames, short* out) {
    // Taken in pieces of at most a batch, so that what waits here stays
    // within MaxDrain; `in` is copied before `out`, which may be `in`, is
    // written.
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, m_batch - int(m_gathered.size()));
        m_gathered.insert(m_gathered.end(), in + done, in + done + n);
        done += n;
        if (int(m_gathered.size()) == m_batch)
            Hand();
    }
    const int given =
        int(std::min<size_t>(size_t(std::max(frames, 0)), m_ready.size() - m_readyFrom));
    if (given > 0) // nothing ready may be no buffer at all
        std::memcpy(out, m_ready.data() + m_readyFrom, size_t(given) * sizeof(short));
    m_readyFrom += size_t(given);
    return given;
}

int InThread::Drain(short* out) {
    Collect();
    const int n = int(m_gathered.size());
    Give(m_gathered.data(), m_inner->Flow(m_gathered.data(), n, m_gathered.data()));
    m_gathered.clear();
    std::vector<short> held(static_cast<size_t>(m_innerDrain));
    Give(held.data(), m_inner->Drain(held.data()));
    const size_t left = m_ready.size() - m_readyFrom;
    if (left > 0)
        std::memcpy(out, m_ready.data() + m_readyFrom, left * sizeof(short));
    m_ready.clear();
    m_readyFrom = 0;
    return int(left);
}

int InThread::MaxDrain() const {
    // What waits at the end: the batch being gathered, the one in the
    // thread, and what is ready but not given, which a Flow of fewer frames
    // than a batch leaves at up to two batches; and what the stage inside
    // holds. (Read from the construction: the thread may be at work.)
    return 4 * m_batch + m_innerDrain;
}

void InThread::Give(const short* samples, int frames) {
    if (m_readyFrom > 0) { // what was given makes room
        m_ready.erase(m_ready.begin(), m_ready.begin() + long(m_readyFrom));
        m_readyFrom = 0;
    }
    m_ready.insert(m_ready.end(), samples, samples + std::max(frames, 0));
}

void InThread::Hand() {
    Collect();
    m_work.swap(m_gathered);
    m_gathered.clear();
    m_working = true;
    if (!m_worker.Post()) { // no thread: flowed here
        FlowWork(this);
        Collect();
    }
}

void InThread::Collect() {
    if (!m_working)
        return;
    m_worker.Wait();
    m_working = false;
    if (m_readyFrom == m_ready.size()) { // all given: the batch's output is what is ready
        m_ready.swap(m_work);
        m_ready.resize(size_t(m_workGiven));
        m_readyFrom = 0;
    } else {
        Give(m_work.data(), m_workGiven);
    }
}

void InThread::FlowWork(void* self) {
    auto* s = static_cast<InThread*>(self);
    s->m_workGiven = s->m_inner->Flow(s->m_work.data(), int(s->m_work.size()), s->m_work.data());
}

} // namespace regen
