// The RIFF/WAVE byte layout as pure functions, bytes in and values out:
// little-endian fields, the format chunk, the 44-byte header and the size
// arithmetic of the writer. Internal to the library and its tests; kept
// apart from the stream handling so each rule can be tested on its own.
#pragma once

#include "Wave.h"

#include <cstddef>
#include <cstdint>

namespace wav {

// The 44-byte header the writer emits: "RIFF", its size and "WAVE", the
// 24-byte format chunk (id, size, 16 bytes of fields), "data" and its size.
constexpr size_t kChunkHeaderBytes = 8; // id and 32-bit size
constexpr size_t kFmtFieldBytes = 16;   // the fields every format chunk has
constexpr size_t kFmtBytes = kChunkHeaderBytes + kFmtFieldBytes;
constexpr size_t kRiffSizeAt = 4;
constexpr size_t kFmtChunkAt = 12;
constexpr size_t kDataChunkAt = kFmtChunkAt + kFmtBytes;
constexpr size_t kDataSizeAt = kDataChunkAt + 4;
constexpr size_t kHeaderBytes = kDataChunkAt + kChunkHeaderBytes;
static_assert(kHeaderBytes == 44, "the canonical header");
// The RIFF size counts every byte after its own field: the rest of the
// header (36 bytes), then the data.
constexpr uint32_t kRiffSizeBeforeData = kHeaderBytes - kChunkHeaderBytes;
constexpr uint32_t kMaxRiffSize = 0xFFFFFFFFu;

// Format tags, the values of tSampleFormat::encoding.
constexpr uint16_t kTagPcm = CWave::kEncodingPcm;
constexpr uint16_t kTagFloat = CWave::kEncodingFloat;
constexpr uint16_t kTagExtensible = 0xFFFE;
// The one format the 16-bit reader takes: PCM of this many bits.
constexpr uint16_t kPcm16Bits = 16;

// The format chunk's body: the fields every format has, at these offsets,
// and the 40 bytes of WAVE_FORMAT_EXTENSIBLE, which adds its size, the valid
// bits, the channel mask and the subformat GUID.
constexpr size_t kTagAt = 0;
constexpr size_t kChannelsAt = 2;
constexpr size_t kSampleRateAt = 4;
constexpr size_t kByteRateAt = 8;
constexpr size_t kBlockAlignAt = 12;
constexpr size_t kBitsAt = 14;
constexpr size_t kExtensibleBytes = 40;
constexpr size_t kValidBitsAt = 18;
constexpr size_t kSubformatAt = 24;
// A subformat GUID is a format tag in its first two bytes followed by these
// fourteen (KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT among them).
constexpr unsigned char kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// RF64 (and BW64, its broadcast twin) keeps the sizes that outgrow 32 bits
// in a "ds64" chunk: 64-bit RIFF size, data size and sample count, then a
// table this reader does not need. A 32-bit size of 0xFFFFFFFF says "see ds64".
constexpr size_t kDs64Bytes = 24;
constexpr size_t kDs64DataSizeAt = 8;
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFFu;

// A RIFF file is no longer than the 8 bytes before its size field and the
// most that 32-bit field can hold.
constexpr uint64_t kRiffMaxBytes = uint64_t(UINT32_MAX) + kRiffSizeAt + 4;

// Lengths are ints in the interface.
constexpr uint64_t kMaxLength = 0x7FFFFFFF;
// Chunks that close a file after streamed samples are looked for in this
// many bytes at its end (tags and lists are far smaller).
constexpr size_t kTrailerWindow = 64 * 1024;

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
inline uint64_t Le64(const unsigned char* p) {
    return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}
inline bool IsId(const unsigned char* p, const char* id) {
    return p[0] == uint8_t(id[0]) && p[1] == uint8_t(id[1]) && p[2] == uint8_t(id[2]) &&
           p[3] == uint8_t(id[3]);
}
// Four printable ASCII characters, as every chunk id is.
inline bool IsPrintableId(const unsigned char* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return true;
}
// The chunks that writers put after the audio (metadata, cue points,
// padding). Only these end a file whose data chunk claims more than it
// holds: four printable bytes alone are too common in samples (two 16-bit
// samples of 20,000 are " N N").
constexpr char kTrailingIds[][5] = {"LIST", "list", "id3 ", "ID3 ", "JUNK", "junk", "PAD ",
                                    "FLLR", "bext", "cue ", "fact", "smpl", "inst", "acid",
                                    "_PMX", "iXML", "umid", "DISP", "afsp", "cart", "axml",
                                    "levl", "PEAK", "plst", "minf", "elm1", "regn"};
inline bool IsTrailingId(const unsigned char* p) {
    for (const char* id : kTrailingIds)
        if (IsId(p, id))
            return true;
    return false;
}
inline bool IsRf64(const unsigned char* p) {
    return IsId(p, "RF64") || IsId(p, "BW64");
}

// How the loaders turn one frame of the file into 16-bit values. Samples of
// one or two bytes are decoded by the loaders' own loops; any other is first
// converted to 16 bits, run by run.
struct Layout {
    unsigned channels = 0;
    unsigned containerBytes = 2; // bytes each sample takes in the file
    unsigned valueBytes = 2;     // integer bytes read from the container's start
    bool isFloat = false;

    bool Converted() const { return isFloat || valueBytes != containerBytes || valueBytes > 2; }
    // Bytes of one sample as the loaders' loops decode it.
    unsigned SampleBytes() const { return Converted() ? 2 : containerBytes; }
    uint64_t FrameBytes() const { return uint64_t(channels) * containerBytes; }
};
// The layout the 16-bit reader has always used: one byte per sample up to 8
// bits, two otherwise.
Layout Pcm16Layout(const CWave::tWaveFmtChunk& fmt);
Layout LayoutOf(const CWave::tSampleFormat& format);

// What the first `size` bytes (at least 16) of a format chunk's body say
// about the samples.
CWave::tSampleFormat DescribeFormat(const unsigned char* body, size_t size);
// Whether the any-WAV reader decodes samples of this format.
bool Readable(const CWave::tSampleFormat& format);

// Where the data ends in a file whose data chunk claims more than the file
// holds: before any chunks that close the file, found in `tail`, the last
// `size` bytes of it (at most kTrailerWindow, ending at `fileEnd`). Walking
// back from the end, each step takes the earliest chunk (an IsTrailingId id, size
// reaching exactly the last one found, or the end) that starts not before
// `dataTop`. `fileEnd` when there are none.
uint64_t TrailingChunksStart(const unsigned char* tail, size_t size, uint64_t fileEnd,
                             uint64_t dataTop);

// The format chunk's first 24 bytes, header included, and back.
CWave::tWaveFmtChunk DecodeFmtChunk(const unsigned char* bytes);
void EncodeFmtChunk(unsigned char* bytes, const CWave::tWaveFmtChunk& fmt);
// Bytes of a format chunk beyond the 24 that are read; 0 for sizes of 16 or
// less and for sizes whose end does not fit a signed 32-bit count.
uint64_t FmtExtraBytes(int32_t chunkSize);
// The 16-byte format chunk (plus its 8-byte header) that the writer emits.
CWave::tWaveFmtChunk MakeFmtChunk(const CWave::tOutputWaveFormat& format);
// The data size to declare for `frames` appended frames: a whole number of
// frames, kept small enough that the RIFF size fits in 32 bits.
uint32_t DeclaredDataBytes(uint64_t frames, int32_t bytesPerSample, int32_t channels);
// The RIFF size for a data chunk of `dataSize` bytes: the header bytes after
// the size field, and the pad byte that follows an odd chunk.
uint32_t RiffSize(uint32_t dataSize);
// The 44-byte header: RIFF, WAVE, the format chunk and the data chunk header.
void EncodeHeader(unsigned char* out, const CWave::tWaveFmtChunk& fmt, uint32_t riffSize,
                  uint32_t dataSize);

} // namespace wav
