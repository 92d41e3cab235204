// Fields are assembled byte by byte, so the layout holds on any host; only
// the sample loops (Decode.h) rely on a little-endian one.
#include "WavFormat.h"

#include <cstring>

namespace wav {

CWave::tWaveFmtChunk DecodeFmtChunk(const unsigned char* b) {
    CWave::tWaveFmtChunk f{};
    std::memcpy(f.chunkId, b, 4);
    f.chunkSize = int32_t(Le32(b + 4));
    f.formatTag = int16_t(Le16(b + 8));
    f.channels = Le16(b + 10);
    f.sampleRate = Le32(b + 12);
    f.byteRate = Le32(b + 16);
    f.blockAlign = Le16(b + 20);
    f.bitsPerSample = Le16(b + 22);
    return f;
}

uint64_t FmtExtraBytes(int32_t chunkSize) {
    // The chunk ends chunkSize + 8 bytes after its start, a sum that wraps in
    // 32 bits; an end that wraps negative or lies within the 24 bytes already
    // read leaves nothing to skip.
    const int32_t end = int32_t(uint32_t(chunkSize) + 8u);
    return end > int32_t(kFmtBytes) ? uint64_t(end) - kFmtBytes : 0;
}

uint32_t FrameCount(uint64_t dataSize, unsigned channels, unsigned bitsPerSample) {
    const uint64_t sampleBytes = bitsPerSample / 8;
    if (channels == 0 || sampleBytes == 0)
        return 0;
    return uint32_t(dataSize / channels / sampleBytes);
}

CWave::tWaveFmtChunk MakeFmtChunk(const CWave::tOutputWaveFormat& format) {
    CWave::tWaveFmtChunk f{};
    std::memcpy(f.chunkId, "fmt ", 4);
    f.chunkSize = 16;
    f.formatTag = 1;
    f.channels = uint16_t(format.channels);
    f.sampleRate = uint32_t(format.samplingRate);
    f.bitsPerSample = uint16_t(uint32_t(format.bytesPerSample) * 8u);
    f.blockAlign = uint16_t(unsigned(f.bitsPerSample / 8) * f.channels);
    f.byteRate = f.sampleRate * f.blockAlign;
    return f;
}

uint32_t DeclaredDataBytes(uint64_t frames, int32_t bytesPerSample, int32_t channels) {
    // The largest even size leaves room for the RIFF size and a pad byte; the
    // clamp then drops to a whole number of frames.
    constexpr uint64_t kMaxData = (kMaxRiffSize - 36) & ~uint64_t(1);
    if (bytesPerSample <= 0 || channels <= 0)
        return 0;
    const uint64_t frameBytes = uint64_t(bytesPerSample) * uint64_t(channels);
    if (frames > kMaxData / frameBytes)
        return uint32_t(kMaxData / frameBytes * frameBytes);
    return uint32_t(frames * frameBytes);
}

uint32_t RiffSize(uint32_t dataSize) {
    return dataSize + 36 + (dataSize & 1);
}

void EncodeHeader(unsigned char* out, const CWave::tWaveFmtChunk& fmt, uint32_t riffSize,
                  uint32_t dataSize) {
    std::memcpy(out, "RIFF", 4);
    PutLe32(out + 4, riffSize);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, fmt.chunkId, 4);
    PutLe32(out + 16, uint32_t(fmt.chunkSize));
    PutLe16(out + 20, uint16_t(fmt.formatTag));
    PutLe16(out + 22, fmt.channels);
    PutLe32(out + 24, fmt.sampleRate);
    PutLe32(out + 28, fmt.byteRate);
    PutLe16(out + 32, fmt.blockAlign);
    PutLe16(out + 34, fmt.bitsPerSample);
    std::memcpy(out + 36, "data", 4);
    PutLe32(out + 40, dataSize);
}

} // namespace wav
