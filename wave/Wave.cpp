#include "Wave.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

// Sample data and header fields are copied between files and memory as
// images of the file bytes, so the host must store integers little-endian
// (as the 64-bit ARM and x86 targets do).
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "CWave needs a little-endian host"
#endif

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

namespace {

constexpr int kPageShift = 20; // a page is 1 MiB of file per channel

// Moves the stream `count` bytes on. A stream that cannot seek (a pipe) is
// read and discarded instead; either way the end of the file stops nothing,
// the next read simply fails.
void SkipBytes(FILE* fp, uint64_t count, unsigned char* scratch, size_t scratchSize) {
    if (count == 0 || fseeko(fp, off_t(count), SEEK_CUR) == 0)
        return;
    while (count > 0) {
        const size_t n = fread(scratch, 1, size_t(std::min<uint64_t>(count, scratchSize)), fp);
        if (n == 0)
            return;
        count -= n;
    }
}

template <int SampleBytes> int DecodeSample(const unsigned char* p) {
    if constexpr (SampleBytes == 1) {
        return (int(p[0]) - 128) * 256;
    } else {
        // A plain 16-bit load on the little-endian host, which the compiler
        // can widen many samples at a time.
        int16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
}

// The one reading path of every loader. Reads the bytes of `frames` frames
// in runs of at most kIoBytes and hands each frame to the sink as its first
// channel value, its second (the first again for a one-channel file), and the
// sum of all its channels. Channels is the file's channel count when it is 1
// or 2, which lets the compiler specialise the loop, and 0 for any other
// count, given at run time. Returns the frames read whole: where that is
// fewer than `frames`, the file ended or a read failed inside the next one.
template <int SampleBytes, int Channels, class Sink>
int ReadFrames(FILE* fp, unsigned char* io, unsigned channels, int frames, Sink& sink) {
    static_assert(CWave::kIoBytes % 4 == 0, "a full run must hold whole 1- and 2-channel frames");
    if (channels == 0) {
        for (int i = 0; i < frames; ++i)
            sink.Frame(i, 0, 0, 0);
        return frames;
    }
    uint64_t left = uint64_t(frames) * channels * SampleBytes;
    int frame = 0;
    // A frame of many channels may straddle two runs; these carry it over.
    unsigned ch = 0;
    int first = 0, second = 0;
    int64_t sum = 0;
    while (left > 0) {
        const size_t ask = size_t(std::min<uint64_t>(left, CWave::kIoBytes));
        const size_t got = fread(io, 1, ask, fp);
        const unsigned char* p = io;
        if constexpr (Channels > 0) {
            // A counted loop over whole frames, which the compiler vectorises.
            constexpr size_t kFrameBytes = size_t(Channels) * SampleBytes;
            const ptrdiff_t whole = ptrdiff_t(got / kFrameBytes);
            for (ptrdiff_t k = 0; k < whole; ++k) {
                const unsigned char* f = p + k * ptrdiff_t(kFrameBytes);
                const int a = DecodeSample<SampleBytes>(f);
                const int b = Channels == 2 ? DecodeSample<SampleBytes>(f + SampleBytes) : a;
                int64_t total = Channels == 2 ? int64_t(a) + b : a;
                if constexpr (Channels == 2 && SampleBytes == 2) {
                    // The same sum from one 32-bit load split by shifts: lane-wise
                    // arithmetic that vectorises without shuffles. A sink that takes
                    // only the sum, or only the samples, leaves the other unused.
                    uint32_t word;
                    std::memcpy(&word, f, sizeof word);
                    total = (int32_t(word << 16) >> 16) + (int32_t(word) >> 16);
                }
                sink.Frame(frame + k, a, b, total);
            }
            frame += int(whole);
        } else {
            for (const unsigned char* end = io + got / SampleBytes * SampleBytes; p < end;
                 p += SampleBytes) {
                const int v = DecodeSample<SampleBytes>(p);
                if (ch == 0)
                    first = second = v;
                else if (ch == 1)
                    second = v;
                sum += v;
                if (++ch == channels) {
                    sink.Frame(frame++, first, second, sum);
                    ch = 0;
                    sum = 0;
                }
            }
        }
        if (got < ask)
            break;
        left -= got;
    }
    return frame;
}

// Picks the ReadFrames specialisation for the file's sample width and channel
// count, and the matching sink.
template <template <int> class Sink, class... Args>
int Dispatch(FILE* fp, unsigned char* io, const CWave::tWaveFmtChunk& fmt, int frames,
             Args... args) {
    const bool narrow = fmt.bitsPerSample <= 8;
    switch (fmt.channels) {
    case 1: {
        Sink<1> sink{args..., 1u};
        return narrow ? ReadFrames<1, 1>(fp, io, 1, frames, sink)
                      : ReadFrames<2, 1>(fp, io, 1, frames, sink);
    }
    case 2: {
        Sink<2> sink{args..., 2u};
        return narrow ? ReadFrames<1, 2>(fp, io, 2, frames, sink)
                      : ReadFrames<2, 2>(fp, io, 2, frames, sink);
    }
    default: {
        Sink<0> sink{args..., fmt.channels};
        return narrow ? ReadFrames<1, 0>(fp, io, fmt.channels, frames, sink)
                      : ReadFrames<2, 0>(fp, io, fmt.channels, frames, sink);
    }
    }
}

// Sum of a frame's channels divided by their count, truncating toward zero.
template <int Channels> int64_t Average(int64_t sum, unsigned channels) {
    // A frame has at most 65,535 channels of at most 32,768 in magnitude, so
    // its sum fits in 32 bits and a 32-bit division gives the same quotient:
    // cheaper, and for one or two channels the compiler vectorises it.
    if constexpr (Channels > 0)
        return int32_t(sum) / Channels;
    else
        return channels ? int32_t(sum) / int32_t(channels) : 0;
}

// Stores frame i of a two-channel output in the chosen layout.
template <class T> void PutPair(T* out, ptrdiff_t frames, bool interleaved, ptrdiff_t i, T a, T b) {
    if (interleaved) {
        out[2 * i] = a;
        out[2 * i + 1] = b;
    } else {
        out[i] = a;
        out[frames + i] = b;
    }
}

// Zeroes frames `from` to `frames` - 1 of the output in its layout.
template <class T>
void ZeroFrom(T* out, ptrdiff_t frames, ptrdiff_t from, bool stereo, bool interleaved) {
    if (from >= frames)
        return;
    if (!stereo) {
        std::fill(out + from, out + frames, T(0));
    } else if (interleaved) {
        std::fill(out + 2 * from, out + 2 * frames, T(0));
    } else {
        std::fill(out + from, out + frames, T(0));
        std::fill(out + frames + from, out + 2 * frames, T(0));
    }
}

// Folds a frame into two-channel 16-bit output: the two channels as they are
// from a two-channel file (the dispatch hands every two-channel file to
// ShortSink<2>), else the average of all channels in both.
template <int Channels> struct ShortSink {
    short* out;
    ptrdiff_t frames;
    bool interleaved;
    unsigned channels;

    void Frame(ptrdiff_t i, int first, int second, int64_t sum) {
        if constexpr (Channels == 2) {
            PutPair(out, frames, interleaved, i, short(first), short(second));
        } else {
            const short mixed = short(Average<Channels>(sum, channels));
            PutPair(out, frames, interleaved, i, mixed, mixed);
        }
    }
};

// Folds a frame into one 16-bit value, the average of all its channels.
template <int Channels> struct MonoShortSink {
    short* out;
    unsigned channels;

    void Frame(ptrdiff_t i, int, int, int64_t sum) {
        out[i] = short(Average<Channels>(sum, channels));
    }
};

// Folds the first two channel values of a frame into one, by mix mode. The
// divisions truncate toward zero.
inline int64_t Mix(int mode, int64_t left, int64_t right) {
    switch (mode) {
    case 1:
        return left;
    case 2:
        return right;
    case 3:
    case 16:
        return (left - right) / 2;
    default:
        return (left + right) / 2;
    }
}

inline float ToFloat(int64_t v) {
    return float(double(v) / 32768.0);
}

// Folds a frame into float output: the two channels as they are for
// two-channel output from a two-channel file, otherwise the first two
// channels mixed by mode (further channels take no part).
template <int Channels> struct FloatSink {
    float* out;
    ptrdiff_t frames;
    bool stereo;
    bool interleaved;
    int mode;
    unsigned channels;

    void Frame(ptrdiff_t i, int first, int second, int64_t /*sum*/) {
        if (stereo && channels == 2) {
            PutPair(out, frames, interleaved, i, ToFloat(first), ToFloat(second));
            return;
        }
        const float mixed = ToFloat(Mix(mode, first, second));
        if (stereo)
            PutPair(out, frames, interleaved, i, mixed, mixed);
        else
            out[i] = mixed;
    }
};

} // namespace

CWave::CWave()
    : m_fileName{}, m_outFrames(0), m_loadedFrames(0), m_fp(nullptr), m_dataTop(0), m_offset(0),
      m_sampleLength(0), m_sampleRate(0), m_fmt{}, m_stopId{}, m_stopIdRead(false), m_outFormat{},
      m_writing(false), m_writeError(false), m_writeErrno(0), m_io{} {}

CWave::~CWave() {
    CloseWave();
}

int CWave::CloseWave() {
    if (m_fp)
        fclose(m_fp);
    m_fp = nullptr;
    m_writing = false;
    return 0;
}

unsigned CWave::get_ushort(FILE* fp) {
    unsigned char b[2];
    if (!fp || fread(b, 1, 2, fp) != 2)
        std::exit(1);
    return wav::Le16(b);
}

unsigned long CWave::get_ulong(FILE* fp) {
    unsigned char b[4];
    if (!fp || fread(b, 1, 4, fp) != 4)
        std::exit(1);
    return wav::Le32(b);
}

// ---- Reading -------------------------------------------------------------

int CWave::OpenWave(const char* path) {
    CloseWave();
    std::snprintf(m_fileName, sizeof m_fileName, "%s", path ? path : "");
    m_loadedFrames = 0;
    m_fmt = tWaveFmtChunk{};
    m_stopIdRead = false;
    if (!path || !(m_fp = fopen(path, "rb")))
        return 0;
    // Anything that is not a readable RIFF/WAVE header gives 0, detached.
    const auto notWave = [this] {
        CloseWave();
        return 0;
    };

    unsigned char id[4];
    if (fread(id, 1, 4, m_fp) != 4 || !wav::IsId(id, "RIFF"))
        return notWave();
    get_ulong(m_fp); // the RIFF size says nothing the chunks do not
    if (fread(id, 1, 4, m_fp) != 4 || !wav::IsId(id, "WAVE"))
        return notWave();
    unsigned char fmt[wav::kFmtBytes];
    if (fread(fmt, 1, sizeof fmt, m_fp) != sizeof fmt)
        return notWave();
    m_fmt = wav::DecodeFmtChunk(fmt);
    std::memcpy(m_stopId, fmt, 4);
    m_stopIdRead = true;
    if (!wav::IsId(fmt, "fmt "))
        return notWave();
    if (m_fmt.bitsPerSample != 16 || m_fmt.formatTag != 1)
        return -1;
    SkipBytes(m_fp, wav::FmtExtraBytes(m_fmt.chunkSize), m_io, sizeof m_io);
    m_sampleRate = m_fmt.sampleRate;

    // List chunks (metadata) may stand between the format and the data chunk.
    for (;;) {
        if (fread(id, 1, 4, m_fp) != 4)
            return notWave();
        std::memcpy(m_stopId, id, 4);
        const uint64_t size = get_ulong(m_fp);
        if (wav::IsId(id, "data")) {
            m_loadedFrames = 0;
            m_dataTop = ftello(m_fp);
            m_offset = m_dataTop;
            m_sampleLength = wav::FrameCount(size, m_fmt.channels, m_fmt.bitsPerSample);
            return int(m_sampleLength);
        }
        if (!wav::IsId(id, "LIST") && !wav::IsId(id, "list"))
            return -2;
        SkipBytes(m_fp, size, m_io, sizeof m_io);
    }
}

int CWave::GetSampleLength() {
    return int(m_sampleLength);
}

uint64_t CWave::GetLoadedFrames() {
    return m_loadedFrames;
}

const CWave::tWaveFmtChunk& CWave::GetFormatChunk() const {
    return m_fmt;
}

bool CWave::GetStopChunkId(char id[4]) const {
    if (m_stopIdRead)
        std::memcpy(id, m_stopId, 4);
    return m_stopIdRead;
}

void CWave::Seek() {
    fseeko(m_fp, off_t(m_offset), SEEK_SET);
}

void CWave::SetTopPage() {
    if (!m_fp || m_writing)
        return;
    m_offset = m_dataTop;
    Seek();
}

void CWave::SetNextPage() {
    if (!m_fp || m_writing)
        return;
    m_offset += int32_t(uint32_t(m_fmt.channels) << kPageShift);
    Seek();
}

void CWave::SetPrevPage() {
    if (!m_fp || m_writing)
        return;
    m_offset -= int32_t(uint32_t(m_fmt.channels) << kPageShift);
    Seek();
}

int CWave::SetPos(int frame) {
    if (!m_fp || m_writing)
        return -1;
    m_offset = m_dataTop + int32_t(uint32_t(m_fmt.channels) * uint32_t(frame) * 2u);
    return fseeko(m_fp, off_t(m_offset), SEEK_SET) == 0 ? 0 : -1;
}

// Every load moves the running position by the bytes it asked for, counted
// as 16-bit samples in 32-bit arithmetic, whatever it then reads.
void CWave::Advance(int frames) {
    m_offset += int32_t(uint32_t(m_fmt.channels) * 2u * uint32_t(frames));
}

// Every load starts here: the running position moves by the request, and
// only an object that is reading goes on to read.
bool CWave::StartLoad(int frames) {
    const bool reading = m_fp && !m_writing;
    if (reading)
        Advance(frames);
    return reading && frames > 0;
}

void CWave::LoadWaveShort(short* buffer, int frames, int stereo, int interleaved) {
    int done = 0;
    if (StartLoad(frames)) {
        const bool wide = m_fmt.bitsPerSample > 8;
        if (wide && !stereo && m_fmt.channels == 1) // the file's samples are the output
            done = int(fread(buffer, 2, size_t(frames), m_fp));
        else if (wide && stereo && interleaved && m_fmt.channels == 2) // so are its frames
            done = int(fread(buffer, 4, size_t(frames), m_fp));
        else if (!stereo)
            done = Dispatch<MonoShortSink>(m_fp, m_io, m_fmt, frames, buffer);
        else
            done = Dispatch<ShortSink>(m_fp, m_io, m_fmt, frames, buffer, ptrdiff_t(frames),
                                       interleaved != 0);
        m_loadedFrames += uint64_t(done);
    }
    ZeroFrom(buffer, frames, done, stereo != 0, interleaved != 0);
}

void CWave::LoadWaveShortStereo(short* buffer, int frames, int interleaved) {
    LoadWaveShort(buffer, frames, 1, interleaved);
}

void CWave::LoadWaveFloat(float* buffer, int frames, int flags, int interleaved) {
    const bool stereo = flags & 1;
    const int mode = flags >> 8; // arithmetic: a negative word gives a negative mode
    int done = 0;
    if (StartLoad(frames)) {
        done = Dispatch<FloatSink>(m_fp, m_io, m_fmt, frames, buffer, ptrdiff_t(frames), stereo,
                                   interleaved != 0, mode);
        m_loadedFrames += uint64_t(done);
    }
    ZeroFrom(buffer, frames, done, stereo, interleaved != 0);
}

void CWave::LoadWaveFloatStereo(float* buffer, int frames, int interleaved) {
    LoadWaveFloat(buffer, frames, 1, interleaved);
}

void CWave::SkipFrames(int frames) {
    if (!m_fp || m_writing)
        return;
    Advance(frames);
    if (frames <= 0)
        return;
    const uint64_t sampleBytes = m_fmt.bitsPerSample <= 8 ? 1 : 2;
    SkipBytes(m_fp, uint64_t(frames) * m_fmt.channels * sampleBytes, m_io, sizeof m_io);
}

// ---- Writing -------------------------------------------------------------

bool CWave::Write(const void* bytes, size_t size) {
    if (size != 0 && fwrite(bytes, 1, size, m_fp) != size)
        Failed();
    return !m_writeError;
}

void CWave::Failed() {
    if (!m_writeError)
        m_writeErrno = errno;
    m_writeError = true;
}

int CWave::GetWriteErrno() {
    return m_writeErrno;
}

int CWave::OutputWave(const char* path, tOutputWaveFormat* format) {
    if (m_fp)
        return -1;
    std::snprintf(m_fileName, sizeof m_fileName, "%s", path ? path : "");
    m_loadedFrames = 0;
    m_outFrames = 0;
    m_writeError = false;
    m_writeErrno = 0;
    m_outFormat = format ? *format : tOutputWaveFormat{44100, 2, 2};
    // The appends write 1 or 2 bytes per sample and 1 or 2 samples per frame;
    // any other format would declare sizes that were never written.
    const auto oneOrTwo = [](int32_t v) { return v == 1 || v == 2; };
    if (!oneOrTwo(m_outFormat.bytesPerSample) || !oneOrTwo(m_outFormat.channels))
        return -1;
    const tWaveFmtChunk fmt = wav::MakeFmtChunk(m_outFormat);
    if (!path || !(m_fp = fopen(path, "wb+"))) {
        m_writeErrno = errno;
        return -1;
    }
    // Both sizes stay 0 until OutputWaveFinalize knows them.
    unsigned char header[wav::kHeaderBytes];
    wav::EncodeHeader(header, fmt, 0, 0);
    if (!Write(header, sizeof header)) {
        CloseWave();
        return -1;
    }
    m_writing = true;
    return 0;
}

int CWave::OutputWaveFrameByMono(void* samples, int count) {
    if (!m_fp || !m_writing)
        return -1;
    if (count <= 0)
        return 0;
    const size_t sampleBytes = m_outFormat.bytesPerSample == 2 ? 2 : 1;
    const auto* in = static_cast<const unsigned char*>(samples);
    if (m_outFormat.channels != 2) {
        Write(in, size_t(count) * sampleBytes);
    } else {
        // Each sample fills both channels of its frame.
        const size_t perRun = sizeof m_io / (2 * sampleBytes);
        for (size_t done = 0; done < size_t(count);) {
            const size_t n = std::min(perRun, size_t(count) - done);
            unsigned char* o = m_io;
            for (size_t i = 0; i < n; ++i, in += sampleBytes, o += 2 * sampleBytes) {
                std::memcpy(o, in, sampleBytes);
                std::memcpy(o + sampleBytes, in, sampleBytes);
            }
            Write(m_io, n * 2 * sampleBytes);
            done += n;
        }
    }
    m_outFrames += uint64_t(count);
    return 0;
}

int CWave::OutputWaveFrameByStereo(short* left, short* right, int count) {
    if (!m_fp || !m_writing)
        return -1;
    if (m_outFormat.channels != 2)
        return -2;
    if (m_outFormat.bytesPerSample != 2)
        return -3;
    if (count <= 0)
        return 0;
    const size_t perRun = sizeof m_io / 4;
    for (size_t done = 0; done < size_t(count);) {
        const size_t n = std::min(perRun, size_t(count) - done);
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(m_io + 4 * i, left + done + i, 2);
            std::memcpy(m_io + 4 * i + 2, right + done + i, 2);
        }
        Write(m_io, n * 4);
        done += n;
    }
    m_outFrames += uint64_t(count);
    return 0;
}

int CWave::OutputWaveFinalize() {
    if (!m_fp || !m_writing)
        return -1;
    const uint32_t data =
        wav::DeclaredDataBytes(m_outFrames, m_outFormat.bytesPerSample, m_outFormat.channels);
    // An odd data chunk is followed by one zero byte, which the RIFF size
    // counts and the data size does not.
    const uint64_t written =
        m_outFrames * uint64_t(m_outFormat.bytesPerSample) * uint64_t(m_outFormat.channels);
    const unsigned char pad = 0;
    if (written % 2 != 0)
        Write(&pad, 1);
    unsigned char size[4];
    wav::PutLe32(size, wav::RiffSize(data));
    if (fseeko(m_fp, 4, SEEK_SET) != 0)
        Failed();
    else
        Write(size, 4);
    wav::PutLe32(size, data);
    if (fseeko(m_fp, 40, SEEK_SET) != 0)
        Failed();
    else
        Write(size, 4);
    if (ferror(m_fp))
        Failed();
    if (fclose(m_fp) != 0)
        Failed();
    const bool ok = !m_writeError;
    m_fp = nullptr;
    m_writing = false;
    return ok ? 0 : -2;
}
