#!/usr/bin/env bash
# The whole suite again for the target processor: cross-compiled for 64-bit
# ARM and run under qemu's user-mode emulator.
set -euo pipefail
. .ci/lib.sh

step "Install the aarch64 cross compiler and qemu"
need_packages g++-aarch64-linux-gnu qemu-user file googletest

step "Build and run every test for aarch64 under qemu-aarch64, warnings as errors"
rm -rf build/aarch64
log=$(mktemp)
CXXFLAGS="-Werror" cmake --workflow --preset aarch64 2>&1 | tee "$log"

step "Every test that hands a target binary to a command starts it through qemu-aarch64"
ctest --preset aarch64 --show-only=json-v1 >"$log.json"
python3 - "$log.json" build/aarch64 <<'PY'
import json, os, sys
tests = json.load(open(sys.argv[1]))["tests"]
root = os.path.realpath(sys.argv[2])
def is_elf(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False
bad = []
emulated = 0
for t in tests:
    cmd = t.get("command", [])
    props = {p["name"]: p["value"] for p in t.get("properties", [])}
    # A test may also hand the emulator to its runner in its environment.
    env_emulated = any("qemu-aarch64" in e for e in props.get("ENVIRONMENT", []))
    emulated += env_emulated or any("qemu-aarch64" in a for a in cmd)
    # Checks labelled "host" only read target files (copy or inspect them).
    if "host" in props.get("LABELS", []):
        continue
    for i, arg in enumerate(cmd):
        p = os.path.realpath(arg) if os.path.isabs(arg) else None
        if p and p.startswith(root + os.sep) and is_elf(p):
            if not env_emulated and not any("qemu-aarch64" in a for a in cmd[:i]):
                bad.append(t["name"])
if bad:
    print("started without the emulator:", *bad, sep="\n  ")
    sys.exit(1)
print(f"{len(tests)} tests, none starts a target binary natively")
with open(sys.argv[1] + ".emulated", "w") as f:
    f.write(str(emulated))
PY

step "The aarch64 programs"
file build/aarch64/pulseregen/pulseregen build/aarch64/thermlog/thermlog

summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
run=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
skipped=$(grep -c -- '\*\*\*Skipped' "$log" || true)
emulated=$(cat "$log.json.emulated")
echo "aarch64: $run tests run, $emulated of them through qemu-aarch64, $skipped skipped"
rm -f "$log" "$log.json" "$log.json.emulated"
