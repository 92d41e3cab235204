// An INPUT that cannot seek (a pipe, a terminal) is copied into an anonymous
// file first where the data is read twice; read once, only its header is
// kept, in memory.
#include "Input.h"
#include "Temporary.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

constexpr size_t kHeadBytes = 12; // "RIFF", "RF64" or "BW64", a size, "WAVE"
constexpr size_t kRiffSizeAt = 4;
constexpr size_t kChunkHeaderBytes = 8; // an id, a 32-bit size
constexpr size_t kDs64SizeBytes = 8;    // the ds64 chunk starts with the RIFF size
constexpr size_t kFmtFieldBytes = 16;   // a format chunk's fields after its header

uint64_t Le32(const unsigned char* p) {
    return uint64_t(p[0]) | uint64_t(p[1]) << 8 | uint64_t(p[2]) << 16 | uint64_t(p[3]) << 24;
}

uint64_t Le64(const unsigned char* p) {
    return Le32(p) | Le32(p + 4) << 32;
}

// Four printable ASCII characters, as every chunk id is.
bool IsChunkId(const unsigned char* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return true;
}

bool IsStandardInput(const char* arg) {
    return std::strcmp(arg, "-") == 0;
}

// Reads up to `size` bytes, fewer only at the end of the stream; -1 on error.
ssize_t ReadFull(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

} // namespace

// Copies the stream, counting what it copied: into memory while `memory` is
// set, and once that would pass kStreamHeadBytes (or where it was never
// set) into the anonymous file `to`, made when first needed.
struct Input::Copier {
    int from, to;
    const char* directory;
    std::string* memory = nullptr;
    uint64_t done = 0;
    bool ended = false;   // the stream ended
    int error = 0;        // the errno of a failed read (or 0) ...
    bool writing = false; // ... or write

    bool Put(const char* bytes, size_t size) {
        if (memory && memory->size() + size <= kStreamHeadBytes) {
            memory->append(bytes, size);
            done += size;
            return true;
        }
        if (to < 0 && !Open())
            return false;
        if (!WriteAll(to, bytes, size)) {
            error = errno;
            writing = true;
            return false;
        }
        done += size;
        return true;
    }
    // Makes the anonymous file, with what memory holds.
    bool Open() {
        to = AnonymousFile(directory);
        if (to < 0 || (memory && !WriteAll(to, memory->data(), memory->size()))) {
            error = errno;
            writing = true;
            return false;
        }
        if (memory)
            memory->clear();
        memory = nullptr;
        return true;
    }
    // Reads up to `size` bytes and copies them; how many, or -1.
    ssize_t Take(char* bytes, size_t size) {
        const ssize_t got = ReadFull(from, bytes, size);
        if (got < 0) {
            error = errno;
            return -1;
        }
        ended = size_t(got) < size;
        return Put(bytes, size_t(got)) ? got : -1;
    }
    // Copies `count` bytes on, or up to the end of the stream, stopping at
    // `limit` bytes in all.
    bool Through(uint64_t count, uint64_t limit) {
        char buffer[64 * 1024];
        while (count > 0 && done < limit && !ended) {
            const size_t size = size_t(std::min<uint64_t>({sizeof buffer, count, limit - done}));
            const ssize_t got = Take(buffer, size);
            if (got < 0)
                return false;
            count -= uint64_t(got);
        }
        return true;
    }
    // Prepare's result for the failure, and the file it is about.
    int Failure(std::string& culprit, const char* directory) const {
        if (writing)
            culprit = directory;
        return error;
    }
};

Input::~Input() {
    if (m_owned)
        close(m_fd);
}

int Input::Prepare(const char* arg, bool once) {
    const bool standard = IsStandardInput(arg);
    m_path = m_culprit = arg;
    struct stat st;
    // A missing file or a directory is left for the reader to refuse.
    if (standard ? fstat(STDIN_FILENO, &st) != 0 : stat(arg, &st) != 0)
        return 0;
    m_directory = S_ISDIR(st.st_mode);
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_found = true;
    if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISDIR(st.st_mode)) {
        // The descriptor the shell opened: no second permission check, and
        // its offset is where the WAV file starts.
        if (standard) {
            m_fd = STDIN_FILENO;
            m_start = lseek(m_fd, 0, SEEK_CUR);
        }
        return 0;
    }
    const int from = standard ? STDIN_FILENO : open(arg, O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return errno;
    const int result = Spool(from, once);
    if (m_streamed) // read from here on as it comes
        m_owned = !standard;
    else if (!standard)
        close(from);
    return result;
}

// The header is checked before anything is copied, so that a stream that is
// no WAV file (/dev/zero) is refused at once instead of filling $TMPDIR, and
// so is every chunk header up to the data chunk: the copy stops after the
// first that is none, for the reader to refuse. A stream that ends early is
// copied for the reader to judge.
int Input::Spool(int from, bool once) {
    char head[kHeadBytes];
    const ssize_t got = ReadFull(from, head, kHeadBytes);
    if (got < 0)
        return errno;
    const bool whole = got == ssize_t(kHeadBytes);
    const bool rf64 =
        whole && (std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0);
    if (whole &&
        ((std::memcmp(head, "RIFF", 4) != 0 && !rf64) || std::memcmp(head + 8, "WAVE", 4) != 0)) {
        m_refusedHead.assign(head, size_t(got));
        return kNotWave;
    }
    const char* directory = TemporaryDirectory();
    Copier copy{from, -1, directory, once ? &m_streamHead : nullptr};
    const bool copied = copy.Put(head, size_t(got)) && (!whole || CopyChunks(copy, rf64));
    if (copy.to >= 0) {
        m_fd = copy.to;
        m_owned = true;
    }
    if (!copied)
        return copy.Failure(m_culprit, directory);
    if (copy.memory) {
        m_streamed = true;
        m_fd = from;
        return 0;
    }
    return lseek(m_fd, 0, SEEK_SET) == 0 ? 0 : errno;
}

// The chunk headers up to the data chunk, then the rest of the stream, up to
// the size the header gives: kRiffMaxBytes for RIFF, the RIFF size in the
// ds64 chunk for RF64. False on a failure, which `copy` holds.
bool Input::CopyChunks(Copier& copy, bool rf64) {
    uint64_t limit = kRiffMaxBytes;
    bool sized = false; // the limit is the one a ds64 chunk gives
    unsigned char header[kChunkHeaderBytes];
    size_t carried = 0; // a byte read as the pad of an odd chunk, that was none
    for (;;) {
        const size_t want = kChunkHeaderBytes - carried;
        const ssize_t got = copy.Take(reinterpret_cast<char*>(header) + carried, want);
        if (got < 0)
            return false;
        if (size_t(got) < want)
            return true; // the reader refuses what was copied
        // No chunk: the reader refuses it, having read at most a format
        // chunk's fields after it, so that it says what it would of a file.
        if (!IsChunkId(header)) {
            m_stopped = true;
            return copy.Through(kFmtFieldBytes, limit);
        }
        const uint64_t size = Le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            if (copy.memory) { // the reader takes the rest as it comes
                m_streamGoesOn = true;
                return true;
            }
            break;
        }
        uint64_t left = size;
        if (rf64 && std::memcmp(header, "ds64", 4) == 0 && size >= kDs64SizeBytes) {
            unsigned char sizes[kDs64SizeBytes];
            const ssize_t n = copy.Take(reinterpret_cast<char*>(sizes), sizeof sizes);
            if (n < ssize_t(sizeof sizes))
                return n >= 0;
            // The stream is as long as the RIFF size says, unless that is
            // less than it holds already or more than a file offset can say.
            const uint64_t riffSize = Le64(sizes);
            if (riffSize >= copy.done && riffSize <= uint64_t(INT64_MAX) - kRiffSizeAt - 4)
                limit = riffSize + kRiffSizeAt + 4, sized = true;
            left -= sizeof sizes;
        }
        if (!copy.Through(left, limit))
            return false;
        if (copy.ended)
            return true;
        if (copy.done >= limit) // a chunk that runs past the most there can be
            break;
        carried = 0;
        if (size % 2 == 1) { // a pad byte of 0, or the next chunk's first byte
            const ssize_t n = copy.Take(reinterpret_cast<char*>(header), 1);
            if (n <= 0)
                return n == 0;
            carried = header[0] == 0 ? 0 : 1;
        }
    }
    if (!copy.Through(UINT64_MAX, limit))
        return false;
    // More to come than a RIFF file can hold: the reader is told.
    if (copy.done == limit && !sized) {
        char next;
        m_cut = ReadFull(copy.from, &next, 1) > 0;
    }
    return true;
}

int Input::Descriptor() const {
    if (m_fd >= 0 && m_start >= 0 && !m_streamed)
        lseek(m_fd, m_start, SEEK_SET);
    return m_fd;
}

int Input::Reopen() const {
    if (m_streamed || m_directory || (m_fd < 0 && !m_found))
        return -1;
    // A descriptor's file (standard input, the copy of a stream) is opened
    // again through /proc, which gives a file position of its own where a
    // duplicate would share it.
    const std::string path = m_fd >= 0 ? "/proc/self/fd/" + std::to_string(m_fd) : m_path;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat mine, first;
    const bool same = fstat(fd, &mine) == 0 &&
                      (m_fd >= 0 ? fstat(m_fd, &first) == 0 &&
                                       (first.st_dev == mine.st_dev && first.st_ino == mine.st_ino)
                                 : mine.st_dev == m_device && mine.st_ino == m_inode);
    if (!same || lseek(fd, m_fd >= 0 ? m_start : 0, SEEK_SET) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::optional<std::string> Input::Head(size_t n) const {
    if (!m_refusedHead.empty())
        return m_refusedHead.substr(0, n);
    if (m_streamed)
        return m_streamHead.substr(0, n);
    const int fd = m_fd >= 0 ? m_fd : open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string head(n, '\0');
    const ssize_t got = pread(fd, head.data(), n, m_fd >= 0 && m_start > 0 ? m_start : 0);
    if (fd != m_fd)
        close(fd);
    if (got < 0)
        return std::nullopt;
    head.resize(size_t(got));
    return head;
}

bool SameFile(const char* input, const char* output) {
    const bool standard = IsStandardInput(input);
    if (!standard && std::strcmp(input, output) == 0)
        return true;
    struct stat a, b;
    return (standard ? fstat(STDIN_FILENO, &a) : stat(input, &a)) == 0 && stat(output, &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace files
