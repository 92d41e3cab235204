#!/usr/bin/env bash
# Debian packages for the host and for arm64, their contents, and lintian.
set -euo pipefail
. .ci/lib.sh

step "Install the packaging tools"
need_packages lintian file binutils g++-aarch64-linux-gnu

host_arch=$(dpkg --print-architecture)
rm -rf build/packages
for preset in default aarch64; do
    step "Build the $preset package"
    # Reuses the build of the earlier steps when it is there.
    CXXFLAGS="-Werror" cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    cpack --preset "$preset"
done

# Every file a package may hold; anything more (a library, GoogleTest's
# headers) or less fails the step.
expected=$(printf '%s\n' \
    ./usr/bin/pulseregen ./usr/bin/thermlog \
    ./usr/share/doc/pulseregen/README.md ./usr/share/doc/pulseregen/changelog.gz \
    ./usr/share/doc/pulseregen/copyright ./usr/share/doc/pulseregen/thermlog.service \
    ./usr/share/doc/pulseregen/thermlog.timer \
    ./usr/share/man/man1/pulseregen.1.gz ./usr/share/man/man1/thermlog.1.gz | sort)

declare -A want_machine=([amd64]="x86-64" [arm64]="ARM aarch64")
for arch in "$host_arch" arm64; do
    deb=$(ls build/packages/pulseregen_*_"$arch".deb)
    step "$(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture
    echo "Depends: $(dpkg-deb -f "$deb" Depends)"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ]
    dpkg-deb -c "$deb"
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
    if [ "$files" != "$expected" ]; then
        echo "unexpected contents:"; diff <(echo "$expected") <(echo "$files") || true
        exit 1
    fi

    tree=$(mktemp -d)
    dpkg-deb -x "$deb" "$tree"
    for prog in pulseregen thermlog; do
        info=$(file -b "$tree/usr/bin/$prog")
        echo "$prog: $info"
        if [ -n "${want_machine[$arch]:-}" ]; then
            grep -q "${want_machine[$arch]}" <<<"$info"
        fi
    done
    # The stated dependencies must cover what the binaries link: every
    # library they need belongs to a package in Depends, and libc6's version
    # is no older than the newest GLIBC symbol version they use.
    python3 - "$tree/usr/bin" "$(dpkg-deb -f "$deb" Depends)" <<'PY'
import os, re, subprocess, sys
bindir, depends = sys.argv[1], sys.argv[2]
owner = {"libc.so.6": "libc6", "libm.so.6": "libc6",
         "libstdc++.so.6": "libstdc++6", "libgcc_s.so.1": "libgcc-s1"}
deps = {}
for d in depends.split(","):
    m = re.match(r"\s*([\w.+-]+)(?:\s*\(>=\s*([\d.]+)\))?", d)
    deps[m.group(1)] = m.group(2)
def ver(s): return tuple(int(x) for x in s.split("."))
for prog in sorted(os.listdir(bindir)):
    path = os.path.join(bindir, prog)
    dyn = subprocess.run(["readelf", "-dW", path], capture_output=True, text=True, check=True).stdout
    needed = re.findall(r"\(NEEDED\).*\[(.+)\]", dyn)
    for lib in needed:
        pkg = owner.get(lib)
        if pkg not in deps:
            sys.exit(f"{prog} needs {lib}, which no package in Depends provides")
    syms = subprocess.run(["readelf", "-VW", path], capture_output=True, text=True, check=True).stdout
    glibc = sorted({ver(v) for v in re.findall(r"\bGLIBC_([\d.]+)", syms)})
    if glibc and deps.get("libc6") and glibc[-1] > ver(deps["libc6"]):
        sys.exit(f"{prog} uses GLIBC_{'.'.join(map(str, glibc[-1]))}, newer than libc6 (>= {deps['libc6']})")
    print(f"{prog}: needs {', '.join(needed)}; newest GLIBC symbol {'.'.join(map(str, glibc[-1])) if glibc else 'none'}: covered")
PY
    rm -rf "$tree"

    step "lintian $(basename "$deb")"
    lintian --allow-root --fail-on error --display-info "$deb"
    echo "lintian: no errors"
done
