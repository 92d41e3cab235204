// A stage of the regeneration chain and the chain itself. A stage is
// started by its constructor, then flows: each call takes a run of samples
// and gives what it can of its output, carrying its state to the next call,
// so that the result does not depend on where the runs are cut. A stage
// that looks ahead gives its output later than its input and drains what
// it still holds at the end.
#pragma once

#include <memory>
#include <vector>

namespace regen {

class Stage {
  public:
    virtual ~Stage() = default;
    // Takes `frames` samples of `in` and writes up to `frames` samples of
    // output to `out` (which may be `in`); returns how many it wrote.
    virtual int Flow(const short* in, int frames, short* out) = 0;
    // After the last Flow: writes what it still holds (at most MaxDrain()
    // samples) and returns how many.
    virtual int Drain(short* /*out*/) { return 0; }
    virtual int MaxDrain() const { return 0; }
};

// Stages run in order, each one's output the next one's input.
class Chain {
  public:
    void Add(std::unique_ptr<Stage> stage);
    // The output of the whole chain for `frames` samples, in `out` (which may
    // be `in`; sized for MaxOutput(frames)); returns how many.
    int Flow(const short* in, int frames, short* out);
    // What every stage still holds, flowed through those after it.
    int Drain(short* out);
    // The most one Flow of `frames` or the Drain can give.
    int MaxOutput(int frames) const;

  private:
    int FlowFrom(size_t first, const short* in, int frames, short* out);

    std::vector<std::unique_ptr<Stage>> m_stages;
    std::vector<short> m_scratch;
};

} // namespace regen
