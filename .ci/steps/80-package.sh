#!/usr/bin/env bash
# Debian packages for the host and for arm64: pulseregen (the programs) and
# libcwave-dev (the CWave library), their contents, and lintian.
set -euo pipefail
. .ci/lib.sh

step "Install the packaging tools"
need_packages lintian file binutils g++-aarch64-linux-gnu qemu-user pkgconf python3

host_arch=$(dpkg --print-architecture)
rm -rf build/packages
for preset in default aarch64; do
    step "Build the $preset package"
    # Reuses the build of the earlier steps when it is there.
    CXXFLAGS="-Werror" cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    cpack --preset "$preset"
done

# Fails unless package $1 holds exactly the files listed in $2 (sorted).
holds_exactly() {
    local files
    files=$(dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sort)
    if [ "$files" != "$2" ]; then
        echo "unexpected contents:"; diff <(echo "$2") <(echo "$files") || true
        exit 1
    fi
}

# Every file a package may hold; anything more (a library in the programs'
# package, GoogleTest's headers) or less fails the step.
expected=$(printf '%s\n' \
    ./etc/logrotate.d/thermlog \
    ./usr/bin/pulseregen ./usr/bin/thermlog ./usr/bin/thermlog-plot \
    ./usr/lib/systemd/system/thermlog.service ./usr/lib/systemd/system/thermlog.timer \
    ./usr/share/doc/pulseregen/README.md ./usr/share/doc/pulseregen/changelog.gz \
    ./usr/share/doc/pulseregen/copyright ./usr/share/doc/pulseregen/docs/pulseregen.png \
    ./usr/share/doc/pulseregen/docs/thermlog-plot.png \
    ./usr/share/man/man1/pulseregen.1.gz ./usr/share/man/man1/thermlog.1.gz \
    ./usr/share/man/man1/thermlog-plot.1.gz | sort)

declare -A want_machine=([amd64]="x86-64" [arm64]="ARM aarch64")
for arch in "$host_arch" arm64; do
    deb=$(ls build/packages/pulseregen_*_"$arch".deb)
    step "$(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture
    echo "Depends: $(dpkg-deb -f "$deb" Depends)"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ]
    # dpkg keeps an administrator's edits only to files marked as conffiles.
    [ "$(dpkg-deb -I "$deb" conffiles)" = /etc/logrotate.d/thermlog ]
    dpkg-deb -c "$deb"
    holds_exactly "$deb" "$expected"

    tree=$(mktemp -d)
    dpkg-deb -x "$deb" "$tree"
    for prog in pulseregen thermlog; do
        info=$(file -b "$tree/usr/bin/$prog")
        echo "$prog: $info"
        if [ -n "${want_machine[$arch]:-}" ]; then
            grep -q "${want_machine[$arch]}" <<<"$info"
        fi
    done
    # The dependencies must cover what the binaries use: every library they
    # need belongs to a package in Depends, whose version is no older than
    # the newest symbol they take from it. The minimum versions come from the
    # host's Debian symbols files, as dpkg-shlibdeps finds them: amd64 and
    # arm64 are both LP64, so C++ symbols are mangled alike; a symbol the
    # host lacks (arm64's glibc starts at GLIBC_2.17) counts by its version
    # node.
    python3 - "$tree/usr/bin" "$(dpkg-deb -f "$deb" Depends)" "$host_arch" <<'PY'
import os, re, subprocess, sys
bindir, depends, host_arch = sys.argv[1:4]
library_package = {"libc.so.6": "libc6", "libm.so.6": "libc6", "ld-linux-aarch64.so.1": "libc6",
                   "ld-linux-x86-64.so.2": "libc6",
                   "libstdc++.so.6": "libstdc++6", "libgcc_s.so.1": "libgcc-s1"}
node_package = {"GLIBC": "libc6", "GLIBCXX": "libstdc++6", "CXXABI": "libstdc++6",
                "GCC": "libgcc-s1"}

def newer(a, b):
    return subprocess.run(["dpkg", "--compare-versions", a, "gt", b]).returncode == 0

def symbols(package):
    table = {}
    with open(f"/var/lib/dpkg/info/{package}:{host_arch}.symbols") as f:
        for line in f:
            if line.startswith(" "):
                name, version = line.split()[:2]
                table[name] = version
    return table

stated = {}
for d in depends.split(","):
    m = re.match(r"\s*([\w.+-]+)(?:\s*\(>=\s*([^)]+)\))?", d)
    stated[m.group(1)] = m.group(2)

tables = {}
for prog in sorted(os.listdir(bindir)):
    path = os.path.join(bindir, prog)
    with open(path, "rb") as f:
        if f.read(4) != b"\x7fELF":
            continue  # a script (thermlog-plot) links nothing
    dyn = subprocess.run(["readelf", "-dW", path], capture_output=True, text=True, check=True).stdout
    for lib in re.findall(r"\(NEEDED\).*\[(.+)\]", dyn):
        if library_package.get(lib) not in stated:
            sys.exit(f"{prog} needs {lib}, which no package in Depends provides")
    syms = subprocess.run(["readelf", "--dyn-syms", "-W", path], capture_output=True, text=True, check=True).stdout
    need = {}
    for name, node in re.findall(r" UND (\S+)@(\w+?_[\d.]+)", syms):
        package = node_package[node.rsplit("_", 1)[0]]
        table = tables.setdefault(package, symbols(package))
        version = table.get(f"{name}@{node}") or table.get(f"{node}@{node}")
        if version is None:
            sys.exit(f"{prog}: no minimum version known for {name}@{node}")
        if package not in need or newer(version, need[package]):
            need[package] = version
    for package, version in sorted(need.items()):
        if stated.get(package) is None or newer(version, stated[package]):
            sys.exit(f"{prog} needs {package} (>= {version}); Depends states {package} (>= {stated.get(package)})")
    print(f"{prog}: needs " + ", ".join(f"{p} (>= {v})" for p, v in sorted(need.items())) + ": covered")
PY
    # Every file the installed README links to is installed beside it.
    doc="$tree/usr/share/doc/pulseregen"
    grep -o '](\([^)#:]*\))' "$doc/README.md" | sed 's/^](//; s/)$//' | sort -u |
    while read -r link; do
        [ -e "$doc/$link" ] || { echo "installed README links to missing $link"; exit 1; }
        echo "README link $link: installed"
    done
    # One version throughout: the package's, the changelog's newest entry's
    # and the manual pages' headers.
    version=$(dpkg-deb -f "$deb" Version)
    zcat "$doc/changelog.gz" | sed -n 1p | grep -q "^pulseregen ($version) " ||
        { echo "changelog: newest entry is not $version"; exit 1; }
    for page in "$tree"/usr/share/man/man1/*.1.gz; do
        zcat "$page" | sed -n 1p | grep -qF "\"pulseregen $version\"" ||
            { echo "$(basename "$page"): not version $version"; exit 1; }
    done
    # The packaged (stripped) program runs and gives the same bytes on both
    # architectures.
    run=()
    [ "$arch" = "$host_arch" ] || run=(qemu-aarch64 -L /usr/aarch64-linux-gnu)
    "${run[@]}" "$tree/usr/bin/pulseregen" examples/bursts.wav "build/packages/bursts-$arch.wav" >/dev/null
    rm -rf "$tree"

    step "lintian $(basename "$deb")"
    lintian --allow-root --fail-on error,warning --display-info "$deb"
    echo "lintian: no errors or warnings"
done

step "The packaged programs agree across architectures"
cmp "build/packages/bursts-$host_arch.wav" build/packages/bursts-arm64.wav
echo "pulseregen from both packages: byte-identical output on examples/bursts.wav"

# The library for other programs, in the directory Debian keeps each
# architecture's libraries in.
declare -A multiarch=([amd64]=x86_64-linux-gnu [arm64]=aarch64-linux-gnu)
declare -A want_elf_machine=([amd64]="Advanced Micro Devices X86-64" [arm64]="AArch64")
for arch in "$host_arch" arm64; do
    deb=$(ls build/packages/libcwave-dev_*_"$arch".deb)
    step "$(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture Section
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ]
    [ -z "$(dpkg-deb -f "$deb" Depends)" ]
    dpkg-deb -c "$deb"
    libdir=lib/${multiarch[$arch]:?no multiarch directory known for $arch}
    lib=usr/$libdir
    dev_expected=$(printf '%s\n' \
        ./usr/include/cwave/Wave.h \
        "./$lib/libcwave.a" "./$lib/pkgconfig/cwave.pc" \
        "./$lib/cmake/CWave/CWaveConfig.cmake" "./$lib/cmake/CWave/CWaveConfigVersion.cmake" \
        "./$lib/cmake/CWave/CWaveTargets.cmake" "./$lib/cmake/CWave/CWaveTargets-release.cmake" \
        ./usr/share/doc/libcwave-dev/changelog.gz ./usr/share/doc/libcwave-dev/copyright \
        ./usr/share/man/man3/cwave.3.gz | sort)
    holds_exactly "$deb" "$dev_expected"

    tree=$(mktemp -d)
    dpkg-deb -x "$deb" "$tree"
    machines=$(readelf -h "$tree/$lib/libcwave.a" | sed -n 's/^ *Machine: *//p' | sort -u)
    echo "libcwave.a: $machines"
    [ "$machines" = "${want_elf_machine[$arch]}" ]
    version=$(dpkg-deb -f "$deb" Version)
    zcat "$tree/usr/share/doc/libcwave-dev/changelog.gz" | sed -n 1p | grep -q "^pulseregen ($version) " ||
        { echo "changelog: newest entry is not $version"; exit 1; }
    zcat "$tree/usr/share/man/man3/cwave.3.gz" | sed -n 1p | grep -qF "\"pulseregen $version\"" ||
        { echo "cwave.3.gz: not version $version"; exit 1; }
    grep -qx "Version: $version" "$tree/$lib/pkgconfig/cwave.pc"
    grep -qx "prefix=/usr" "$tree/$lib/pkgconfig/cwave.pc"
    if [ "$arch" = "$host_arch" ]; then
        # The unpacked package serves a program as an install does.
        cwave_consumer "$tree" /usr "$libdir" "$PWD/build/packages/consumer"
    else
        step "cwave-peaks cross-built against the arm64 package, run under qemu-aarch64"
        # shellcheck disable=SC2046
        aarch64-linux-gnu-g++ -Wall -Wextra -Wpedantic -Werror examples/cwave-peaks/cwave_peaks.cpp \
            $(PKG_CONFIG_SYSROOT_DIR=$tree PKG_CONFIG_LIBDIR=$tree/$lib/pkgconfig \
                pkg-config --cflags --libs cwave) -o build/packages/cwave-peaks-arm64
        arm=$(qemu-aarch64 -L /usr/aarch64-linux-gnu build/packages/cwave-peaks-arm64 examples/bursts.wav)
        echo "$arm"
        [ "$arm" = "$(build/packages/consumer/cmake/cwave-peaks examples/bursts.wav)" ]
    fi
    rm -rf "$tree"

    step "lintian $(basename "$deb")"
    lintian --allow-root --fail-on error,warning --display-info "$deb"
    echo "lintian: no errors or warnings"
done
