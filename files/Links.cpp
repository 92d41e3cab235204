#include "Links.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

void Split(const std::string& path, std::string& directory, std::string& name) {
    const size_t slash = path.rfind('/');
    directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int FollowLinks(const char* path, int& directory, std::string& name) {
    directory = -1;
    std::string next = path, dir;
    int at = AT_FDCWD; // where a relative link is resolved: its own directory
    for (int links = 0; links <= kMaxLinks; ++links) {
        Split(next, dir, name);
        // The directories on the way are the kernel's to follow, their links
        // included, with the same checks as for any open.
        const int d = openat(at, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (at != AT_FDCWD)
            close(at);
        if (d < 0)
            return error;
        if (name.empty() || name == "." || name == "..") {
            close(d);
            return EISDIR;
        }
        // A file, or none yet: the end of the way. Any other failure to
        // look is a refusal, never taken for "no file".
        struct stat st;
        const bool found = fstatat(d, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found && errno != ENOENT) {
            const int unseen = errno;
            close(d);
            return unseen;
        }
        if (!found || !S_ISLNK(st.st_mode)) {
            directory = d;
            return 0;
        }
        // A link: the kernel says whether it may be followed. A link to
        // nothing yet passes (ENOENT); one it refuses fails as an open would.
        const int probe = openat(d, name.c_str(), O_PATH | O_CLOEXEC);
        if (probe >= 0) {
            close(probe);
        } else if (errno != ENOENT) {
            const int refused = errno;
            close(d);
            return refused;
        }
        char link[PATH_MAX];
        const ssize_t n = readlinkat(d, name.c_str(), link, sizeof link);
        if (n < 0 || size_t(n) == sizeof link) {
            const int unread = n < 0 ? errno : ENAMETOOLONG;
            close(d);
            return unread;
        }
        next.assign(link, size_t(n));
        at = d;
    }
    close(at);
    return ELOOP;
}

} // namespace files
