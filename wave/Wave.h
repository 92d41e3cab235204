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

namespace wav {
struct StreamBuffers; // internal: Stream.h
} // namespace wav

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

    // Channel mixes of LoadWaveFloat, for the flag word's bits 8 and up:
    // how the first two channels L and R of a frame fold into one value. The
    // divisions truncate toward zero; any value not named here gives the
    // average.
    enum tMixMode {
        kMixAverage = 0,    // (L + R) / 2
        kMixLeft = 1,       // L
        kMixRight = 2,      // R
        kMixDifference = 3, // (L - R) / 2
        // The same as kMixDifference: callers that pass 16 rely on it.
        kMixDifferenceToo = 16,
    };
    // LoadWaveFloat's flag word is kLoadStereo (or 0 for one output channel)
    // | mode << kMixShift; bits 1 to 7 are ignored.
    enum tLoadFlags { kLoadStereo = 1, kMixShift = 8 };

    // tSampleFormat::encoding of integer PCM and of IEEE float samples, their
    // format tags.
    enum tEncoding { kEncodingPcm = 1, kEncodingFloat = 3 };

    static constexpr size_t kFileNameSize = 2560;

    // An idle object: nothing attached, every member zero.
    CWave();
    // Calls CloseWave: a writer that was not finalised keeps sizes of 0.
    virtual ~CWave();
    CWave(const CWave&) = delete;
    CWave& operator=(const CWave&) = delete;

    // Closes the attached file, if any, without finalising a writer, and
    // leaves the object idle. Returns 0, always.
    int CloseWave();

    // Read a 2- or 4-byte little-endian value from `fp`. On a short read they
    // end the process with exit status 1 and print nothing: callers of the
    // kOpenPcm16 walk, which reads every size field with get_ulong, rely on
    // that status for a header cut off inside a size field.
    unsigned get_ushort(FILE* fp);
    unsigned long get_ulong(FILE* fp);

    // ---------------------------------------------------------------- reading

    // Closes whatever the object holds, opens `path` and reads its header up
    // to the first sample, in `mode` (the one-argument form: kOpenPcm16).
    //
    // Returns the length in frames, with the file positioned at its first
    // sample (see GetSampleLength). On refusal (GetOpenStatus says why):
    //   0   when the file cannot be opened (errno, and GetOpenErrno, tell
    //       why), is not RIFF/WAVE (kOpenPcm16: or its first chunk is not
    //       "fmt "; kOpenAnyWav: or no format chunk comes before the data),
    //       or has no data chunk; nothing is attached. A data chunk without
    //       a whole frame gives 0 too, the file still attached in kOpenPcm16.
    //   -1  samples the mode does not read. kOpenPcm16 keeps the file
    //       attached (nothing should be loaded from it); kOpenAnyWav does not.
    //   -2  kOpenPcm16 only: a chunk other than a list chunk stands between
    //       the format and the data chunk; the file stays attached.
    // An attached file is closed by CloseWave, the next OpenWave or the
    // destructor. In kOpenPcm16 a header cut off inside a size field ends the
    // process (get_ulong); kOpenAnyWav refuses it with 0.
    int OpenWave(const char* path);
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
    // OpenWaveFd on a stream of which the caller has read the first
    // `headBytes` already, to see what it holds: they are `head`, and the
    // file goes on at `fd`'s offset. Positions count from the head's first
    // byte, and the object cannot seek: it reads the file once, from the
    // first sample on. With `fd` < 0 the head is the whole file.
    int OpenWaveFd(int fd, tOpenMode mode, const void* head, size_t headBytes);
    // The length the last successful OpenWave returned (0 on a fresh
    // object): the frames the data chunk declares, or, when the file ends
    // before the data chunk does (a header written to a pipe, which could not
    // go back to set the size), the whole frames the file holds of it, up to
    // any chunks that close the file. The loaders stop at the end of that
    // data: what follows it reads as silence. A stream that cannot seek (a
    // pipe) tells where it ends only when it is read there: until then the
    // length is the declared one, and once a load or skip reaches an end
    // short of it, it is what the stream held.
    int GetSampleLength();
    // The frames the data chunk's header declares; more than the length for
    // a file that ends early.
    uint64_t GetDeclaredLength() const;
    // In a file that ends early, the bytes at its end taken for chunks that
    // close it (a LIST or id3 chunk, padding: only ids that writers put after
    // the audio) rather than samples; else 0.
    uint64_t GetTrailingBytes() const;
    // What the last OpenWave found: kOpened, or why it refused the file.
    tOpenStatus GetOpenStatus() const;
    // The errno of a file that could not be opened (kCannotOpen); else 0.
    int GetOpenErrno() const;
    // How the last file opened stores its samples; all zero before a format
    // chunk is read.
    const tSampleFormat& GetSampleFormat() const;
    // Frames the loaders have delivered whole since the last OpenWave or
    // OutputWave; a load that adds fewer than it asked for met the end of the
    // data, or a read that failed (GetReadErrno).
    uint64_t GetLoadedFrames();
    // The errno of the first read that failed (EIO from a failing disk, say)
    // since the last OpenWave: the loaders and SkipFrames zero-fill from
    // there as at the end of the data, so a caller that is to trust the
    // samples checks this after its reads. 0 when no read failed.
    int GetReadErrno() const;
    // What the last OpenWave read, so that a caller can explain a refusal:
    // the format chunk's first 24 bytes (all zero when it was not reached).
    const tWaveFmtChunk& GetFormatChunk() const;
    // Copies into `id` (not NUL-terminated) the id of the last chunk header
    // the last OpenWave read after "WAVE": the chunk that stopped it, or
    // "data". Returns false, leaving `id` untouched, when none was read.
    bool GetStopChunkId(char id[4]) const;

    // Positions: the first sample, a page on or back, frame `frame`. Opened
    // with kOpenPcm16 they count 2 bytes a sample (frames of 16-bit audio,
    // a page being 1 MiB per channel) in wrapping 32-bit arithmetic, whatever
    // the sample size: callers that page through 8-bit or long files rely on
    // where that lands. With kOpenAnyWav, the file's own frames in 64 bits (a
    // page is 524,288 frames). Every load moves the running position by the
    // frames it asked for. No target is checked against the data: loads from
    // beyond it give zeros. On an object that is not reading they do nothing.
    void SetTopPage();
    void SetNextPage();
    void SetPrevPage();
    // Returns 0, or -1 when the object is not reading or the seek fails
    // (after a failed seek the running position has moved all the same).
    int SetPos(int frame);
    // Moves on as a load of `frames` frames would, without decoding them;
    // they are not counted by GetLoadedFrames.
    void SkipFrames(int frames);

    // Loaders: `frames` frames from the current position into `buffer`, which
    // the caller sizes: `frames` values for one output channel, 2 x `frames`
    // for two, interleaved (frame i at 2i and 2i + 1) when `interleaved` is
    // non-zero, else planar (the first channel, then the second). Frames past
    // the end of the data are zero in every channel; nothing is reported but
    // GetLoadedFrames, which grows by the frames read. An object that is not
    // reading zero-fills the buffer.
    //
    // 16-bit values: with `stereo` zero, the mean of all the frame's
    // channels, truncated toward zero; else two channels, a two-channel
    // file's as they are, any other file's mean in both. Samples other than
    // 16-bit ones keep their top 16 bits (see kOpenAnyWav).
    void LoadWaveShort(short* buffer, int frames, int stereo, int interleaved);
    // LoadWaveShort(buffer, frames, 1, interleaved).
    void LoadWaveShortStereo(short* buffer, int frames, int interleaved);
    // Floats: the 16-bit values LoadWaveShort gives, / 32768, from -1.0 to
    // just under 1.0. `flags` (see tLoadFlags) asks for one or two output
    // channels and names the tMixMode that folds L and R wherever a frame
    // becomes one value: mono output, or two channels from a file that has
    // not two. A one-channel file has R equal to L; further channels take
    // no part.
    void LoadWaveFloat(float* buffer, int frames, int flags, int interleaved);
    // LoadWaveFloat(buffer, frames, kLoadStereo, interleaved): mode kMixAverage.
    void LoadWaveFloatStereo(float* buffer, int frames, int interleaved);

    // ---------------------------------------------------------------- writing

    // Creates `path` (or empties it) and writes a 44-byte header with both
    // sizes 0. `format` null means 44,100 Hz, 2 bytes a sample, 2 channels.
    // Returns 0, positioned after the header; -1 when a file is attached
    // already (nothing is touched), when bytesPerSample or channels is not 1
    // or 2, when the file cannot be created, or when writing the header fails
    // (the file is closed and left as it is; GetWriteErrno says why).
    int OutputWave(const char* path, tOutputWaveFormat* format);
    // OutputWave on a file the caller has created and holds open for writing
    // as `fd`, positioned at its start; nothing is truncated. The object
    // writes through a duplicate of `fd` and OutputWaveFinalize closes only
    // that, so the caller can still flush, rename or copy the file. 0, or -1
    // (GetWriteErrno says why) as OutputWave.
    int OutputWaveFd(int fd, tOutputWaveFormat* format);
    // Appends `count` frames of one sample each: `count` 16-bit values, or
    // `count` bytes for 8-bit output; a two-channel output gets each sample
    // in both channels. Returns 0, or -1 when the object is not writing. A
    // failed write does not change the result: OutputWaveFinalize reports it.
    int OutputWaveFrameByMono(void* samples, int count);
    // Appends `count` two-channel 16-bit frames, frame i from left[i] and
    // right[i]. Returns 0; -1 when the object is not writing, -2 when the
    // output has not two channels, -3 when it is not 16-bit, checked in that
    // order. Write failures as for OutputWaveFrameByMono.
    int OutputWaveFrameByStereo(short* left, short* right, int count);
    // Pads odd data with a zero byte, writes the exact sizes of the frames
    // appended into the header (as many as a 32-bit RIFF size allows) and
    // closes the file. Returns 0; -1 when the object is not writing; -2 when
    // a write, a seek or the close failed since OutputWave. The object is
    // idle afterwards in every case.
    int OutputWaveFinalize();
    // The errno of the first failure since OutputWave (creating, writing,
    // positioning or closing the file); 0 when nothing failed.
    int GetWriteErrno();

  private:
    class Lookahead; // Lookahead.h
    // A stream for reading a duplicate of `fd` (null: errno set): through a
    // Lookahead where `fd` cannot seek or a head was read from it already.
    FILE* ReadStreamOn(int fd, const void* head, size_t headBytes);
    // A stream that cannot seek has ended before its declared data did:
    // the length becomes what it held.
    void EndOfStream();
    // Sets the length and where the loads stop from the data's bytes.
    void SetDataBytes(uint64_t bytes);
    // A stream on a duplicate of `fd`, which the caller keeps; null with
    // errno set on failure.
    static FILE* StreamOn(int fd, const char* mode);
    void ReleaseStreamBuffer(); // after the stream is closed
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
    void WriteSizeAt(int64_t offset, uint32_t value);
    bool StopWriting();
    void Failed();    // keeps the first errno: later failures follow from it
    void CheckRead(); // after a short read: keeps the errno of a failed one

    // Written by every open; no operation reads it back. Do not remove it:
    // callers built against the library rely on the object's members and
    // their layout staying as they are.
    char m_fileName[kFileNameSize];
    uint64_t m_outFrames;    // 64-bit so that no length of output can wrap it
    uint64_t m_loadedFrames; // for GetLoadedFrames
    FILE* m_fp;
    int64_t m_dataTop;
    int64_t m_offset;
    uint32_t m_sampleLength;
    // Written when an open reads a format chunk; no operation reads it back
    // (GetFormatChunk gives the rate). Kept, as m_fileName is, for the
    // callers that rely on the members staying as they are.
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
    bool m_writing;           // m_fp was attached by OutputWave
    bool m_writeError;        // a write since OutputWave failed
    int m_writeErrno;         // errno of that first failure
    int m_readErrno;          // errno of the first failed read since OpenWave
    uint64_t m_trailingBytes; // for GetTrailingBytes
    // Scratch for decoding and encoding runs, held here so that neither
    // allocates; its size is wav::kIoBytes (Decode.h).
    unsigned char m_io[64 * 1024];
    // The stream's buffer (wav::kStreamBufferBytes) and the loaders' buffer
    // as large, freed once it is closed; null for stdio's own buffer, the
    // loaders then reading their runs into m_io.
    wav::StreamBuffers* m_buffers;
    // The stream's Lookahead, freed when the stream is closed; null for a
    // stream that seeks.
    Lookahead* m_lookahead;
};
