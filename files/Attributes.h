// Extended attributes (ACLs among them) carried from a file to the one that
// replaces it.
#pragma once

namespace files {

// Gives `to` exactly the extended attributes of `from` (an ACL is one);
// false when that cannot be done. A file system without attributes has none.
bool CopyAttributes(int from, int to);

} // namespace files
