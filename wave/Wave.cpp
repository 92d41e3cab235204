// The object's life: one CWave is a reader or a writer, never both, and
// closing detaches whichever it was.
#include "Wave.h"
#include "Decode.h"
#include "Lookahead.h"
#include "Stream.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

CWave::CWave()
    : m_fileName{}, m_outFrames(0), m_loadedFrames(0), m_fp(nullptr), m_dataTop(0), m_offset(0),
      m_sampleLength(0), m_sampleRate(0), m_fmt{}, m_stopId{}, m_stopIdRead(false),
      m_mode(kOpenPcm16), m_status(kNotWave), m_openErrno(0), m_format{}, m_declaredFrames(0),
      m_pos(0), m_dataEnd(0), m_outFormat{}, m_writing(false), m_writeError(false), m_writeErrno(0),
      m_readErrno(0), m_trailingBytes(0), m_io{}, m_buffers(nullptr), m_lookahead(nullptr) {
    static_assert(sizeof m_io == wav::kIoBytes, "the decoding runs fill the scratch buffer");
}

CWave::~CWave() {
    CloseWave();
}

int CWave::CloseWave() {
    StopWriting();
    if (m_fp)
        fclose(m_fp);
    m_fp = nullptr;
    m_lookahead = nullptr; // closed with the stream
    ReleaseStreamBuffer();
    m_writing = false;
    return 0;
}

void CWave::ReleaseStreamBuffer() {
    delete m_buffers;
    m_buffers = nullptr;
}

FILE* CWave::ReadStreamOn(int fd, const void* head, size_t headBytes) {
    if (headBytes == 0 && lseek(fd, 0, SEEK_CUR) >= 0)
        return StreamOn(fd, "rb");
    const int copy = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0 && copy < 0)
        return nullptr;
    FILE* fp =
        Lookahead::Open(copy, static_cast<const unsigned char*>(head), headBytes, &m_lookahead);
    if (!fp && copy >= 0) {
        const int error = errno;
        close(copy);
        errno = error;
    }
    return fp;
}

FILE* CWave::StreamOn(int fd, const char* mode) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return nullptr;
    FILE* fp = fdopen(copy, mode);
    if (!fp) {
        const int error = errno;
        close(copy);
        errno = error;
    }
    return fp;
}
