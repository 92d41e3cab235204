// The OUTPUT argument, replaced only by a whole run: the output is written
// into a private directory made beside the file it replaces and renamed over
// that file once it is complete. A failed or interrupted run leaves the
// previous file as it was and nothing of its own behind.
#pragma once

#include <string>
#include <sys/types.h>

namespace regen {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // discards an output that was never committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Decides where to write `path`. Returns 0, or an errno when the output
    // is refused: a FIFO or a socket (which would block or take no file), or
    // an existing file that may not be written. From the private
    // directory's creation on, SIGINT, SIGTERM and SIGHUP remove it and the
    // output in it before they end the process.
    int Prepare(const char* path);
    // The path to hand to the writer.
    const char* WritePath() const { return m_write.c_str(); }
    // Tells that the writer created or truncated WritePath(): from now on a
    // failure removes an output written in place too.
    void Opened();
    // Installs the finished output; 0 or the errno of the failed rename.
    int Commit();
    // Removes what this run wrote into a regular file: the output in its
    // private directory (and the directory), or an output written in place.
    void Discard();

  private:
    std::string m_target; // the file that is replaced, symlinks followed
    std::string m_write;
    std::string m_directory; // the private directory m_write stands in, if any
    bool m_temporary = false;
    bool m_regular = false; // m_write names a regular file, not a device
    bool m_opened = false;
    bool m_done = false;
    bool m_keepMode = false; // give the replacement m_mode
    mode_t m_mode = 0;
};

// `path` with its symbolic links followed, the last one included, even when
// the file it finally names does not exist yet.
std::string FollowLinks(const std::string& path);

} // namespace regen
