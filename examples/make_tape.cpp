// Writes the noisy example recording: 1200-baud FSK text (Bell 202 tones,
// 1200 Hz for a 1 bit and 2200 Hz for a 0, each byte framed by a start and
// a stop bit, as minimodem sends it), recorded the way a worn tape deck
// plays it back: quiet (peaks near 5,000, under the fixed active level),
// dulled by a low-pass, with hiss, mains hum and a slowly drifting DC
// offset. 44.1 kHz 16-bit mono PCM; the same bytes on every run.
#include "MonoWav.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRate = 44100;
constexpr double kBaud = 1200;
constexpr double kMark = 1200, kSpace = 2200;
constexpr double kLeadSeconds = 0.5; // silence, then carrier, before the text
constexpr double kCarrierSeconds = 0.3;
constexpr double kTailSeconds = 0.5;
constexpr char kText[] = "pulseregen example tape: the quick brown fox jumps over the lazy dog. "
                         "0123456789\n";

// The bits sent, one per baud: carrier (1s), then each byte as a 0 start
// bit, eight data bits from the lowest, and a 1 stop bit, then carrier.
std::vector<int> Bits() {
    std::vector<int> bits(size_t(kCarrierSeconds * kBaud), 1);
    for (const char c : std::string(kText)) {
        bits.push_back(0);
        for (int b = 0; b < 8; ++b)
            bits.push_back((static_cast<unsigned char>(c) >> b) & 1);
        bits.push_back(1);
    }
    bits.insert(bits.end(), size_t(kCarrierSeconds * kBaud), 1);
    return bits;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const std::vector<int> bits = Bits();
    const uint32_t lead = uint32_t(kLeadSeconds * kRate);
    const uint32_t tones = uint32_t(double(bits.size()) / kBaud * kRate);
    const uint32_t frames = lead + tones + uint32_t(kTailSeconds * kRate);

    std::vector<unsigned char> wav = MonoWavHeader(kRate, frames);

    const double kTwoPi = 6.283185307179586;
    uint32_t noise = 2024; // a fixed linear congruential sequence
    double phase = 0, dull = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        double tone = 0;
        if (i >= lead && i < lead + tones) {
            const size_t bit = size_t(double(i - lead) * kBaud / kRate);
            phase += kTwoPi * (bits[bit] ? kMark : kSpace) / kRate; // continuous phase
            tone = 5200.0 * std::sin(phase);
        }
        // The deck's low-pass: one pole near 5 kHz.
        dull += (tone - dull) * 0.5;
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (double(noise >> 16) / 65535.0 - 0.5) * 1400.0;
        const double t = double(i) / kRate;
        const double hum = 500.0 * std::sin(kTwoPi * 50.0 * t);
        const double drift = 1500.0 * std::sin(kTwoPi * 0.4 * t);
        const double v = dull + hiss + hum + drift;
        PutLe(wav, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))), 2);
    }

    FILE* fp = fopen(argv[1], "wb");
    if (!fp || fwrite(wav.data(), 1, wav.size(), fp) != wav.size() || fclose(fp) != 0) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
