#include "Temporary.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace files {

const char* TemporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

int AnonymousFile(const char* dir) {
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

bool WriteAll(int fd, const char* buffer, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t put = write(fd, buffer + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        done += size_t(put);
    }
    return true;
}

} // namespace files
