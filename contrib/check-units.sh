#!/bin/sh
# Checks the thermlog units with systemd-analyze verify inside a scratch root
# that holds the systemd units the host ships, the built program at the path
# the service names, and the units under test; any complaint fails the check.
# Usage: check-units.sh THERMLOG_BINARY UNIT...   Exit 77 (skipped) where
# systemd-analyze or the host's systemd units are missing.
set -u
binary=$1
shift
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "SKIPPED: systemd-analyze is not installed (apt-get install systemd)"
    exit 77
fi
units=
for dir in /usr/lib/systemd/system /lib/systemd/system; do
    if [ -e "$dir/sysinit.target" ]; then
        units=$dir
        break
    fi
done
if [ -z "$units" ]; then
    echo "SKIPPED: this host has no systemd units to check against"
    exit 77
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/usr/bin" "$root/usr/lib/systemd" "$root/etc/systemd/system"
cp -a "$units" "$root/usr/lib/systemd/system"
cp "$binary" "$root/usr/bin/thermlog"
for unit in "$@"; do
    cp "$unit" "$root/etc/systemd/system/"
    set -- "$@" "$root/etc/systemd/system/$(basename "$unit")"
    shift
done
# --man=no: the man page named in Documentation= is not installed here.
out=$(systemd-analyze verify --root="$root" --man=no "$@" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
    printf '%s\n' "$out"
    echo "systemd-analyze verify: status $status"
    exit 1
fi
echo "systemd-analyze verify: no complaints about $*"
