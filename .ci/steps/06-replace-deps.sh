#!/usr/bin/env bash
# The tests that replace outputs as other users and administrators do: strace
# shows the order of the flushes and the rename, setfacl and setfattr give a
# file an ACL and an extended attribute to keep (setpriv and unshare come
# with util-linux).
set -euo pipefail
. .ci/lib.sh

step "Install the output replacement test tools"
need_packages strace acl attr util-linux
