#!/bin/sh
# Renders man pages the way groff and man(1) do with warnings on and fails on
# any warning, so a page that would show broken markup never ships.
# Usage: check-manpage.sh PAGE...   Exit 77 (skipped) when groff or man is missing.
for tool in groff man; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (apt-get install man-db)"
        exit 77
    fi
done
status=0
for page in "$@"; do
    for check in "groff -man -ww -z" "man --warnings -l"; do
        # Only the diagnostics matter; man's rendering goes to /dev/null.
        if ! out=$(LC_ALL=C.UTF-8 MANWIDTH=80 $check "$page" 2>&1 >/dev/null) || [ -n "$out" ]; then
            echo "$check $page:"
            printf '%s\n' "$out"
            status=1
        fi
    done
done
[ "$status" -eq 0 ] && echo "no warnings: $*"
exit "$status"
