// An INPUT that cannot seek (a pipe, a terminal) is copied into an anonymous
// file first: the two passes over the data need a stream that seeks.
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

Input::~Input() {
    if (m_owned)
        close(m_fd);
}

int Input::Prepare(const char* arg) {
    const bool standard = IsStandardInput(arg);
    m_path = m_culprit = arg;
    struct stat st;
    // A missing file or a directory is left for the reader to refuse.
    if (standard ? fstat(STDIN_FILENO, &st) != 0 : stat(arg, &st) != 0)
        return 0;
    m_directory = S_ISDIR(st.st_mode);
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
    const int result = Spool(from);
    if (!standard)
        close(from);
    return result;
}

// The header is checked before anything is copied, so that a stream that is
// no WAV file (/dev/zero) is refused at once instead of filling $TMPDIR. A
// stream that ends within the 12 bytes is copied for the reader to judge.
int Input::Spool(int from) {
    char buffer[64 * 1024];
    ssize_t got = ReadFull(from, buffer, kHeadBytes);
    if (got < 0)
        return errno;
    const bool whole = got == ssize_t(kHeadBytes);
    const bool rf64 =
        whole && (std::memcmp(buffer, "RF64", 4) == 0 || std::memcmp(buffer, "BW64", 4) == 0);
    if (whole && ((std::memcmp(buffer, "RIFF", 4) != 0 && !rf64) ||
                  std::memcmp(buffer + 8, "WAVE", 4) != 0)) {
        m_refusedHead.assign(buffer, size_t(got));
        return kNotWave;
    }
    const char* directory = TemporaryDirectory();
    m_fd = AnonymousFile(directory);
    if (m_fd < 0) {
        const int error = errno; // before the assignment, which may allocate
        m_culprit = directory;
        return error;
    }
    m_owned = true;
    uint64_t left = rf64 ? UINT64_MAX : kRiffMaxBytes;
    while (got > 0) {
        if (!WriteAll(m_fd, buffer, size_t(got))) {
            const int error = errno;
            m_culprit = directory;
            return error;
        }
        left -= uint64_t(got);
        if (left == 0) {
            m_cut = ReadFull(from, buffer, 1) > 0;
            break;
        }
        got = ReadFull(from, buffer, size_t(std::min<uint64_t>(sizeof buffer, left)));
    }
    if (got < 0)
        return errno;
    return lseek(m_fd, 0, SEEK_SET) == 0 ? 0 : errno;
}

int Input::Open(CWave& in, CWave::tOpenMode mode) const {
    if (m_fd < 0)
        return in.OpenWave(m_path.c_str(), mode);
    if (m_start >= 0)
        lseek(m_fd, m_start, SEEK_SET);
    return in.OpenWaveFd(m_fd, mode);
}

std::optional<std::string> Input::Head(size_t n) const {
    if (!m_refusedHead.empty())
        return m_refusedHead.substr(0, n);
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
