// Writing: OutputWave leaves room for a header with zero sizes, the appends
// write frames through a scratch run, and OutputWaveFinalize fills the sizes
// in. The bytes go through a WriteBehind where the stream has one, else
// through stdio. The first failure's errno is kept for the caller to report.
#include "Stream.h"
#include "WavFormat.h"
#include "Wave.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace {

// The writer's WriteBehind, where its stream has one.
wav::WriteBehind* BehindOf(wav::StreamBuffers* buffers) {
    return buffers ? buffers->behind.get() : nullptr;
}

} // namespace

bool CWave::Write(const void* bytes, size_t size) {
    wav::WriteBehind* behind = BehindOf(m_buffers);
    if (size != 0 && !(behind ? behind->Append(bytes, size) : fwrite(bytes, 1, size, m_fp) == size))
        Failed();
    return !m_writeError;
}

// Writes the 4 bytes of `value` at `offset`, once all before them is written.
void CWave::WriteSizeAt(int64_t offset, uint32_t value) {
    unsigned char size[4];
    wav::PutLe32(size, value);
    if (wav::WriteBehind* behind = BehindOf(m_buffers)) {
        if (!behind->WriteAt(uint64_t(offset), size, sizeof size))
            Failed();
    } else if (fseeko(m_fp, off_t(offset), SEEK_SET) != 0) {
        Failed();
    } else {
        Write(size, sizeof size);
    }
}

// Writes what the WriteBehind holds, as closing a stdio stream would, and
// stops it: its thread writes to the stream's descriptor, which closing the
// stream closes. False when a write failed.
bool CWave::StopWriting() {
    wav::WriteBehind* behind = BehindOf(m_buffers);
    if (!behind)
        return true;
    const bool written = behind->Flush();
    m_buffers->behind.reset();
    return written;
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
    if (!SetOutputFormat(format))
        return -1;
    FILE* fp = nullptr;
    if (path)
        fp = fopen(path, "wb+");
    else
        errno = EINVAL;
    return StartOutput(fp);
}

int CWave::OutputWaveFd(int fd, tOutputWaveFormat* format) {
    if (m_fp)
        return -1;
    m_fileName[0] = '\0';
    if (!SetOutputFormat(format))
        return -1;
    return StartOutput(StreamOn(fd, "wb"));
}

bool CWave::SetOutputFormat(const tOutputWaveFormat* format) {
    m_loadedFrames = 0;
    m_outFrames = 0;
    m_writeError = false;
    m_writeErrno = 0;
    m_outFormat = format ? *format : tOutputWaveFormat{44100, 2, 2};
    // The appends write 1 or 2 bytes per sample and 1 or 2 samples per frame;
    // any other format would declare sizes that were never written.
    const auto oneOrTwo = [](int32_t v) { return v == 1 || v == 2; };
    return oneOrTwo(m_outFormat.bytesPerSample) && oneOrTwo(m_outFormat.channels);
}

int CWave::StartOutput(FILE* fp) {
    if (!(m_fp = fp)) {
        m_writeErrno = errno;
        return -1;
    }
    m_buffers = wav::WriteBehindFor(m_fp);
    if (!m_buffers)
        m_buffers = wav::UseLargeBuffer(m_fp);
    // Both sizes stay 0 until OutputWaveFinalize knows them.
    unsigned char header[wav::kHeaderBytes];
    wav::EncodeHeader(header, wav::MakeFmtChunk(m_outFormat), 0, 0);
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
    const size_t sampleBytes = size_t(m_outFormat.bytesPerSample); // 1 or 2
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
    WriteSizeAt(wav::kRiffSizeAt, wav::RiffSize(data));
    WriteSizeAt(wav::kDataSizeAt, data);
    if (!StopWriting())
        Failed();
    if (ferror(m_fp))
        Failed();
    if (fclose(m_fp) != 0)
        Failed();
    const bool ok = !m_writeError;
    m_fp = nullptr;
    ReleaseStreamBuffer();
    m_writing = false;
    return ok ? 0 : -2;
}
