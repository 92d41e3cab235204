// Extended attributes (ACLs among them) carried from a file to the one that
// replaces it.
#include "Attributes.h"

#include <cerrno>
#include <cstring>
#include <sys/xattr.h>
#include <vector>

namespace files {

namespace {

// The names of `fd`'s extended attributes, each ending in a NUL; false when
// they cannot be read. A file system without them has none.
bool AttributeNames(int fd, std::vector<char>& names) {
    for (;;) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0) {
            names.clear();
            return errno == ENOTSUP;
        }
        names.resize(size_t(size));
        const ssize_t got = flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(size_t(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

bool AttributeValue(int fd, const char* name, std::vector<char>& value) {
    for (;;) {
        const ssize_t size = fgetxattr(fd, name, nullptr, 0);
        if (size < 0)
            return false;
        value.resize(size_t(size));
        const ssize_t got = fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(size_t(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

bool Listed(const std::vector<char>& names, const char* name) {
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1)
        if (std::strcmp(names.data() + at, name) == 0)
            return true;
    return false;
}

} // namespace

bool CopyAttributes(int from, int to) {
    std::vector<char> fromNames, toNames, value, present;
    if (!AttributeNames(from, fromNames) || !AttributeNames(to, toNames))
        return false;
    for (size_t at = 0; at < toNames.size(); at += std::strlen(toNames.data() + at) + 1)
        if (!Listed(fromNames, toNames.data() + at) && fremovexattr(to, toNames.data() + at) != 0)
            return false;
    for (size_t at = 0; at < fromNames.size(); at += std::strlen(fromNames.data() + at) + 1) {
        const char* name = fromNames.data() + at;
        if (!AttributeValue(from, name, value))
            return false;
        // An attribute the new file already has as it should be (a security
        // label) is not set again, which could take a privilege.
        if (AttributeValue(to, name, present) && present == value)
            continue;
        if (fsetxattr(to, name, value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

} // namespace files
