// Reading: OpenWave walks the header to the data chunk, the page and
// position calls move the stream, and the loaders decode frames through
// Decode.h into the caller's layout, zero-filling what the file lacks.
#include "Decode.h"
#include "WavFormat.h"
#include "Wave.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

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

} // namespace

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

int CWave::OpenWave(const char* path) {
    CloseWave();
    std::snprintf(m_fileName, sizeof m_fileName, "%s", path ? path : "");
    return OpenStream(path ? fopen(path, "rb") : nullptr);
}

int CWave::OpenWaveFd(int fd) {
    CloseWave();
    m_fileName[0] = '\0';
    return OpenStream(StreamOn(fd, "rb"));
}

// Offsets are taken from the stream itself (ftello), so a header that starts
// past the beginning of the file gives positions in the file all the same.
int CWave::OpenStream(FILE* fp) {
    m_loadedFrames = 0;
    m_fmt = tWaveFmtChunk{};
    m_stopIdRead = false;
    if (!(m_fp = fp))
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

// Counted as 16-bit samples in wrapping 32-bit arithmetic, as SetPos and the
// page moves count, so that positions reached by loads and by those calls
// agree in every file (8-bit and long ones too).
void CWave::Advance(int frames) {
    m_offset += int32_t(uint32_t(m_fmt.channels) * 2u * uint32_t(frames));
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
        const bool wide = m_fmt.bitsPerSample > 8;
        if (wide && !stereo && m_fmt.channels == 1) // the file's samples are the output
            done = int(fread(buffer, 2, size_t(frames), m_fp));
        else if (wide && stereo && interleaved && m_fmt.channels == 2) // so are its frames
            done = int(fread(buffer, 4, size_t(frames), m_fp));
        else if (!stereo)
            done = wav::Dispatch<wav::MonoShortSink>(m_fp, m_io, m_fmt, frames, buffer);
        else
            done = wav::Dispatch<wav::ShortSink>(m_fp, m_io, m_fmt, frames, buffer,
                                                 ptrdiff_t(frames), interleaved != 0);
        m_loadedFrames += uint64_t(done);
    }
    wav::ZeroFrom(buffer, frames, done, stereo != 0, interleaved != 0);
}

void CWave::LoadWaveShortStereo(short* buffer, int frames, int interleaved) {
    LoadWaveShort(buffer, frames, 1, interleaved);
}

void CWave::LoadWaveFloat(float* buffer, int frames, int flags, int interleaved) {
    const bool stereo = flags & 1;
    const int mode = flags >> 8; // arithmetic: a negative word gives a negative mode
    int done = 0;
    if (StartLoad(frames)) {
        if (stereo) {
            done = wav::Dispatch<wav::FloatSink>(m_fp, m_io, m_fmt, frames, buffer,
                                                 ptrdiff_t(frames), interleaved != 0, mode);
        } else {
            // Mode 1 is L, 2 is R, 3 and 16 (L - R) / 2, any other (L + R) / 2.
            const int32_t left = mode == 2 ? 0 : 1;
            const int32_t right = mode == 1 ? 0 : mode == 3 || mode == 16 ? -1 : 1;
            const int shift = mode == 1 || mode == 2 ? 0 : 1;
            done = wav::Dispatch<wav::MonoFloatSink>(m_fp, m_io, m_fmt, frames, buffer, left, right,
                                                     shift);
        }
        m_loadedFrames += uint64_t(done);
    }
    wav::ZeroFrom(buffer, frames, done, stereo, interleaved != 0);
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
