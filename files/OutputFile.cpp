// The output policy: write the whole output apart, then rename it over the
// file it replaces, or copy it over that file where a rename would change
// what the file is (its owner, its other links, a mount on it). Every name
// this makes is short and taken relative to an open directory, so no path
// grows past NAME_MAX or PATH_MAX.
#include "OutputFile.h"
#include "Attributes.h"
#include "Links.h"
#include "Private.h"
#include "Temporary.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace files {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// What filling the holes of a sparse file takes beyond their own blocks:
// a block of block numbers for every 256 blocks (4-byte numbers, 1 KiB
// blocks, the least), and a few more for the levels above those.
constexpr uint64_t kBlocksPerPointerBlock = 256;
constexpr uint64_t kSpareBlocks = 4;

// What a signal handler removes: the output in the private directory and the
// directory. A handler reaches only static storage and must not allocate.
int g_parent = -1;
int g_private = -1;
char g_privateName[kPrivateNameLength + 1];

void OnSignal(int sig) {
    if (g_private >= 0) {
        unlinkat(g_private, kFileName, 0);
        unlinkat(g_parent, g_privateName, AT_REMOVEDIR);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// A signal the parent set to be ignored (nohup, a background job) stays
// ignored.
void HandleSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) {
        struct sigaction before;
        if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
    }
}

// Blocks the signals that end a run for as long as it lives.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kSignals)
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &m_before);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &m_before, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t m_before;
};

// The bytes of `fd`'s first `size` that no block holds yet: its holes, and
// what lies beyond its end. A file system that cannot tell holes shows none.
uint64_t HoleBytes(int fd, off_t size) {
    uint64_t holes = 0;
    for (off_t at = 0; at < size;) {
        const off_t hole = lseek(fd, at, SEEK_HOLE);
        if (hole < 0 || hole >= size)
            break;
        off_t data = lseek(fd, hole, SEEK_DATA);
        if (data < 0 || data > size) // ENXIO: a hole to the end, and beyond
            data = size;
        holes += uint64_t(data - hole);
        at = data;
    }
    return holes;
}

// Whether the disk has room for what writing `size` bytes over `fd` takes:
// a block for each block's worth of hole, the blocks that point to them (one
// per 256 at most, for 4-byte block numbers in blocks of 1 KiB) and a few
// more. False with errno set (ENOSPC) when they do not fit. Root may use the
// blocks kept for it.
bool RoomForHoles(int fd, const struct stat& st, off_t size) {
    const uint64_t holes = HoleBytes(fd, size);
    if (holes == 0)
        return true;
    const uint64_t block = st.st_blksize > 0 ? uint64_t(st.st_blksize) : 512;
    const uint64_t needed = holes + holes / kBlocksPerPointerBlock + kSpareBlocks * block;
    struct statvfs fs;
    if (fstatvfs(fd, &fs) != 0)
        return false;
    const uint64_t free = uint64_t(geteuid() == 0 ? fs.f_bfree : fs.f_bavail) * fs.f_frsize;
    if (free >= needed)
        return true;
    errno = ENOSPC;
    return false;
}

bool IsMountPoint(int fd, int parent) {
    struct statx stx;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &stx) == 0 &&
        (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return stx.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    // Older kernels: a mount of another file system at least shows.
    struct stat file, directory;
    return fstat(fd, &file) == 0 && fstat(parent, &directory) == 0 &&
           file.st_dev != directory.st_dev;
}

// Copies bytes `at` to `end` of `from` to the same offsets in `to`; false
// with errno set.
bool CopyBytes(int from, int to, off_t at, off_t end) {
    if (lseek(to, at, SEEK_SET) != at)
        return false;
    char buffer[64 * 1024];
    while (at < end) {
        const ssize_t got =
            pread(from, buffer, size_t(std::min<off_t>(sizeof buffer, end - at)), at);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0)
                errno = EIO;
            return false;
        }
        if (!WriteAll(to, buffer, size_t(got)))
            return false;
        at += got;
    }
    return true;
}

} // namespace

OutputFile::~OutputFile() {
    if (!m_done)
        Discard();
    for (int fd : {m_fd, m_old, m_private, m_parent})
        if (fd >= 0)
            close(fd);
}

int OutputFile::Prepare(const char* path) {
    m_path = m_culprit = path;
    // Through the kernel, which follows only the links it may: a stat that
    // fails for any reason but a missing file refuses the output (a link the
    // kernel will not follow fails with EACCES).
    struct stat st;
    const bool exists = stat(path, &st) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    // The writer patches the header when it is done, which takes a file it
    // can seek in; opening a FIFO would also wait for a reader.
    if (exists && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        return ESPIPE;
    // A device or a directory is handed on as it is: the writer writes the
    // one and refuses the other.
    if (exists && !S_ISREG(st.st_mode))
        return 0;
    if (const int error = exists ? OpenOld() : 0)
        return error;
    if (const int error = OpenParent())
        return error;
    return MakeOutput(exists);
}

// The file replaced, refused as the writer itself would refuse it;
// O_NONBLOCK in case a FIFO took its place meanwhile.
int OutputFile::OpenOld() {
    m_old = open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_old < 0)
        return errno;
    if (fstat(m_old, &m_oldStat) != 0 || !S_ISREG(m_oldStat.st_mode))
        return ESPIPE;
    return 0;
}

// The directory that holds the file OUTPUT leads to, its links followed as
// the kernel follows them, and the file's name in it.
int OutputFile::OpenParent() {
    int directory = -1;
    if (const int error = FollowLinks(m_path.c_str(), directory, m_base))
        return error;
    m_parent = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_parent < 0 && errno == EACCES) // a directory we may write but not list
        m_parent = directory;
    else
        close(directory);
    if (m_parent < 0)
        return errno;
    // The old file is written over where its name is not where it is (a link
    // through /proc, or a file moved meanwhile).
    struct stat named;
    m_sameName =
        m_old < 0 || (fstatat(m_parent, m_base.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                      named.st_dev == m_oldStat.st_dev && named.st_ino == m_oldStat.st_ino);
    return 0;
}

// The file the writer writes, beside the one it replaces. A new file that
// cannot be made beside its directory's other files cannot be made there at
// all; an old one is written over from a copy under $TMPDIR.
int OutputFile::MakeOutput(bool exists) {
    m_way = exists && MustCopy() ? Way::kCopy : Way::kRename;
    const int error = m_sameName ? MakePrivate() : EXDEV;
    if (error && !exists)
        return error;
    if (error) {
        m_way = Way::kCopy;
        return MakeAnonymous();
    }
    return 0;
}

// A rename would give the name another file: one with no other links and
// not mounted on. (A file the user does not own is written over too, see
// KeepIdentity, which covers a sticky directory such as /tmp as well, where
// only the file's owner or the directory's may rename over it.)
bool OutputFile::MustCopy() const {
    return !m_sameName || m_oldStat.st_nlink > 1 || IsMountPoint(m_old, m_parent);
}

int OutputFile::MakePrivate() {
    HandleSignals();
    RemoveLeftovers(m_parent);
    {
        // No signal may come between making the directory and telling the
        // handler its name.
        SignalsHeld held;
        std::string name;
        int made = -1;
        for (int tries = 0; made != 0 && tries < 100; ++tries) {
            name = RandomName();
            made = mkdirat(m_parent, name.c_str(), kPrivateMode);
            if (made != 0 && errno != EEXIST)
                return errno;
        }
        if (made != 0)
            return errno;
        m_private = openat(m_parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        // The umask may have taken the owner's bits away (0222 gives 0500,
        // where no file can be made): the mode is set as such, keeping a
        // set-group-ID bit the directory took from its parent.
        struct stat mode;
        if (m_private >= 0 && (fstat(m_private, &mode) != 0 ||
                               fchmod(m_private, (mode.st_mode & S_ISGID) | kPrivateMode) != 0)) {
            close(m_private);
            m_private = -1;
        }
        if (m_private < 0) {
            const int error = errno;
            unlinkat(m_parent, name.c_str(), AT_REMOVEDIR);
            return error;
        }
        std::memcpy(g_privateName, name.c_str(), name.size() + 1);
        g_parent = m_parent;
        g_private = m_private;
    }
    // Held until the process ends: how a later run tells that this one is
    // still going. Another run looking for leftovers may hold it for a moment
    // (it finds no output here yet and lets go), so this waits rather than
    // going on unlocked, where a third run could take the output away.
    // Without locks (some network file systems) it goes on.
    while (flock(m_private, LOCK_EX) != 0 && errno == EINTR) {
    }
    m_fd = openat(m_private, kFileName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        const int error = errno;
        RemovePrivate();
        return error;
    }
    return 0;
}

int OutputFile::MakeAnonymous() {
    const char* directory = TemporaryDirectory();
    m_culprit = directory;
    m_fd = AnonymousFile(directory);
    return m_fd < 0 ? errno : 0;
}

void OutputFile::Opened() {
    if (m_way == Way::kRename && m_old >= 0 && !KeepIdentity())
        m_way = Way::kCopy;
}

// The new file takes the old one's owner and group (as root always; a user
// only their own file, in a group of theirs), then its permission bits and
// its extended attributes. False when any of them cannot be kept.
bool OutputFile::KeepIdentity() {
    struct stat now;
    if (fstat(m_fd, &now) != 0)
        return false;
    if ((now.st_uid != m_oldStat.st_uid || now.st_gid != m_oldStat.st_gid) &&
        fchown(m_fd, m_oldStat.st_uid, m_oldStat.st_gid) != 0)
        return false;
    // The kernel drops a set-group-ID bit a user may not set, silently.
    const mode_t mode = m_oldStat.st_mode & 07777;
    if (fchmod(m_fd, mode) != 0 || fstat(m_fd, &now) != 0 || (now.st_mode & 07777) != mode)
        return false;
    return CopyAttributes(m_old, m_fd);
}

int OutputFile::Commit() {
    m_done = true;
    m_culprit = m_path;
    const int error = m_way == Way::kRename ? Rename() : m_way == Way::kCopy ? CopyOver() : 0;
    RemovePrivate();
    return error;
}

// A new file has nothing to lose and is not flushed. An old one is replaced
// only once its successor is on disk, and the rename itself is made durable,
// so that a power cut leaves one or the other whole.
int OutputFile::Rename() {
    if (m_old >= 0 && fdatasync(m_fd) != 0)
        return errno;
    if (renameat(m_private, kFileName, m_parent, m_base.c_str()) != 0)
        return errno;
    // A directory the user may write but not read is open only as O_PATH,
    // which cannot be flushed: its whole file system is. A file system that
    // cannot flush a directory at all (EINVAL) has nothing more to give.
    if (m_old >= 0 && fsync(m_parent) != 0 && errno != EINVAL &&
        (errno != EBADF || syncfs(m_fd) != 0))
        return errno;
    return 0;
}

// Writes the finished output over the old file, which keeps its inode and so
// all that hangs on it, holding an exclusive lock on it until the run ends.
// The room is reserved first, so that a full disk fails before anything is
// overwritten (a file size limit has already failed the output itself); the
// signals that end a run wait until the copy is done. Where room cannot be
// reserved, the part beyond the old end is written first and cut off again
// if the disk is full, and a sparse old file, whose holes take room too, is
// written over only when the free space covers them.
int OutputFile::CopyOver() {
    // Another run copying over the same file (through another link, say)
    // waits for this one to end rather than mixing their bytes. Where locks
    // do not work (some network file systems) the copy goes on unlocked.
    while (flock(m_old, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat st, old;
    if (fstat(m_fd, &st) != 0 || fstat(m_old, &old) != 0)
        return errno;
    const bool reserved = fallocate(m_old, FALLOC_FL_KEEP_SIZE, 0, st.st_size) == 0;
    if (!reserved && errno != EOPNOTSUPP)
        return errno;
    if (!reserved && !RoomForHoles(m_old, old, st.st_size))
        return errno;
    SignalsHeld held;
    const bool grow = !reserved && st.st_size > old.st_size;
    if (grow && !CopyBytes(m_fd, m_old, old.st_size, st.st_size)) {
        const int error = errno;
        return ftruncate(m_old, old.st_size) == 0 ? error : errno;
    }
    if (!CopyBytes(m_fd, m_old, 0, grow ? old.st_size : st.st_size) ||
        ftruncate(m_old, st.st_size) != 0 || fdatasync(m_old) != 0)
        return errno;
    return 0;
}

void OutputFile::Discard() {
    m_done = true;
    RemovePrivate();
}

void OutputFile::RemovePrivate() {
    if (m_private < 0)
        return;
    SignalsHeld held;
    unlinkat(m_private, kFileName, 0);
    unlinkat(m_parent, g_privateName, AT_REMOVEDIR);
    close(m_private);
    m_private = g_private = g_parent = -1;
}

} // namespace files
