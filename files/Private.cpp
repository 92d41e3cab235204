// Names for the private directory, and the removal of the ones runs killed
// outright left behind.
#include "Private.h"

#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

bool IsPrivateName(const char* name) {
    return std::strlen(name) == kPrivateNameLength &&
           std::strncmp(name, kPrivatePrefix, sizeof kPrivatePrefix - 1) == 0;
}

// A directory as a run of this user makes it: mode 0700 (a set-group-ID bit
// comes from a parent that has one), owned by this user, holding a regular
// output. Root too leaves another user's alone: that user's runs remove it.
bool LooksOurs(int directory) {
    struct stat dir, file;
    return fstat(directory, &dir) == 0 && S_ISDIR(dir.st_mode) &&
           (dir.st_mode & 0777) == kPrivateMode && dir.st_uid == geteuid() &&
           fstatat(directory, kFileName, &file, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(file.st_mode);
}

} // namespace

std::string RandomName() {
    unsigned char bytes[kRandomChars];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        // The count makes each retry within the same second another name.
        static unsigned long count = 0;
        const unsigned long seed =
            ((unsigned long)(time(nullptr)) + count++ * 40503u) * 2654435761u ^ getpid();
        for (size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = (unsigned char)(seed >> (i * 5));
    }
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = kPrivatePrefix;
    for (unsigned char b : bytes)
        name += kChars[b % (sizeof kChars - 1)];
    return name;
}

// A run killed outright (SIGKILL, a power cut) leaves its private directory
// behind. Its owner held a lock on the directory from before the output was
// made in it until the end, so one of ours whose lock can be taken and that
// holds an output is such a leftover. Where locks do not work (some network
// file systems) nothing is removed.
void RemoveLeftovers(int parent) {
    const int scan = openat(parent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = scan >= 0 ? fdopendir(scan) : nullptr;
    if (!dir) {
        if (scan >= 0)
            close(scan);
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (!IsPrivateName(entry->d_name))
            continue;
        const int d =
            openat(parent, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (d < 0)
            continue;
        if (LooksOurs(d) && flock(d, LOCK_EX | LOCK_NB) == 0 && unlinkat(d, kFileName, 0) == 0)
            unlinkat(parent, entry->d_name, AT_REMOVEDIR);
        close(d);
    }
    closedir(dir);
}

} // namespace files
