// Fields are assembled byte by byte, so the layout holds on any host; only
// the sample loops (Decode.h) rely on a little-endian one.
#include "WavFormat.h"

#include <algorithm>
#include <cstring>

namespace wav {

CWave::tWaveFmtChunk DecodeFmtChunk(const unsigned char* b) {
    CWave::tWaveFmtChunk f{};
    std::memcpy(f.chunkId, b, 4);
    f.chunkSize = int32_t(Le32(b + 4));
    const unsigned char* body = b + kChunkHeaderBytes;
    f.formatTag = int16_t(Le16(body + kTagAt));
    f.channels = Le16(body + kChannelsAt);
    f.sampleRate = Le32(body + kSampleRateAt);
    f.byteRate = Le32(body + kByteRateAt);
    f.blockAlign = Le16(body + kBlockAlignAt);
    f.bitsPerSample = Le16(body + kBitsAt);
    return f;
}

uint64_t FmtExtraBytes(int32_t chunkSize) {
    // The chunk ends chunkSize + 8 bytes after its start, a sum that wraps in
    // 32 bits; an end that wraps negative or lies within the 24 bytes already
    // read leaves nothing to skip. Imposed, odd as it is: the library's
    // callers rely on which files the 16-bit reader accepts.
    const int32_t end = int32_t(uint32_t(chunkSize) + uint32_t(kChunkHeaderBytes));
    return end > int32_t(kFmtBytes) ? uint64_t(end) - kFmtBytes : 0;
}

Layout Pcm16Layout(const CWave::tWaveFmtChunk& fmt) {
    Layout l;
    l.channels = fmt.channels;
    l.containerBytes = l.valueBytes = fmt.bitsPerSample <= 8 ? 1 : 2;
    return l;
}

Layout LayoutOf(const CWave::tSampleFormat& format) {
    Layout l;
    l.channels = format.channels;
    l.containerBytes = format.containerBits / 8;
    l.isFloat = format.encoding == kTagFloat;
    // A wider container is read whole (its valid bits at the top) unless the
    // sample stands in its low bytes.
    l.valueBytes = format.lowBytes ? (format.bits + 7u) / 8u : l.containerBytes;
    return l;
}

CWave::tSampleFormat DescribeFormat(const unsigned char* body, size_t size) {
    CWave::tSampleFormat f{};
    const uint16_t tag = Le16(body + kTagAt);
    const uint16_t blockAlign = Le16(body + kBlockAlignAt);
    f.channels = Le16(body + kChannelsAt);
    f.bits = Le16(body + kBitsAt);
    f.containerBits = f.bits;
    f.encoding = int16_t(tag);
    f.extensible = tag == kTagExtensible;
    if (f.extensible) {
        f.encoding = 0;
        if (size < kExtensibleBytes)
            return f;
        const unsigned char* guid = body + kSubformatAt;
        if (std::memcmp(guid + 2, kSubformatTail, sizeof kSubformatTail) == 0)
            f.encoding = int16_t(Le16(guid));
        // Some writers leave the valid bits 0: all of the container.
        const uint16_t valid = Le16(body + kValidBitsAt);
        if (valid != 0)
            f.bits = valid;
        return f;
    }
    // A plain header's samples fill whole bytes; a block align that gives each
    // a wider container (24-bit samples in 4 bytes, as ALSA's S24_LE) puts
    // them in its low bytes. 16-bit PCM is read as it always has been, by its
    // bits alone.
    const unsigned bytes = (f.bits + 7u) / 8u;
    f.containerBits = uint16_t(bytes * 8);
    const bool pcm16 = tag == kTagPcm && f.bits == kPcm16Bits;
    if (f.channels > 0 && blockAlign % f.channels == 0 && !pcm16) {
        const unsigned container = blockAlign / f.channels;
        if (tag == kTagPcm && container > bytes && container <= 4) {
            f.containerBits = uint16_t(container * 8);
            f.lowBytes = true;
        }
    }
    return f;
}

bool Readable(const CWave::tSampleFormat& f) {
    if (f.containerBits % 8 != 0 || f.bits == 0 || f.bits > f.containerBits)
        return false;
    if (f.encoding == kTagPcm)
        return f.containerBits <= 32;
    if (f.encoding == kTagFloat)
        return f.bits == f.containerBits && (f.bits == 32 || f.bits == 64);
    return false;
}

uint64_t TrailingChunksStart(const unsigned char* tail, size_t size, uint64_t fileEnd,
                             uint64_t dataTop) {
    const uint64_t tailAt = fileEnd - size;
    const uint64_t from = std::max(tailAt, dataTop);
    if (size > kTrailerWindow || from + kChunkHeaderBytes > fileEnd)
        return fileEnd;
    // earliest[t]: the first chunk's start (from tailAt) among those that end
    // at tailAt + t, its pad byte counted or not. Filled from the last start
    // down, so that the first one stays.
    constexpr uint16_t kNone = 0xFFFF;
    static_assert(kTrailerWindow - kChunkHeaderBytes < kNone, "a start fits below kNone");
    uint16_t earliest[kTrailerWindow + 1];
    std::fill(earliest, earliest + size + 1, kNone);
    for (uint64_t at = fileEnd - kChunkHeaderBytes + 1; at-- > from;) {
        const unsigned char* p = tail + (at - tailAt);
        if (!IsTrailingId(p))
            continue;
        const uint64_t room = fileEnd - at - kChunkHeaderBytes;
        const uint64_t chunk = Le32(p + 4);
        const uint64_t t = at - tailAt + kChunkHeaderBytes + chunk;
        if (chunk <= room)
            earliest[t] = uint16_t(at - tailAt);
        if (chunk % 2 == 1 && chunk + 1 <= room)
            earliest[t + 1] = uint16_t(at - tailAt);
    }
    // Back from the end, each step to the earliest chunk that ends where the
    // last one found begins: the largest, so that a list's last subchunk is
    // not taken for the list.
    uint64_t end = fileEnd;
    while (earliest[end - tailAt] != kNone)
        end = tailAt + earliest[end - tailAt];
    return end;
}

CWave::tWaveFmtChunk MakeFmtChunk(const CWave::tOutputWaveFormat& format) {
    CWave::tWaveFmtChunk f{};
    std::memcpy(f.chunkId, "fmt ", 4);
    f.chunkSize = kFmtFieldBytes;
    f.formatTag = kTagPcm;
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
    constexpr uint64_t kMaxData = (kMaxRiffSize - kRiffSizeBeforeData) & ~uint64_t(1);
    if (bytesPerSample <= 0 || channels <= 0)
        return 0;
    const uint64_t frameBytes = uint64_t(bytesPerSample) * uint64_t(channels);
    if (frames > kMaxData / frameBytes)
        return uint32_t(kMaxData / frameBytes * frameBytes);
    return uint32_t(frames * frameBytes);
}

uint32_t RiffSize(uint32_t dataSize) {
    return dataSize + kRiffSizeBeforeData + (dataSize & 1);
}

void EncodeFmtChunk(unsigned char* b, const CWave::tWaveFmtChunk& fmt) {
    std::memcpy(b, fmt.chunkId, 4);
    PutLe32(b + 4, uint32_t(fmt.chunkSize));
    unsigned char* body = b + kChunkHeaderBytes;
    PutLe16(body + kTagAt, uint16_t(fmt.formatTag));
    PutLe16(body + kChannelsAt, fmt.channels);
    PutLe32(body + kSampleRateAt, fmt.sampleRate);
    PutLe32(body + kByteRateAt, fmt.byteRate);
    PutLe16(body + kBlockAlignAt, fmt.blockAlign);
    PutLe16(body + kBitsAt, fmt.bitsPerSample);
}

void EncodeHeader(unsigned char* out, const CWave::tWaveFmtChunk& fmt, uint32_t riffSize,
                  uint32_t dataSize) {
    std::memcpy(out, "RIFF", 4);
    PutLe32(out + kRiffSizeAt, riffSize);
    std::memcpy(out + kRiffSizeAt + 4, "WAVE", 4);
    EncodeFmtChunk(out + kFmtChunkAt, fmt);
    std::memcpy(out + kDataChunkAt, "data", 4);
    PutLe32(out + kDataSizeAt, dataSize);
}

} // namespace wav
