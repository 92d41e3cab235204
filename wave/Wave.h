// CWave: reads RIFF/WAVE files block by block, as 16-bit samples, and writes
// 16-bit PCM ones. This is the library's whole public face; the byte layout
// (WavFormat.h) and the decoding loops (Decode.h) are internal.
//
// One object is either a reader (OpenWave) or a writer (OutputWave). The
// library never allocates and never prints; it answers with status values.
// The one abrupt stop is get_ulong, which ends the process with status 1 when
// a header's 32-bit size field is cut off (in the kOpenPcm16 walk).
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

    // How OpenWave reads a file.
    enum tOpenMode {
        // 16-bit PCM only: "fmt " must be the first chunk, and only list
        // chunks may stand between it and the data chunk. Refused with -1 (not
        // 16-bit PCM) or -2 (another chunk before the data), the stream stays
        // attached after what was read.
        kOpenPcm16 = 0,
        // Any WAV file that players read: "RIFF" or "RF64" (its sizes in a
        // "ds64" chunk), any chunks before and after "fmt " skipped by their
        // size (and the pad byte of an odd one), plain or
        // WAVE_FORMAT_EXTENSIBLE formats of integer PCM of 1 to 32 bits or
        // IEEE float of 32 or 64 bits. The loaders give 16-bit values:
        // integers their top 16 bits (an arithmetic shift; 8-bit samples are
        // unsigned, (byte - 128) x 256), floats value x 32768 rounded toward
        // zero and held within -32768..32767 (NaN gives 0). An EXTENSIBLE
        // sample with fewer valid bits than its container is read from the
        // whole container (its high bytes); a plain header whose block align
        // is wider than channels x bits / 8 holds each sample in the low bytes
        // of its container. A 16-bit PCM file reads exactly as with
        // kOpenPcm16. Positions count the file's own frames (SetPos(n) is
        // frame n; a page is 524,288 frames) in 64 bits. Anything refused
        // gives 0 (or -1 for samples it cannot read) and leaves nothing
        // attached; a header cut off inside a size field is refused too.
        // Lengths beyond 2^31 - 1 frames read as that many.
        kOpenAnyWav = 1,
    };

    // What the last OpenWave found: kOpened, or why it refused the file.
    enum tOpenStatus {
        kOpened = 0,
        kCannotOpen,        // the file could not be opened; GetOpenErrno says why
        kNotWave,           // not a RIFF/WAVE file
        kRf64,              // an RF64 file, which only kOpenAnyWav reads
        kFirstChunkNotFmt,  // kOpenPcm16: the first chunk (GetStopChunkId) is not "fmt "
        kUnsupportedFormat, // samples the mode does not read (GetSampleFormat)
        kChunkBeforeData,   // kOpenPcm16: the chunk GetStopChunkId names stands
                            // between the format and the data chunk
        kNoFormatChunk,     // kOpenAnyWav: the data chunk comes before any "fmt "
        kNoDataChunk,       // the file ends before a data chunk
        kEmptyData,         // the data chunk holds no whole frame
        kUnknownLength,     // the data chunk declares 0 bytes, yet samples follow
                            // it: a header written to a pipe, before the
                            // length was known
    };

    // How the file the last OpenWave read stores its samples, as far as its
    // format chunk tells; all zero until a format chunk is read.
    struct tSampleFormat {
        int16_t encoding; // 1 integer PCM, 3 IEEE float, else the format tag
                          // (an EXTENSIBLE file's subformat's; 0 when unknown)
        uint16_t channels;
        uint16_t bits;          // bits of each sample that carry it
        uint16_t containerBits; // bits each sample takes in a frame
        bool lowBytes;          // the bits fill the low bytes of a wider container
                                // (a plain header with a wider block align), which
                                // readers that go by the bits alone misread
        bool extensible;        // the format chunk is WAVE_FORMAT_EXTENSIBLE
        bool rf64;              // an RF64 file
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
    int OpenWave(const char* path); // kOpenPcm16
    int OpenWave(const char* path, tOpenMode mode);
    // OpenWave on a file the caller already has open as `fd`, from the
    // descriptor's current offset: the header walk starts there and every
    // position stays an offset in the file. The object reads through a
    // duplicate of `fd` and closes only that; the caller keeps `fd`, which
    // shares its offset with the duplicate. Same results as OpenWave; 0 with
    // errno set (and kCannotOpen) when `fd` cannot be duplicated or read as
    // a stream.
    int OpenWaveFd(int fd); // kOpenPcm16
    int OpenWaveFd(int fd, tOpenMode mode);
    // The length in frames: what the data chunk declares, or, when the file
    // ends before the data chunk does (a header written to a pipe, which
    // could not go back to set the size), the whole frames the file holds of
    // it, up to any chunks that close the file. The loaders stop at the end
    // of that data: what follows it reads as silence.
    int GetSampleLength();
    // The frames the data chunk's header declares; more than the length for
    // a file that ends early.
    uint64_t GetDeclaredLength() const;
    tOpenStatus GetOpenStatus() const;
    int GetOpenErrno() const; // for kCannotOpen
    const tSampleFormat& GetSampleFormat() const;
    // Frames the loaders have delivered whole since the last open; a load
    // that adds fewer than it asked for met the end of the data.
    uint64_t GetLoadedFrames();
    // Positions: the first sample, a page on or back, frame `frame`. Opened
    // with kOpenPcm16 they count 2 bytes a sample (frames of 16-bit audio,
    // a page being 1 MiB per channel) in wrapping 32-bit arithmetic; with
    // kOpenAnyWav, the file's own frames. Every load moves the running
    // position by the frames it asked for.
    void SetTopPage();
    void SetNextPage();
    void SetPrevPage();
    int SetPos(int frame);
    void LoadWaveShort(short* buffer, int frames, int stereo, int interleaved);
    void LoadWaveShortStereo(short* buffer, int frames, int interleaved);
    // Samples as floats: the 16-bit value LoadWaveShort gives, / 32768 (so
    // wider samples keep their top 16 bits here too). Bit 0 of `flags` asks
    // for two output channels; flags >> 8 picks how the first two channels L
    // and R fold into one: 1 L, 2 R, 3 and 16 (L - R) / 2, any other
    // (L + R) / 2. A one-channel file has R equal to L.
    void LoadWaveFloat(float* buffer, int frames, int flags, int interleaved);
    void LoadWaveFloatStereo(float* buffer, int frames, int interleaved);
    // Loading frames only to drop them costs their decoding; this seeks
    // instead and leaves every later load as if they had been loaded (past
    // the end of the data too). They were not delivered, so
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
    // Attaches fp (null: kCannotOpen, errno kept) and walks its header.
    int OpenStream(FILE* fp, tOpenMode mode);
    bool SetOutputFormat(const tOutputWaveFormat* format);
    int StartOutput(FILE* fp); // attaches fp (null: errno) and writes the header
    // The header walks, on the attached stream; each returns OpenWave's value.
    int ReadHeader(tOpenMode mode);
    int ReadPcm16Header();
    int ReadAnyHeader();
    int ReadFormatChunk(uint64_t size, bool rf64);
    int FoundData(uint64_t declaredBytes);
    int Refuse(tOpenStatus status);
    // Stream moves that keep m_pos.
    bool ReadBytes(void* to, size_t count);
    uint64_t ReadSize();
    void SkipBytes(uint64_t count);
    void SkipPad(uint64_t size);
    bool SeekTo(int64_t at);
    int64_t PositionBytes(int64_t frames) const;
    uint64_t FrameBytes() const;
    int FramesLeft(int frames) const;
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
    tOpenMode m_mode;
    tOpenStatus m_status;
    int m_openErrno;
    tSampleFormat m_format;
    uint64_t m_declaredFrames;
    int64_t m_pos;     // where the stream stands, as the reader has moved it
    int64_t m_dataEnd; // loads stop here: the end of the data the file holds
    tOutputWaveFormat m_outFormat;
    bool m_writing;    // m_fp was attached by OutputWave
    bool m_writeError; // a write since OutputWave failed
    int m_writeErrno;  // errno of that first failure
    // Scratch for decoding and encoding runs, held here so that neither
    // allocates; its size is wav::kIoBytes (Decode.h).
    unsigned char m_io[64 * 1024];
};
