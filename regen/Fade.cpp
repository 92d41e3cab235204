#include "Fade.h"

#include "Settings.h"

namespace regen {

void MakeFade(short* block, short level) {
    // From the level itself, not the negation written before it (imposed,
    // see Regenerate). The ratio is formed first, in double precision, and
    // the product truncated: scaling by (kBlockFrames - i) before dividing
    // rounds some samples differently (sample 4,992 of a 30,000 fade would
    // be 15,375).
    for (int i = 0; i < kBlockFrames; ++i) {
        const double ratio = (kBlockFrames - i) / double(kBlockFrames);
        block[i] = short(level * ratio);
    }
}

} // namespace regen
