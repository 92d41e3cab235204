// Reading: the page and position calls move the stream, and the loaders
// decode frames through Decode.h into the caller's layout, up to the end of
// the data, zero-filling what the data lacks. OpenWave is in WaveHeader.cpp.
#include "Decode.h"
#include "Stream.h"
#include "WavFormat.h"
#include "Wave.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/types.h>

namespace {

// A page is 1 MiB of 16-bit file per channel.
constexpr int kPageFrames = 1 << 19;

// How the loaders decode the file: the 16-bit reader's old layout, or the
// one the any-WAV reader found.
wav::Layout ReadLayout(CWave::tOpenMode mode, const CWave::tSampleFormat& format,
                       const CWave::tWaveFmtChunk& fmt) {
    return mode == CWave::kOpenAnyWav ? wav::LayoutOf(format) : wav::Pcm16Layout(fmt);
}

// The loaders read their runs into the stream's own buffer, where it has one.
wav::Source SourceOf(FILE* fp, wav::StreamBuffers* buffers, unsigned char* scratch) {
    if (buffers)
        return wav::Source{fp, buffers->runs, sizeof buffers->runs};
    return wav::Source{fp, scratch, wav::kIoBytes};
}

} // namespace

// Imposed: a short read ends the process with status 1 (see Wave.h); callers
// of the 16-bit reader rely on that status.
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

// Moves the stream `count` bytes on. A stream that cannot seek (a pipe) is
// read and discarded instead; either way the end of the file stops nothing,
// the next read simply fails.
void CWave::SkipBytes(uint64_t count) {
    if (count == 0)
        return;
    if (count <= uint64_t(INT64_MAX - m_pos) && fseeko(m_fp, off_t(count), SEEK_CUR) == 0) {
        m_pos += int64_t(count);
        return;
    }
    while (count > 0) {
        const size_t n = fread(m_io, 1, size_t(std::min<uint64_t>(count, sizeof m_io)), m_fp);
        if (n == 0) {
            CheckRead();
            return;
        }
        m_pos += int64_t(n);
        count -= n;
    }
}

// A short read is the end of the file or a failure; the stream's error flag
// tells them apart, and is cleared so that the next failure shows too.
void CWave::CheckRead() {
    if (!ferror(m_fp)) {
        if (feof(m_fp))
            EndOfStream();
        return;
    }
    if (m_readErrno == 0)
        m_readErrno = errno ? errno : EIO;
    clearerr(m_fp);
}

bool CWave::SeekTo(int64_t at) {
    if (m_lookahead) // a stream that cannot seek is where it stands
        return at == m_pos;
    if (fseeko(m_fp, off_t(at), SEEK_SET) != 0)
        return false;
    m_pos = at;
    return true;
}

// The bytes of `frames` frames as the positions count them. The 16-bit
// reader counts 2 bytes a sample in wrapping 32-bit arithmetic, as it always
// has, so that positions reached by loads, SetPos and page moves agree in
// every file (8-bit and long ones too); the any-WAV reader counts the file's
// own frames.
int64_t CWave::PositionBytes(int64_t frames) const {
    if (m_mode == kOpenAnyWav)
        return frames * int64_t(FrameBytes());
    return int32_t(uint32_t(m_fmt.channels) * 2u * uint32_t(frames));
}

uint64_t CWave::FrameBytes() const {
    return ReadLayout(m_mode, m_format, m_fmt).FrameBytes();
}

// How many of `frames` whole frames are left before the data ends.
int CWave::FramesLeft(int frames) const {
    const uint64_t frameBytes = FrameBytes();
    if (frameBytes == 0 || frames <= 0)
        return frames;
    if (m_pos >= m_dataEnd)
        return 0;
    return int(std::min<uint64_t>(uint64_t(frames), uint64_t(m_dataEnd - m_pos) / frameBytes));
}

void CWave::SetTopPage() {
    if (!m_fp || m_writing)
        return;
    m_offset = m_dataTop;
    SeekTo(m_offset);
}

void CWave::SetNextPage() {
    if (!m_fp || m_writing)
        return;
    Advance(kPageFrames);
    SeekTo(m_offset);
}

void CWave::SetPrevPage() {
    if (!m_fp || m_writing)
        return;
    m_offset = int64_t(uint64_t(m_offset) - uint64_t(PositionBytes(kPageFrames)));
    SeekTo(m_offset);
}

int CWave::SetPos(int frame) {
    if (!m_fp || m_writing)
        return -1;
    m_offset = m_dataTop + PositionBytes(frame);
    return SeekTo(m_offset) ? 0 : -1;
}

// Wraps rather than overflows, however far the pages are moved.
void CWave::Advance(int frames) {
    m_offset = int64_t(uint64_t(m_offset) + uint64_t(PositionBytes(frames)));
}

// The running position moves by the whole request even where the file ends
// early, so that page moves after a short load land where they would have.
bool CWave::StartLoad(int frames) {
    const bool reading = m_fp && !m_writing;
    if (reading)
        Advance(frames);
    return reading && frames > 0;
}

void CWave::LoadWaveShort(short* buffer, int frames, int stereo, int interleaved) {
    int done = 0;
    if (StartLoad(frames)) {
        const wav::Layout layout = ReadLayout(m_mode, m_format, m_fmt);
        const int count = FramesLeft(frames);
        const bool direct = !layout.Converted() && layout.SampleBytes() == 2;
        uint64_t consumed = 0;
        wav::Source source = SourceOf(m_fp, m_buffers, m_io);
        if (direct && !stereo && layout.channels == 1) { // the file's samples are the output
            consumed = source.CopyTo(buffer, 2 * size_t(count));
            done = int(consumed / 2);
        } else if (direct && stereo && interleaved && layout.channels == 2) { // so are its frames
            consumed = source.CopyTo(buffer, 4 * size_t(count));
            done = int(consumed / 4);
        } else if (!stereo) {
            done = wav::Dispatch<wav::MonoShortSink>(source, layout, count, consumed, buffer);
        } else {
            done = wav::Dispatch<wav::ShortSink>(source, layout, count, consumed, buffer,
                                                 ptrdiff_t(frames), interleaved != 0);
        }
        m_pos += int64_t(consumed);
        m_loadedFrames += uint64_t(done);
        if (done < count)
            CheckRead();
    }
    wav::ZeroFrom(buffer, frames, done, stereo != 0, interleaved != 0);
}

void CWave::LoadWaveShortStereo(short* buffer, int frames, int interleaved) {
    LoadWaveShort(buffer, frames, 1, interleaved);
}

void CWave::LoadWaveFloat(float* buffer, int frames, int flags, int interleaved) {
    const bool stereo = flags & kLoadStereo;
    const int mode = flags >> kMixShift; // arithmetic: a negative word gives a negative mode
    int done = 0;
    if (StartLoad(frames)) {
        const wav::Layout layout = ReadLayout(m_mode, m_format, m_fmt);
        const int count = FramesLeft(frames);
        uint64_t consumed = 0;
        const int32_t left = wav::LeftWeight(mode), right = wav::RightWeight(mode);
        const int shift = wav::HalvingShift(mode);
        wav::Source source = SourceOf(m_fp, m_buffers, m_io);
        if (stereo)
            done = wav::Dispatch<wav::FloatSink>(source, layout, count, consumed, buffer,
                                                 ptrdiff_t(frames), interleaved != 0, left, right,
                                                 shift);
        else
            done = wav::Dispatch<wav::MonoFloatSink>(source, layout, count, consumed, buffer, left,
                                                     right, shift);
        m_pos += int64_t(consumed);
        m_loadedFrames += uint64_t(done);
        if (done < count)
            CheckRead();
    }
    wav::ZeroFrom(buffer, frames, done, stereo, interleaved != 0);
}

void CWave::LoadWaveFloatStereo(float* buffer, int frames, int interleaved) {
    LoadWaveFloat(buffer, frames, kLoadStereo, interleaved);
}

// Moves the stream as a load of the frames would: no further than the data.
void CWave::SkipFrames(int frames) {
    if (!m_fp || m_writing)
        return;
    Advance(frames);
    if (frames <= 0)
        return;
    SkipBytes(uint64_t(FramesLeft(frames)) * FrameBytes());
}
