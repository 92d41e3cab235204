// CWave: reads 16-bit PCM RIFF/WAVE files block by block and writes them.
// This is the library's whole public face; the byte layout (WavFormat.h) and
// the decoding loops (Decode.h) are internal.
//
// One object is either a reader (OpenWave) or a writer (OutputWave). The
// library never allocates and never prints; it answers with status values.
// The one abrupt stop is get_ulong, which ends the process with status 1 when
// a header's 32-bit size field is cut off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The library is built with every symbol hidden; the class alone is exported.
#if defined(__GNUC__)
#define CWAVE_EXPORT __attribute__((visibility("default")))
#else
#define CWAVE_EXPORT
#endif

class CWAVE_EXPORT CWave {
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

    CWave();
    virtual ~CWave();
    CWave(const CWave&) = delete;
    CWave& operator=(const CWave&) = delete;

    int CloseWave();

    unsigned get_ushort(FILE* fp);
    unsigned long get_ulong(FILE* fp);

    // Reading.
    int OpenWave(const char* path);
    // OpenWave on a file the caller already has open as `fd`, from the
    // descriptor's current offset: the header walk starts there and every
    // position stays an offset in the file. The object reads through a
    // duplicate of `fd` and closes only that; the caller keeps `fd`, which
    // shares its offset with the duplicate. Same results as OpenWave; 0 with
    // errno set when `fd` cannot be duplicated or read as a stream.
    int OpenWaveFd(int fd);
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
    // Loading frames only to drop them costs their decoding; this seeks
    // instead and leaves every later load as if they had been loaded (past
    // the end of the file too). They were not delivered, so
    // GetLoadedFrames does not count them.
    void SkipFrames(int frames);
    // What the last OpenWave read, so that a caller can explain a refusal:
    // the format chunk's first 24 bytes (all zero when it was not reached),
    // and the id of the last chunk header read after "WAVE" into `id`
    // (false when none was read).
    const tWaveFmtChunk& GetFormatChunk() const;
    bool GetStopChunkId(char id[4]) const;

    // Writing.
    int OutputWave(const char* path, tOutputWaveFormat* format);
    // OutputWave on a file the caller has created and holds open for writing
    // as `fd`, positioned at its start; nothing is truncated. The object
    // writes through a duplicate of `fd` and OutputWaveFinalize closes only
    // that, so the caller can still flush, rename or copy the file. 0, or -1
    // (GetWriteErrno says why) as OutputWave.
    int OutputWaveFd(int fd, tOutputWaveFormat* format);
    int OutputWaveFrameByMono(void* samples, int count);
    int OutputWaveFrameByStereo(short* left, short* right, int count);
    int OutputWaveFinalize();
    // The errno of the first failure since OutputWave (creating, writing,
    // positioning or closing the file); 0 when nothing failed.
    int GetWriteErrno();

  private:
    // A stream on a duplicate of `fd`, which the caller keeps; null with
    // errno set on failure.
    static FILE* StreamOn(int fd, const char* mode);
    int OpenStream(FILE* fp); // attaches fp (null: nothing) and walks its header
    bool SetOutputFormat(const tOutputWaveFormat* format);
    int StartOutput(FILE* fp); // attaches fp (null: errno) and writes the header
    void Seek();
    void Advance(int frames);
    bool StartLoad(int frames);
    bool Write(const void* bytes, size_t size);
    void Failed(); // keeps the first errno: later failures follow from it

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
    // Scratch for decoding and encoding runs, held here so that neither
    // allocates; its size is wav::kIoBytes (Decode.h).
    unsigned char m_io[64 * 1024];
};
