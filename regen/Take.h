// The span's end: a stage that passes the first `count` samples it is
// given and drops the rest, so that a stage that looks ahead can be fed
// past the span without the switch seeing what lies beyond it.
#pragma once

#include "Stage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace regen {

class Take : public Stage {
  public:
    explicit Take(uint64_t count) : m_left(count) {}

    int Flow(const short* in, int frames, short* out) override {
        const int n = int(std::min<uint64_t>(m_left, uint64_t(frames > 0 ? frames : 0)));
        if (out != in)
            std::memmove(out, in, size_t(n) * sizeof(short));
        m_left -= uint64_t(n);
        return n;
    }

  private:
    uint64_t m_left;
};

} // namespace regen
