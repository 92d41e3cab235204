#!/bin/sh
# Installs the programs' component of a build under PREFIX into a scratch
# root (as "DESTDIR=ROOT cmake --install BUILD --prefix PREFIX" does), adds
# the systemd units the host ships, and checks the installed thermlog units
# there with systemd-analyze verify: the service must run the program the
# install put in place. Any complaint fails the check.
# Usage: check-units.sh --install BUILD PREFIX   Exit 77 (skipped) where
# systemd-analyze or the host's systemd units are missing.
set -u
if [ $# -ne 3 ] || [ "$1" != --install ]; then
    echo "usage: $0 --install BUILD PREFIX" >&2
    exit 2
fi
build=$2 prefix=$3
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
if ! out=$(DESTDIR=$root cmake --install "$build" --prefix "$prefix" --component programs 2>&1); then
    printf '%s\n' "$out"
    echo "cmake --install $build --prefix $prefix: failed"
    exit 1
fi
installed=$root$prefix/lib/systemd/system
for unit in thermlog.service thermlog.timer; do
    [ -f "$installed/$unit" ] || { echo "$unit is not installed in $prefix/lib/systemd/system"; exit 1; }
done
grep '^ExecStart=' "$installed/thermlog.service"
mkdir -p "$root/usr/lib/systemd" "$root/etc/systemd/system"
# The host's own units, unless the prefix already put ours there.
for unit in "$units"/*; do
    [ -e "$root/usr/lib/systemd/system/$(basename "$unit")" ] || {
        mkdir -p "$root/usr/lib/systemd/system"
        cp -a "$unit" "$root/usr/lib/systemd/system/"
    }
done
# --man=no: the man page named in Documentation= is not installed here.
out=$(systemd-analyze verify --root="$root" --man=no \
    "$installed/thermlog.service" "$installed/thermlog.timer" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
    printf '%s\n' "$out"
    echo "systemd-analyze verify: status $status"
    exit 1
fi
echo "systemd-analyze verify: no complaints about the units installed under $prefix"
