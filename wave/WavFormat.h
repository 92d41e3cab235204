// The RIFF/WAVE byte layout as pure functions, bytes in and values out:
// little-endian fields, the format chunk, the 44-byte header and the size
// arithmetic of the writer. Internal to the library and its tests; kept
// apart from the stream handling so each rule can be tested on its own.
#pragma once

#include "Wave.h"

#include <cstddef>
#include <cstdint>

namespace wav {

constexpr size_t kHeaderBytes = 44;
constexpr size_t kFmtBytes = 24;
constexpr uint32_t kMaxRiffSize = 0xFFFFFFFFu;

inline uint16_t Le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutLe16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutLe32(unsigned char* p, uint32_t v) {
    PutLe16(p, uint16_t(v));
    PutLe16(p + 2, uint16_t(v >> 16));
}
inline bool IsId(const unsigned char* p, const char* id) {
    return p[0] == uint8_t(id[0]) && p[1] == uint8_t(id[1]) && p[2] == uint8_t(id[2]) &&
           p[3] == uint8_t(id[3]);
}

CWave::tWaveFmtChunk DecodeFmtChunk(const unsigned char* bytes);
// Bytes of a format chunk beyond the 24 that are read; 0 for sizes of 16 or
// less and for sizes whose end does not fit a signed 32-bit count.
uint64_t FmtExtraBytes(int32_t chunkSize);
// Sample frames held by a data chunk of `dataSize` bytes; 0 for no channels.
uint32_t FrameCount(uint64_t dataSize, unsigned channels, unsigned bitsPerSample);
// The 16-byte format chunk (plus its 8-byte header) that the writer emits.
CWave::tWaveFmtChunk MakeFmtChunk(const CWave::tOutputWaveFormat& format);
// The data size to declare for `frames` appended frames: a whole number of
// frames, kept small enough that the RIFF size fits in 32 bits.
uint32_t DeclaredDataBytes(uint64_t frames, int32_t bytesPerSample, int32_t channels);
// The RIFF size for a data chunk of `dataSize` bytes: the 36 header bytes
// after the size field, and the pad byte that follows an odd chunk.
uint32_t RiffSize(uint32_t dataSize);
// The 44-byte header: RIFF, WAVE, the format chunk and the data chunk header.
void EncodeHeader(unsigned char* out, const CWave::tWaveFmtChunk& fmt, uint32_t riffSize,
                  uint32_t dataSize);

} // namespace wav
