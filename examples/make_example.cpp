// Writes the example recording: 4 s of 44.1 kHz 16-bit mono PCM, a faint
// hiss with two loud bursts of a 440 Hz tone, so that pulseregen finds a
// span with quiet blocks inside it. The output is the same on every run.
#include "MonoWav.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = kRate * 4;

double Burst(double t) {
    // Two bursts, each with a short attack and release so the edges are soft.
    const double bursts[][2] = {{0.80, 1.60}, {2.40, 3.00}};
    for (const auto& b : bursts) {
        if (t < b[0] || t > b[1])
            continue;
        const double edge = std::fmin(t - b[0], b[1] - t);
        return 22000.0 * std::fmin(1.0, edge / 0.02);
    }
    return 0.0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> wav = MonoWavHeader(kRate, kFrames);

    uint32_t noise = 12345; // a fixed linear congruential sequence
    const double kTwoPi = 6.283185307179586;
    for (uint32_t i = 0; i < kFrames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (double(noise >> 16) / 65535.0 - 0.5) * 600.0;
        const double t = double(i) / kRate;
        const double v = Burst(t) * std::sin(kTwoPi * 440.0 * t) + hiss;
        PutLe(wav, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))), 2);
    }

    FILE* fp = fopen(argv[1], "wb");
    if (!fp || fwrite(wav.data(), 1, wav.size(), fp) != wav.size() || fclose(fp) != 0) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
