#!/usr/bin/env bash
# What the README's install does, checked where it lands: the programs
# installed under /usr/local (into a scratch root) with units that
# systemd-analyze verify accepts, so that the service runs the installed
# program; and packaging without dpkg-dev, which must stop with the reason
# instead of making a package without Depends.
set -euo pipefail
. .ci/lib.sh

need_packages systemd cmake

step "cmake --install under /usr/local, then systemd-analyze verify of the installed units"
# Exit 77 (skipped) would hide the check: here systemd is installed, so any
# status but 0 fails.
sh contrib/check-units.sh --install build/default /usr/local

step "The package's service runs /usr/bin/thermlog"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$(ls build/packages/pulseregen_*_"$(dpkg --print-architecture)".deb)" "$tree"
grep -x 'ExecStart=/usr/bin/thermlog /var/log/thermlog.log' "$tree/usr/lib/systemd/system/thermlog.service"

step "cpack without dpkg-shlibdeps stops and names dpkg-dev"
# A private mount namespace hides the tool from this run only.
if ! unshare -m true 2>/dev/null; then
    echo "SKIPPED: no mount namespace to hide dpkg-shlibdeps in: $(unshare -m true 2>&1)"
    exit 0
fi
before=$(ls -l --time-style=+%s.%N build/packages/*.deb)
status=0
out=$(unshare -m sh -c 'mount --bind /dev/null "$(command -v dpkg-shlibdeps)" && exec cpack --preset default' 2>&1) || status=$?
printf '%s\n' "$out" | tail -4
[ "$status" -ne 0 ] || { echo "cpack made packages without dpkg-shlibdeps"; exit 1; }
grep -q 'apt-get install *dpkg-dev' <<<"$(printf '%s\n' "$out" | tr -s ' \n' ' ')" ||
    { echo "cpack did not name dpkg-dev"; exit 1; }
[ "$(ls -l --time-style=+%s.%N build/packages/*.deb)" = "$before" ] ||
    { echo "cpack replaced a package"; exit 1; }
echo "cpack: stopped, naming dpkg-dev"
