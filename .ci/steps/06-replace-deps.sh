#!/usr/bin/env bash
# The tests that replace outputs as other users and administrators do: strace
# shows the order of the flushes and the rename, setfacl and setfattr give a
# file an ACL and an extended attribute to keep (setpriv, unshare, flock and
# losetup come with util-linux); mkfs.ext2 makes the file system without
# fallocate for the sparse-output test; python3 writes the stream tests'
# inputs.
set -euo pipefail
. .ci/lib.sh

step "Install the output replacement test tools"
need_packages strace acl attr util-linux e2fsprogs python3
