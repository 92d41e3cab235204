// Files that no directory names, for data a run needs only while it lasts:
// a copy of an input that cannot seek, an output written whole before it is
// copied over the file it replaces; and the write that fills them.
#pragma once

#include <cstddef>

namespace files {

// $TMPDIR, or /tmp when it is unset or empty.
const char* TemporaryDirectory();

// A new, empty file in `dir`, open for reading and writing, that disappears
// with its last descriptor whatever ends the run; -1 with errno set.
int AnonymousFile(const char* dir);

// Writes all `size` bytes at the descriptor's offset, again after a signal
// cuts a write short; false with errno set (ENOSPC when nothing is taken).
bool WriteAll(int fd, const char* buffer, size_t size);

} // namespace files
