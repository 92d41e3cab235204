// An INPUT that cannot seek (a pipe, a terminal) is copied into an anonymous
// file first: the two passes over the data need a stream that seeks.
#include "Input.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regen {

namespace {

// A file that no directory names: it disappears with its last descriptor,
// whatever ends the run.
int AnonymousFile() {
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    const int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // File systems without O_TMPFILE: a named file, unlinked at once.
    std::string name = std::string(dir) + "/pulseregen-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        unlink(name.c_str());
    return named;
}

// Copies all of `from` to `to` through a fixed buffer; 0 or an errno.
int CopyAll(int from, int to) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? errno : ENOSPC;
            done += put;
        }
    }
}

} // namespace

const char* InputPath(const char* arg) {
    return std::string(arg) == "-" ? "/dev/stdin" : arg;
}

Input::~Input() {
    if (m_copy >= 0)
        close(m_copy);
}

int Input::Prepare(const char* arg) {
    m_path = InputPath(arg);
    const bool standard = std::string(arg) == "-";
    struct stat st;
    // A missing file or a directory is left for the reader to refuse.
    if ((standard ? fstat(STDIN_FILENO, &st) : stat(arg, &st)) != 0 || S_ISREG(st.st_mode) ||
        S_ISBLK(st.st_mode) || S_ISDIR(st.st_mode))
        return 0;
    const int from = standard ? STDIN_FILENO : open(arg, O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return errno;
    m_copy = AnonymousFile();
    int error = m_copy < 0 ? errno : CopyAll(from, m_copy);
    if (!standard)
        close(from);
    if (error == 0 && lseek(m_copy, 0, SEEK_SET) != 0)
        error = errno;
    if (error != 0)
        return error;
    m_path = "/dev/fd/" + std::to_string(m_copy);
    return 0;
}

} // namespace regen
