// The bytes of a 16-bit mono PCM WAV file, for the programs that make the
// example recordings: the 44-byte header, then the samples appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline void PutLe(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

inline void PutId(std::vector<unsigned char>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}

// The header of `frames` frames at `rate`, with nothing after the data chunk.
inline std::vector<unsigned char> MonoWavHeader(uint32_t rate, uint32_t frames) {
    std::vector<unsigned char> wav;
    wav.reserve(44 + size_t(frames) * 2);
    PutId(wav, "RIFF");
    PutLe(wav, 36 + frames * 2, 4);
    PutId(wav, "WAVE");
    PutId(wav, "fmt ");
    PutLe(wav, 16, 4);
    PutLe(wav, 1, 2); // PCM
    PutLe(wav, 1, 2); // mono
    PutLe(wav, rate, 4);
    PutLe(wav, rate * 2, 4);
    PutLe(wav, 2, 2);
    PutLe(wav, 16, 2);
    PutId(wav, "data");
    PutLe(wav, frames * 2, 4);
    return wav;
}
