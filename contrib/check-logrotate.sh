#!/bin/sh
# Reads a logrotate file the way logrotate does, without rotating anything,
# and fails on any complaint or when the policy is not the intended one: a
# file a month, 12 kept, empty logs left alone.
# Usage: check-logrotate.sh FILE   Exit 77 (skipped) where logrotate is missing.
set -u
if ! command -v logrotate >/dev/null 2>&1; then
    echo "SKIPPED: logrotate is not installed (apt-get install logrotate)"
    exit 77
fi
# logrotate reports a bad line but still exits 0, so its report is read.
out=$(logrotate --debug --state /dev/null "$1" 2>&1)
status=0
if printf '%s\n' "$out" | grep -q '^error:'; then
    status=1
fi
for want in 'monthly (12 rotations)' 'empty log files are not rotated'; do
    printf '%s\n' "$out" | grep -qF "$want" || status=1
done
if [ "$status" -ne 0 ]; then
    printf '%s\n' "$out"
    echo "logrotate $1: not the intended policy"
    exit 1
fi
echo "logrotate: $1 reads cleanly"
