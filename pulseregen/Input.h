// The INPUT argument made readable by path, with seeking: the reader goes
// through the data twice, which a pipe cannot do.
#pragma once

#include <string>

namespace regen {

class Input {
  public:
    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Where to read `arg` ("-" is standard input). A regular file or a block
    // device is read in place; anything else that exists (a pipe, a FIFO, a
    // character device) is first copied into an unlinked temporary file under
    // $TMPDIR, or /tmp. Returns 0, or the errno of a failed copy.
    int Prepare(const char* arg);
    // The path to open: the argument itself, or one that names the copy.
    const char* Path() const { return m_path.c_str(); }

  private:
    std::string m_path;
    int m_copy = -1; // the temporary copy, kept open for the length of the run
};

// The path that names `arg` when it is opened: standard input for "-".
const char* InputPath(const char* arg);

} // namespace regen
