// The output policy: refuse an output that is the input, write beside the
// file being replaced, and rename only a whole run over it.
#include "OutputFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regen {

namespace {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What a signal handler removes: the output being written and the private
// directory that holds it. A handler can reach nothing but static storage,
// and it must not allocate: hence these static buffers.
char g_signalFile[PATH_MAX + 64];
char g_signalDirectory[PATH_MAX + 64];

void OnSignal(int sig) {
    if (g_signalFile[0] != '\0')
        unlink(g_signalFile);
    if (g_signalDirectory[0] != '\0')
        rmdir(g_signalDirectory);
    signal(sig, SIG_DFL);
    raise(sig);
}

void ForgetForSignals() {
    g_signalFile[0] = '\0';
    g_signalDirectory[0] = '\0';
}

} // namespace

std::string FollowLinks(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        char link[PATH_MAX];
        const ssize_t n = readlink(p.c_str(), link, sizeof link - 1);
        if (n < 0)
            return p;
        const std::string to(link, size_t(n));
        p = !to.empty() && to[0] == '/' ? to : DirectoryOf(p) + "/" + to;
    }
    return p; // a loop: opening it fails as it would have
}

OutputFile::~OutputFile() {
    if (!m_done)
        Discard();
}

int OutputFile::Prepare(const char* path) {
    m_target = FollowLinks(path);
    m_write = path;
    struct stat st;
    const bool exists = stat(path, &st) == 0;
    // The writer patches the header when it is done, which takes a file it
    // can seek in; opening a FIFO would also wait for a reader.
    if (exists && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        return ESPIPE;
    // A device or a directory is handed on as it is: the writer writes the
    // one and refuses the other.
    if (exists && !S_ISREG(st.st_mode))
        return 0;
    if (exists) {
        // Refused as the writer itself would refuse it; O_NONBLOCK in case a
        // FIFO took its place meanwhile.
        const int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        close(fd);
    }
    // The output is written in a directory of its own beside the file it
    // replaces, where the writer creates it afresh and nobody else can put a
    // file or a link in its way. (A temporary file made first would be
    // reopened, and so truncated, by the writer, which makes ext4 flush it
    // to disk when it is closed: a tenth more time for a long run.)
    const std::string base = m_target.substr(m_target.rfind('/') + 1);
    std::string directory = DirectoryOf(m_target) + "/." + base + ".XXXXXX";
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigset_t signals, before;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(sig, &action, nullptr);
        sigaddset(&signals, sig);
    }
    // No signal may come between making the directory and telling the
    // handler its name.
    sigprocmask(SIG_BLOCK, &signals, &before);
    const bool made = directory.size() + base.size() + 2 < sizeof g_signalFile &&
                      mkdtemp(directory.data()) != nullptr;
    if (made) {
        m_directory = directory;
        m_write = directory + "/" + base;
        std::snprintf(g_signalDirectory, sizeof g_signalDirectory, "%s", m_directory.c_str());
        std::snprintf(g_signalFile, sizeof g_signalFile, "%s", m_write.c_str());
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    m_regular = true;
    if (!made) {
        // No room beside it: written in place, as a plain run would, by its
        // own name so that a failed run removes the file and not a link.
        m_write = m_target;
        return 0;
    }
    m_keepMode = exists;
    m_mode = st.st_mode & 07777;
    m_temporary = true;
    return 0;
}

void OutputFile::Opened() {
    m_opened = true;
    // The replacement keeps the permission bits of the file it replaces; a
    // new file has those its creation gave it, as a plain run's would.
    if (m_temporary && m_keepMode)
        chmod(m_write.c_str(), m_mode);
}

int OutputFile::Commit() {
    m_done = true;
    if (!m_temporary)
        return 0;
    int error = 0;
    if (rename(m_write.c_str(), m_target.c_str()) != 0) {
        error = errno;
        unlink(m_write.c_str());
    }
    rmdir(m_directory.c_str());
    ForgetForSignals();
    return error;
}

void OutputFile::Discard() {
    m_done = true;
    // Only a regular file this run created or truncated; a device (/dev/full,
    // say) is left alone.
    struct stat st;
    if ((m_temporary || (m_regular && m_opened)) && stat(m_write.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
        unlink(m_write.c_str());
    if (m_temporary) {
        rmdir(m_directory.c_str());
        ForgetForSignals();
    }
}

} // namespace regen
