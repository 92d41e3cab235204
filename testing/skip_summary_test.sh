#!/usr/bin/env bash
# The summary of skipped tests: one line per skipped test with the reason it
# gave, and that reason the true one. Root refused a mount namespace (as in
# a chroot; strace makes unshare fail with EPERM) must not read "needs root".
# Usage: skip_summary_test.sh WORKDIR SOURCE_DIR BURSTS_WAV PULSEREGEN
set -u
work=$1 source=$2 bursts=$3 prog=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# A mount namespace refused to root: the skip names that, not root.
if [ "$(id -u)" -eq 0 ] && command -v strace >/dev/null 2>&1; then
    full_disk=$(strace -f -qq -o /dev/null -e trace=unshare -e inject=unshare:error=EPERM \
        bash "$source/files/tests/full_disk_test.sh" "$work/disk" "$bursts" "$prog")
    status=$?
    [ "$status" -eq 77 ] || fail "full_disk_test.sh without a namespace: status $status"
    case $full_disk in
    *"needs root"*) fail "root is told it needs root: $full_disk" ;;
    "SKIPPED: no private mount namespace here, as root too: "*"Operation not permitted") ;;
    *) fail "not the cause: $full_disk" ;;
    esac
else
    full_disk="SKIPPED: no private mount namespace here, as root too: unshare failed"
    echo "not run as root with strace: the namespace case uses a stand-in line"
fi

# A log as ctest writes it: a test that passed, a script's skip, a
# GoogleTest skip and the full-disk skip above.
entry() { # NUMBER NAME OUTPUT...
    printf '%s/4 Testing: %s\n%s/4 Test: %s\nCommand: "x"\nOutput:\n' "$1" "$2" "$1" "$2"
    shift 2
    printf -- '----------------------------------------------------------\n'
    printf '%s\n' "$@"
    printf '<end of output>\nTest time =   0.01 sec\n'
}
mkdir -p "$work/Temporary"
{
    entry 1 passes "all good"
    entry 2 thermlog_plot "SKIPPED: gnuplot is not installed (apt-get install gnuplot-nox)"
    entry 3 RealWriters.Each "[ RUN      ] RealWriters.Each" "x.cpp:9: Skipped" \
        "sox is not installed (apt-get install sox)" "[  SKIPPED ] RealWriters.Each (0 ms)"
    entry 4 FullDiskLeavesNoOutput "$full_disk"
} >"$work/Temporary/LastTest.log"
got=$(sh "$source/cmake/skipped-tests.sh" "$work/Temporary")
want="skipped 3 of 4 tests:
  thermlog_plot: gnuplot is not installed (apt-get install gnuplot-nox)
  RealWriters.Each: sox is not installed (apt-get install sox)
  FullDiskLeavesNoOutput: ${full_disk#SKIPPED: }"
[ "$got" = "$want" ] || { fail "the summary differs:"; diff <(echo "$want") <(echo "$got"); }
[ "$failed" -eq 0 ] && echo "the skip summary: one line per test, the true cause"
exit $failed
