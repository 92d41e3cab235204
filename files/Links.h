// Where a path leads, asked of the kernel one link at a time, so that a link
// the kernel would refuse to follow (another user's, in a sticky directory
// that anyone may write, under fs.protected_symlinks) is refused here too,
// and a link that leads nowhere yet names the file that opening it for
// writing would create.
#pragma once

#include <string>

namespace files {

// Follows the links of `path`, the last one included. On success `directory`
// is a descriptor (O_PATH) of the directory that holds the file `path`
// leads to, and `name` the file's name in it; the file may not exist yet.
// Returns 0, or the errno of the link or directory that refused: EACCES for
// a link the kernel will not follow, ELOOP for too many.
int FollowLinks(const char* path, int& directory, std::string& name);

} // namespace files
