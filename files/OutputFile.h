// The OUTPUT argument, replaced only by a whole run, and replaced as the
// file it was: the output is written whole into a file of its own, then
// either renamed over the old file (taking its owner, group, permission bits
// and extended attributes, ACLs among them) or, where a rename would lose
// any of these or cannot be done, copied over it. A failed or interrupted
// run leaves the previous file as it was and nothing of its own behind.
#pragma once

#include <string>
#include <sys/stat.h>

namespace files {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // discards an output that was never committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Decides where to write `path`. Returns 0, or an errno when the output
    // is refused: a FIFO or a socket (which would block or take no file), an
    // existing file that may not be written, a new one whose directory takes
    // no file, or no room for the output anywhere. From then on SIGINT,
    // SIGTERM and SIGHUP (those not ignored) remove what the run made before
    // they end the process.
    int Prepare(const char* path);
    // The descriptor the writer writes the output to, or -1 when it is to
    // write `path` itself (a device such as /dev/null, or a directory, which
    // it refuses).
    int Descriptor() const { return m_fd; }
    // Tells that the writer has started: the output takes on what the old
    // file had, and where it cannot, the run will copy it over the old file.
    void Opened();
    // Installs the finished output; 0 or the errno of the failure, which
    // leaves the old file as it was unless the copy over it failed midway.
    int Commit();
    // Removes what this run made.
    void Discard();
    // The file a failure is about: OUTPUT, or the temporary directory that
    // holds the output while it is written.
    const char* Culprit() const { return m_culprit.c_str(); }

  private:
    enum class Way { kDirect, kRename, kCopy };

    int OpenOld();
    int OpenParent();
    int MakeOutput(bool exists);
    bool MustCopy() const;
    int MakePrivate();
    int MakeAnonymous();
    bool KeepIdentity();
    int Rename();
    int CopyOver();
    void RemovePrivate();

    std::string m_path;
    std::string m_culprit;
    std::string m_base; // the last name of the file replaced, links followed
    Way m_way = Way::kDirect;
    int m_parent = -1;  // the directory of the file replaced
    int m_private = -1; // the private directory in it, if any
    int m_fd = -1;      // the output being written
    int m_old = -1;     // the file replaced, open for writing, if it exists
    struct stat m_oldStat {};
    bool m_sameName = true; // m_old is the file m_base names in m_parent
    bool m_done = false;
};

} // namespace files
