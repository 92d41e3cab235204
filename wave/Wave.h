// CWave: reads 16-bit PCM RIFF/WAVE files block by block and writes them.
//
// One object is either a reader (OpenWave) or a writer (OutputWave). The
// library never allocates and never prints; it answers with status values.
// The one abrupt stop is get_ulong, which ends the process with status 1 when
// a header's 32-bit size field is cut off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class CWave {
  public:
    // Output sample format handed to OutputWave.
    struct tOutputWaveFormat {
        int32_t samplingRate;   // samples per second
        int32_t bytesPerSample; // bytes of one single-channel sample: 2 or 1
        int32_t channels;       // 1 or 2
    };

    // The first 24 bytes of a format chunk, as they stand in the file.
    struct tWaveFmtChunk {
        char chunkId[4];
        int32_t chunkSize;
        int16_t formatTag;
        uint16_t channels;
        uint32_t sampleRate;
        uint32_t byteRate;
        uint16_t blockAlign;
        uint16_t bitsPerSample;
    };

    static constexpr size_t kFileNameSize = 2560;
    // Bytes of file data decoded per stdio call; a multiple of every frame
    // size the fast paths handle (2 and 4 bytes).
    static constexpr size_t kIoBytes = 64 * 1024;

    CWave();
    virtual ~CWave();
    CWave(const CWave&) = delete;
    CWave& operator=(const CWave&) = delete;

    int CloseWave();

    unsigned get_ushort(FILE* fp);
    unsigned long get_ulong(FILE* fp);

    // Reading.
    int OpenWave(const char* path);
    int GetSampleLength();
    // Frames the loaders have delivered whole since the last open; a load
    // that adds fewer than it asked for met the end of the file.
    uint64_t GetLoadedFrames();
    void SetTopPage();
    void SetNextPage();
    void SetPrevPage();
    int SetPos(int frame);
    void LoadWaveShort(short* buffer, int frames, int stereo, int interleaved);
    void LoadWaveShortStereo(short* buffer, int frames, int interleaved);
    // Samples as floats, value / 32768. Bit 0 of `flags` asks for two output
    // channels; flags >> 8 picks how the first two channels L and R fold into
    // one: 1 L, 2 R, 3 and 16 (L - R) / 2, any other (L + R) / 2. A
    // one-channel file has R equal to L.
    void LoadWaveFloat(float* buffer, int frames, int flags, int interleaved);
    void LoadWaveFloatStereo(float* buffer, int frames, int interleaved);
    // Moves past `frames` sample frames without reading them, with the same
    // effect on later loads as loading them and dropping the result: the
    // stream moves by the bytes those frames occupy, counted in 64 bits so
    // that any length of file is safe, and m_offset advances as for a load.
    // Past the end of the file the position lies beyond it, so later loads
    // give zeros, as they would have after reading there. Skipped frames are
    // not delivered, so m_loadedFrames stays. Does nothing unless reading.
    void SkipFrames(int frames);
    // What the last OpenWave read, so that a caller can explain a refusal:
    // the format chunk's first 24 bytes (all zero when it was not reached),
    // and the id of the last chunk header read after "WAVE" into `id`
    // (false when none was read).
    const tWaveFmtChunk& GetFormatChunk() const;
    bool GetStopChunkId(char id[4]) const;

    // Writing.
    int OutputWave(const char* path, tOutputWaveFormat* format);
    int OutputWaveFrameByMono(void* samples, int count);
    int OutputWaveFrameByStereo(short* left, short* right, int count);
    int OutputWaveFinalize();
    // The errno of the first failure since OutputWave (creating, writing,
    // positioning or closing the file); 0 when nothing failed.
    int GetWriteErrno();

  private:
    void Seek();
    void Advance(int frames);
    bool StartLoad(int frames);
    bool Write(const void* bytes, size_t size);
    void Failed(); // records a write-side failure and its errno

    char m_fileName[kFileNameSize];
    uint64_t m_outFrames; // 64-bit so that no length of output can wrap it
    uint64_t m_loadedFrames;
    FILE* m_fp;
    int64_t m_dataTop;
    int64_t m_offset;
    uint32_t m_sampleLength;
    uint32_t m_sampleRate;
    tWaveFmtChunk m_fmt;
    char m_stopId[4];
    bool m_stopIdRead;
    tOutputWaveFormat m_outFormat;
    bool m_writing;    // m_fp was attached by OutputWave
    bool m_writeError; // a write since OutputWave failed
    int m_writeErrno;  // errno of that first failure
    unsigned char m_io[kIoBytes];
};

// Pure decoders and encoders of the file layout: bytes in, values out.
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
