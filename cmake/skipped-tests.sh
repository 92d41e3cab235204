#!/bin/sh
# Prints the tests the last ctest run skipped, one line each, and why:
#   skipped 2 of 106 tests:
#     thermlog_plot: gnuplot is not installed (apt-get install gnuplot-nox)
#     man_pages_render_without_warnings: ...
# ctest runs it after the tests (CTestCustom.cmake in the build directory),
# so that a run that skips tests for want of a tool says so without a look
# into the log. Each skipping test says why in a line of its output, which
# this quotes: "SKIPPED: WHY" or "SKIPPED [CASE]: WHY" from the scripts, or
# GoogleTest's "FILE:LINE: Skipped" followed by the reason.
# Usage: skipped-tests.sh BUILD/Testing/Temporary. Always exits 0.
# ctest writes the log as LastTest.log.tmp and renames it only after this
# has run; the name without .tmp is for running it by hand.
log=$1/LastTest.log.tmp
[ -r "$log" ] || log=$1/LastTest.log
[ -r "$log" ] || exit 0
awk '
function finish() {
    if (name == "")
        return
    total++
    if (reason != "") {
        skipped++
        lines[skipped] = "  " name ": " reason
    }
    name = ""
}
/^[0-9]+\/[0-9]+ Test: / { finish(); name = $3; reason = ""; output = 0; gtest = 0; next }
/^Output:$/ { output = 1; next }
/^<end of output>$/ { output = 0; next }
output && reason == "" {
    if (match($0, /^SKIPPED( \[[^]]*\])?: /))
        reason = substr($0, RLENGTH + 1)
    else if (gtest)
        reason = $0
    else if ($0 ~ /: Skipped$/)
        gtest = 1
}
END {
    finish()
    if (skipped == 0)
        exit
    print "skipped " skipped " of " total " tests:"
    for (i = 1; i <= skipped; i++)
        print lines[i]
}' "$log"
exit 0
