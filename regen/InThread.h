// A stage run on a thread of its own, a batch behind the chain: while the
// stages after it work on what it gave for one batch, it works on the
// next. It gives what the stage inside gives, in the same order, only
// later; a stage whose output does not depend on how its input is cut
// into runs (every stage of the chain) gives the same samples either way.
#pragma once

#include "Stage.h"
#include "Worker.h"

#include <memory>
#include <vector>

namespace regen {

class InThread : public Stage {
  public:
    // `batch`: the frames gathered before the thread takes them, large
    // enough that handing them over costs little beside filtering them.
    InThread(std::unique_ptr<Stage> inner, int batch);
    ~InThread() override = default;
    InThread(const InThread&) = delete;
    InThread& operator=(const InThread&) = delete;

    int Flow(const short* in, int frames, short* out) override;
    int Drain(short* out) override;
    int MaxDrain() const override;

  private:
    void Hand();    // the gathered batch, to the thread
    void Collect(); // waits for the thread's batch and keeps what it gave
    void Give(const short* samples, int frames); // to what is ready
    static void FlowWork(void* self);

    std::unique_ptr<Stage> m_inner;
    const int m_batch;
    const int m_innerDrain;        // the stage inside's MaxDrain
    std::vector<short> m_gathered; // input for the next batch
    std::vector<short> m_ready;    // output not yet given, from m_readyFrom on
    size_t m_readyFrom = 0;
    // The batch the worker flows, its output in place, and how much it gave:
    // the worker's while it runs, this stage's once it has waited.
    std::vector<short> m_work;
    int m_workGiven = 0;
    bool m_working = false; // a batch was handed and not yet collected
    wav::Worker m_worker;   // last: destroyed first, while the rest still stands
};

} // namespace regen
