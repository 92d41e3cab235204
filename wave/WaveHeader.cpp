// Opening: the two header walks, from "RIFF" to the first sample, and what
// they leave for the loaders and for a caller explaining a refusal: the
// length, where the data ends, the sample format and the reason.
#include "Lookahead.h"
#include "Stream.h"
#include "WavFormat.h"
#include "Wave.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// The file's size, or -1 where it cannot be known (a pipe).
int64_t FileSize(FILE* fp) {
    const int fd = fileno(fp);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return -1;
    if (S_ISREG(st.st_mode))
        return int64_t(st.st_size);
    if (!S_ISBLK(st.st_mode))
        return -1;
    // A block device tells its size only by a seek to its end; the stream's
    // own position is put back before it reads again.
    const off_t here = lseek(fd, 0, SEEK_CUR);
    const off_t end = lseek(fd, 0, SEEK_END);
    if (here < 0 || lseek(fd, here, SEEK_SET) != here)
        return -1;
    return int64_t(end);
}

// Reads `count` bytes at `at` without moving the stream; true when all came.
bool ReadAt(FILE* fp, unsigned char* to, size_t count, int64_t at) {
    return pread(fileno(fp), to, count, off_t(at)) == ssize_t(count);
}

} // namespace

int CWave::OpenWave(const char* path) {
    return OpenWave(path, kOpenPcm16);
}

int CWave::OpenWave(const char* path, tOpenMode mode) {
    CloseWave();
    std::snprintf(m_fileName, sizeof m_fileName, "%s", path ? path : "");
    FILE* fp = nullptr;
    if (path)
        fp = fopen(path, "rb");
    else
        errno = EINVAL;
    if (fp && lseek(fileno(fp), 0, SEEK_CUR) < 0) { // a FIFO
        FILE* stream = ReadStreamOn(fileno(fp), nullptr, 0);
        const int error = errno;
        fclose(fp);
        errno = error;
        fp = stream;
    }
    return OpenStream(fp, mode);
}

int CWave::OpenWaveFd(int fd) {
    return OpenWaveFd(fd, kOpenPcm16);
}

int CWave::OpenWaveFd(int fd, tOpenMode mode) {
    CloseWave();
    m_fileName[0] = '\0';
    return OpenStream(ReadStreamOn(fd, nullptr, 0), mode);
}

int CWave::OpenWaveFd(int fd, tOpenMode mode, const void* head, size_t headBytes) {
    CloseWave();
    m_fileName[0] = '\0';
    return OpenStream(ReadStreamOn(fd, head, headBytes), mode);
}

// Offsets are taken from the stream itself (ftello), so a header that starts
// past the beginning of the file gives positions in the file all the same.
int CWave::OpenStream(FILE* fp, tOpenMode mode) {
    m_loadedFrames = 0;
    m_fmt = tWaveFmtChunk{};
    m_format = tSampleFormat{};
    m_stopIdRead = false;
    m_openErrno = 0;
    m_readErrno = 0;
    m_trailingBytes = 0;
    m_mode = mode;
    m_dataEnd = INT64_MAX; // nothing bounds the loads until a data chunk is found
    if (!(m_fp = fp)) {
        m_openErrno = errno;
        m_status = kCannotOpen;
        return 0;
    }
    m_buffers = wav::UseLargeBuffer(m_fp);
    const off_t start = ftello(m_fp);
    m_pos = start > 0 ? int64_t(start) : 0; // a pipe's reads count from 0
    return ReadHeader(mode);
}

int CWave::ReadHeader(tOpenMode mode) {
    m_status = kOpened;
    return mode == kOpenAnyWav ? ReadAnyHeader() : ReadPcm16Header();
}

// Anything that is not a readable RIFF/WAVE header gives 0, detached.
int CWave::Refuse(tOpenStatus status) {
    m_status = status;
    CloseWave();
    return 0;
}

// A header cut short by a failed read is kept apart from one that the file
// ends in: GetReadErrno tells.
bool CWave::ReadBytes(void* to, size_t count) {
    const size_t got = fread(to, 1, count, m_fp);
    m_pos += int64_t(got);
    if (got < count)
        CheckRead();
    return got == count;
}

uint64_t CWave::ReadSize() {
    const uint64_t size = get_ulong(m_fp);
    m_pos += 4;
    return size;
}

int CWave::ReadPcm16Header() {
    unsigned char id[4];
    if (!ReadBytes(id, 4))
        return Refuse(kNotWave);
    if (!wav::IsId(id, "RIFF"))
        return Refuse(wav::IsRf64(id) ? kRf64 : kNotWave);
    if (m_lookahead)
        m_lookahead->Limit(wav::kRiffMaxBytes);
    ReadSize(); // the RIFF size says nothing the chunks do not
    if (!ReadBytes(id, 4) || !wav::IsId(id, "WAVE"))
        return Refuse(kNotWave);
    unsigned char fmt[wav::kFmtBytes];
    if (!ReadBytes(fmt, sizeof fmt))
        return Refuse(kNoDataChunk);
    m_fmt = wav::DecodeFmtChunk(fmt);
    m_format = wav::DescribeFormat(fmt + wav::kChunkHeaderBytes, wav::kFmtFieldBytes);
    std::memcpy(m_stopId, fmt, 4);
    m_stopIdRead = true;
    if (!wav::IsId(fmt, "fmt "))
        return Refuse(kFirstChunkNotFmt);
    if (m_fmt.bitsPerSample != wav::kPcm16Bits || m_fmt.formatTag != wav::kTagPcm) {
        m_status = kUnsupportedFormat;
        return -1;
    }
    SkipBytes(wav::FmtExtraBytes(m_fmt.chunkSize));
    m_sampleRate = m_fmt.sampleRate;

    // List chunks (metadata) may stand between the format and the data chunk.
    for (;;) {
        if (!ReadBytes(id, 4))
            return Refuse(kNoDataChunk);
        std::memcpy(m_stopId, id, 4);
        const uint64_t size = ReadSize();
        if (wav::IsId(id, "data"))
            return FoundData(size);
        if (!wav::IsId(id, "LIST") && !wav::IsId(id, "list")) {
            m_status = kChunkBeforeData;
            return -2;
        }
        // By its size alone, without the pad byte of an odd one: imposed, as
        // the library's callers rely on which files this reader accepts.
        SkipBytes(size);
    }
}

// Unlike the 16-bit walk, a size field cut off ends nothing but the walk.
int CWave::ReadAnyHeader() {
    unsigned char id[4], field[4];
    if (!ReadBytes(id, 4) || !(wav::IsId(id, "RIFF") || wav::IsRf64(id)))
        return Refuse(kNotWave);
    const bool rf64 = wav::IsRf64(id);
    if (m_lookahead)
        m_lookahead->Limit(wav::kRiffMaxBytes);
    if (!ReadBytes(field, 4) || !ReadBytes(id, 4) || !wav::IsId(id, "WAVE"))
        return Refuse(kNotWave);
    uint64_t ds64DataSize = 0;
    bool haveFormat = false;
    for (;;) {
        if (!ReadBytes(id, 4))
            return Refuse(kNoDataChunk);
        std::memcpy(m_stopId, id, 4);
        m_stopIdRead = true;
        if (!ReadBytes(field, 4))
            return Refuse(kNoDataChunk);
        uint64_t size = wav::Le32(field);
        if (wav::IsId(id, "data")) {
            if (!haveFormat)
                return Refuse(kNoFormatChunk);
            if (rf64 && size == wav::kSizeInDs64)
                size = ds64DataSize;
            return FoundData(size);
        }
        if (wav::IsId(id, "fmt ")) {
            const int read = ReadFormatChunk(size, rf64);
            if (read <= 0)
                return read;
            haveFormat = true;
        } else if (rf64 && wav::IsId(id, "ds64") && size >= wav::kDs64Bytes) {
            unsigned char ds64[wav::kDs64Bytes];
            if (!ReadBytes(ds64, sizeof ds64))
                return Refuse(kNoDataChunk);
            ds64DataSize = wav::Le64(ds64 + wav::kDs64DataSizeAt);
            // An RF64 file is as long as its ds64 chunk says, where that
            // is no less than what has been read and a file offset can say.
            const uint64_t riffSize = wav::Le64(ds64);
            if (m_lookahead && riffSize >= uint64_t(m_pos) &&
                riffSize <= uint64_t(INT64_MAX) - wav::kRiffSizeAt - 4)
                m_lookahead->Limit(riffSize + wav::kRiffSizeAt + 4);
            SkipBytes(size - sizeof ds64);
        } else {
            SkipBytes(size);
        }
        SkipPad(size);
    }
}

// Reads a format chunk of `size` bytes after its header; 1 when it holds a
// format the loaders read, else the refusal's value (0 or -1).
int CWave::ReadFormatChunk(uint64_t size, bool rf64) {
    // At least the 16 bytes of fields are read, as the 16-bit reader does.
    const uint64_t body = std::max<uint64_t>(size, wav::kFmtFieldBytes);
    unsigned char fmt[wav::kChunkHeaderBytes + wav::kExtensibleBytes];
    const size_t count = size_t(std::min<uint64_t>(body, wav::kExtensibleBytes));
    std::memcpy(fmt, "fmt ", 4);
    wav::PutLe32(fmt + 4, uint32_t(size));
    if (!ReadBytes(fmt + wav::kChunkHeaderBytes, count))
        return Refuse(kNoDataChunk);
    m_fmt = wav::DecodeFmtChunk(fmt);
    m_format = wav::DescribeFormat(fmt + wav::kChunkHeaderBytes, count);
    m_format.rf64 = rf64;
    m_sampleRate = m_fmt.sampleRate;
    if (!wav::Readable(m_format)) {
        Refuse(kUnsupportedFormat);
        return -1;
    }
    SkipBytes(body - count);
    return 1;
}

// An odd-sized chunk is followed by a pad byte of 0. Some writers leave it
// out; a byte that is not 0 then begins the next chunk and is left for it.
void CWave::SkipPad(uint64_t size) {
    if (size % 2 == 0)
        return;
    const int c = getc(m_fp);
    if (c == 0)
        ++m_pos;
    else if (c != EOF)
        ungetc(c, m_fp);
}

// The stream stands at the first sample of a data chunk that declares
// `declaredBytes`. Sets the length, and where the loaders stop: the end of
// the data chunk, or, where the file ends before it, the end of what the
// file holds, short of any chunks that close the file.
int CWave::FoundData(uint64_t declaredBytes) {
    m_loadedFrames = 0;
    m_dataTop = m_pos;
    m_offset = m_dataTop;
    const uint64_t frameBytes = FrameBytes();
    uint64_t bytes = declaredBytes;
    const int64_t fileSize = FileSize(m_fp);
    const uint64_t held = fileSize > m_dataTop ? uint64_t(fileSize - m_dataTop) : 0;
    if (fileSize >= 0 && declaredBytes > held) {
        const size_t window = size_t(std::min<uint64_t>(held, wav::kTrailerWindow));
        static_assert(wav::kTrailerWindow <= sizeof m_io, "the window fits the scratch buffer");
        bytes = held;
        if (ReadAt(m_fp, m_io, window, fileSize - int64_t(window)))
            bytes =
                wav::TrailingChunksStart(m_io, window, uint64_t(fileSize), uint64_t(m_dataTop)) -
                uint64_t(m_dataTop);
    }
    // A size from ds64 on a stream of unknown size can reach 2^64: the end is
    // held where a file offset can still say it.
    bytes = std::min<uint64_t>(bytes, uint64_t(INT64_MAX - m_dataTop));
    m_trailingBytes = held > bytes && declaredBytes > held ? held - bytes : 0;
    m_declaredFrames = frameBytes ? declaredBytes / frameBytes : 0;
    SetDataBytes(bytes);
    if (m_lookahead)
        m_lookahead->Data(uint64_t(m_dataTop), uint64_t(m_dataEnd));
    // From here on the loaders read only the file's bytes before m_dataEnd.
    if (m_sampleLength > 0)
        return int(m_sampleLength);
    // Nothing to read. A size of 0 with bytes after it that do not begin a
    // chunk is a header written before the length was known.
    unsigned char next[wav::kChunkHeaderBytes];
    bool chunkFollows, follows;
    if (m_lookahead) {
        const unsigned char* ahead = m_lookahead->Peek(sizeof next);
        chunkFollows = ahead && wav::IsPrintableId(ahead);
        follows = m_lookahead->Peek(1) != nullptr;
    } else {
        chunkFollows = held >= sizeof next && ReadAt(m_fp, next, sizeof next, m_dataTop) &&
                       wav::IsPrintableId(next);
        follows = held > 0;
    }
    m_status = declaredBytes == 0 && follows && !chunkFollows ? kUnknownLength : kEmptyData;
    if (m_mode == kOpenAnyWav)
        CloseWave();
    return 0;
}

void CWave::SetDataBytes(uint64_t bytes) {
    bytes = std::min<uint64_t>(bytes, uint64_t(INT64_MAX - m_dataTop));
    m_dataEnd = m_dataTop + int64_t(bytes);
    const uint64_t frameBytes = FrameBytes();
    const uint64_t frames = frameBytes ? bytes / frameBytes : 0;
    // The 16-bit reader keeps its length in 32 bits, which its largest data
    // chunk fits; any other is held at the interface's limit.
    m_sampleLength =
        m_mode == kOpenAnyWav ? uint32_t(std::min(frames, wav::kMaxLength)) : uint32_t(frames);
}

// As FoundData does for a file that ends early, once the stream has shown
// where it ends: its bytes, less the chunks that close it.
void CWave::EndOfStream() {
    if (!m_lookahead || !m_lookahead->InData() || m_pos >= m_dataEnd)
        return;
    SetDataBytes(uint64_t(m_pos - m_dataTop));
    m_trailingBytes = m_lookahead->TrailingBytes();
}

int CWave::GetSampleLength() {
    return int(m_sampleLength);
}

uint64_t CWave::GetDeclaredLength() const {
    return m_declaredFrames;
}

uint64_t CWave::GetTrailingBytes() const {
    return m_trailingBytes;
}

CWave::tOpenStatus CWave::GetOpenStatus() const {
    return m_status;
}

int CWave::GetOpenErrno() const {
    return m_openErrno;
}

int CWave::GetReadErrno() const {
    return m_readErrno;
}

const CWave::tSampleFormat& CWave::GetSampleFormat() const {
    return m_format;
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
