#!/usr/bin/env bash
# The program against inputs that misbehave as real media and streams do: a
# disk whose reads fail, streams cut off or padded with rubbish, pulse
# trains whose last samples look like chunk headers. One case per run:
#   streams_test.sh CASE WORKDIR [EMULATOR...] PROGRAM
# Cases needing python3 (to write the inputs) or strace exit 77 without them.
set -u
case_name=$1 work=$2
shift 2
prog=("$@")
fail() { echo "FAIL [$case_name]: $*"; exit 1; }
skip() { echo "SKIPPED [$case_name]: $*"; exit 77; }
command -v python3 >/dev/null || skip "no python3 (apt-get install python3)"
rm -rf "$work" && mkdir -p "$work" && cd "$work" || fail "no work directory"

# wav FILE FRAMES EXPR [DATASIZE]: 16-bit mono 44,100 Hz, sample i = EXPR
# (Python, in i), its data chunk declaring DATASIZE bytes (default: exact).
wav() {
  python3 - "$@" <<'PY' || fail "cannot write $1"
import struct, sys
path, frames, expr = sys.argv[1], int(sys.argv[2]), sys.argv[3]
f = eval("lambda i: " + expr)
body = struct.pack("<%dh" % frames, *(f(i) for i in range(frames)))
size = int(sys.argv[4], 0) if len(sys.argv) > 4 else len(body)
fmt = struct.pack("<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16)
with open(path, "wb") as out:
    out.write(b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVEfmt " + fmt +
              b"data" + struct.pack("<I", size) + body)
PY
}
# run WHAT ARGS...: status, standard output and error of one run.
run() { "${prog[@]}" "$@" >out 2>err; status=$?; }

case $case_name in
readerror)
  # A medium whose reads fail (an SD card, a USB disk going bad): in the
  # activity pass and in the regeneration pass, the run fails with the
  # reason and leaves OUTPUT as it was; nothing claims the file ended.
  command -v strace >/dev/null || skip "no strace (apt-get install strace)"
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 # LeakSanitizer shuns ptrace
  wav big.wav $((300 * 44100)) '20000 if i // 2205 % 2 == 0 else -20000' # 300 s of 10 Hz square
  # The data is read in runs of 1 MiB. The read a quarter and three
  # quarters of the way through them fails, and every read after it; its
  # place is counted among all reads (a sanitizer's runtime makes calls of
  # its own).
  strace -f -qq -y -o trace -e trace=read "${prog[@]}" -q big.wav clean.wav || fail "clean run"
  awk '/ read\(/ { r++ } / read\([0-9]*<[^>]*big\.wav>.*= 1048576$/ { print r }' trace >runs
  n=$(wc -l <runs)
  [ "$n" -ge 20 ] || fail "only $n runs of 1 MiB read from big.wav"
  while read -r when; do
    inject=(-e trace=read -e inject=read:error=EIO:when="$when"+)
    echo old >o.wav
    strace -f -qq -o /dev/null "${inject[@]}" "${prog[@]}" -q big.wav o.wav >out 2>err
    status=$?
    [ "$status" -eq 1 ] && [ "$(cat err)" = "pulseregen: big.wav: Input/output error" ] &&
      [ ! -s out ] && [ "$(cat o.wav)" = old ] || fail "read $when fails: status $status, $(cat err)"
    rm -f o.wav
    strace -f -qq -o /dev/null "${inject[@]}" "${prog[@]}" -q big.wav o.wav 2>err
    [ $? -eq 1 ] && [ ! -e o.wav ] || fail "read $when fails: a new output was made"
  done < <(sed -n "$((n / 4 + 1))p;$((n * 3 / 4 + 1))p" runs)
  # The header's read fails: the reason, not a refusal of the file. Its
  # place among all reads, as above.
  strace -f -qq -y -o trace -e trace=read "${prog[@]}" -q big.wav clean.wav || fail "traced run"
  first=$(grep -n 'read([0-9]*<[^>]*big\.wav>' trace | head -n 1 | cut -d: -f1)
  strace -f -qq -o /dev/null -e trace=read -e inject=read:error=EIO:when=$first \
    "${prog[@]}" big.wav o.wav >out 2>err
  status=$?
  [ "$status" -eq 1 ] && [ "$(cat out)" = "Error: Input file can't open [0]" ] &&
    [ "$(cat err)" = "pulseregen: big.wav: Input/output error" ] ||
    fail "the header's read fails: status $status, $(cat out) $(cat err)"
  ;;
trailer)
  # A header written to a pipe claims the most it can; the file's end is
  # then found by the chunks that close it. A pulse train of 0 and 20,000
  # (" N N" and zeros: a chunk header of size 0) is samples to its end; a
  # LIST chunk after it is not, and the warning says how much was taken.
  wav train.wav 200020 '20000 if i >= 180000 and i % 4 < 2 else 0' 0xFFFFFFFF
  run - o.wav < <(cat train.wav) # a pipe
  [ "$status" -eq 0 ] && [ "$(head -n 1 out)" = "Input Length = 200020 samples" ] &&
    grep -qx "pulseregen: -: the data chunk declares 2147483647 frames but the file ends after 200020 (a header written before the length was known, as to a pipe); reading those" err ||
    fail "pulse train: $status $(head -n 1 out) $(cat err)"
  printf 'LIST\x0e\0\0\0INFOISFT\x01\0\0\0x\0' >>train.wav
  run - o.wav < <(cat train.wav) # a pipe
  [ "$status" -eq 0 ] && [ "$(head -n 1 out)" = "Input Length = 200020 samples" ] &&
    grep -q "reading those, the last 22 bytes taken for chunks after the data$" err ||
    fail "pulse train and LIST: $status $(head -n 1 out) $(cat err)"
  ;;
spool)
  # A stream is copied to seek in it, chunk header by chunk header: one that
  # is no chunk stops the copy at once (the reader says why), and an RF64
  # stream is copied as far as its ds64 chunk says. With a file size limit
  # of 1 MiB, the copy of 20 MB would fail.
  (printf 'RIFF\0\0\0\0WAVE' && head -c 20000000 /dev/zero) >zeros
  (ulimit -f 1024 && exec "${prog[@]}" - o.wav >out 2>err) < <(cat zeros); status=$?
  [ "$status" -eq 1 ] && [ "$(cat out)" = "Error: Input file can't open [0]" ] &&
    grep -qF "pulseregen: -: the first chunk is '\\x00\\x00\\x00\\x00', not 'fmt '" err ||
    fail "no chunk after WAVE: $status $(cat err)"
  wav pcm.wav 30000 '(i * 37) % 30000 - 15000'
  python3 - pcm.wav <<'PY' || fail "cannot write the RF64 and odd-chunk files"
import struct, sys
data = open(sys.argv[1], "rb").read()
fmt, samples = data[12:36], data[44:]
def riff(chunks, magic=b"RIFF"):
    return magic + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks
ds64 = lambda size: b"ds64" + struct.pack("<IQQQI", 28, size, len(samples), len(samples) // 2, 0)
body = fmt + b"data" + struct.pack("<I", 0xFFFFFFFF) + samples
rf64 = b"RF64\xff\xff\xff\xffWAVE" + ds64(4 + 36 + len(body)) + body
open("rf64.wav", "wb").write(rf64)
# A JUNK chunk of odd size with its pad byte, and one without.
open("padded.wav", "wb").write(riff(fmt + b"JUNK\x03\0\0\0abc\0" + data[36:]))
open("unpadded.wav", "wb").write(riff(fmt + b"JUNK\x03\0\0\0abc" + data[36:]))
PY
  "${prog[@]}" -q --any-wav rf64.wav want.wav || fail "RF64 file"
  (cat rf64.wav zeros) >rf64-long
  (ulimit -f 1024 && exec "${prog[@]}" -q --any-wav - o.wav 2>err) < <(cat rf64-long); status=$?
  [ "$status" -eq 0 ] && cmp -s want.wav o.wav || fail "RF64 stream with 20 MB after it: $status $(cat err)"
  # A chunk that runs past the size ds64 gives ends the copy there, though
  # the stream goes on with what looks like chunk headers.
  printf 'RF64\xff\xff\xff\xffWAVEds64\x1c\0\0\0\x64\0\0\0\0\0\0\0' >endless
  head -c 20 /dev/zero >>endless && printf 'JUNK\xff\xff\xff\xff' >>endless
  (ulimit -f 1024 && exec timeout 20 "${prog[@]}" --any-wav - o.wav >out 2>err) < <(cat endless && yes A | tr -d '\n')
  status=$?
  [ "$status" -eq 1 ] && [ "$(cat out)" = "Error: Input file can't open [0]" ] && ! grep -q "File too large" err ||
    fail "endless RF64 stream: $status $(cat err)"
  for f in padded unpadded; do
    "${prog[@]}" --any-wav $f.wav want.wav >want.out 2>want.err || fail "$f file"
    run --any-wav - o.wav < <(cat $f.wav)
    [ "$status" -eq 0 ] && cmp -s want.wav o.wav && cmp -s want.out out || fail "$f stream: $(cat err)"
  done
  ;;
once)
  # A pipe read once, as it comes (sample-value levels): under a file size
  # limit of 1 MiB, which a copy of the 2.6 MB stream would pass, it gives
  # what the file gives, where the stream ends early in a block too, and
  # where it ends in a LIST chunk; a read that fails in the middle fails the
  # run as a failed copy did, and no output is made.
  wav long.wav $((30 * 44100)) '20000 if i // 441 % 2 == 0 and 3 < i // 44100 < 9 else 0'
  head -c $((44 + 2 * 6 * 44100 + 1234)) long.wav >short.wav # in a block of pulses
  (cat short.wav && printf 'LIST\x0e\0\0\0INFOISFT\x01\0\0\0x\0') >listed.wav
  for f in long short listed; do
    for opts in "" "--keep-rate --active=1000" "-q --any-wav"; do
      "${prog[@]}" $opts $f.wav want.wav >want.out 2>want.err; want=$?
      (ulimit -f 1024 && exec "${prog[@]}" $opts - o.wav >out 2>err) < <(cat $f.wav); status=$?
      [ "$status" -eq "$want" ] && cmp -s want.wav o.wav && cmp -s want.out out &&
        [ "$(grep -c 'ends after' err)" = "$(grep -c 'ends after' want.err)" ] ||
        fail "$f $opts: status $status, want $want; $(cat err)"
    done
  done
  command -v strace >/dev/null || skip "no strace (apt-get install strace)"
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 # LeakSanitizer shuns ptrace
  # Fed by a pipeline: a process substitution would be strace's child, and
  # strace would wait for it while holding the pipe's end open.
  cat long.wav | strace -f -qq -y -o trace -e trace=read "${prog[@]}" -q - o.wav ||
    fail "traced run"
  reads=$(grep -c 'read([0-9]*<pipe:' trace)
  when=$(grep -n 'read(' trace | grep 'read([0-9]*<pipe:' | sed -n "$((reads / 2))p" | cut -d: -f1)
  [ "$reads" -ge 8 ] || fail "only $reads reads of the stream"
  rm -f o.wav
  cat long.wav | strace -f -qq -o /dev/null -e trace=read -e inject=read:error=EIO:when=$when \
    "${prog[@]}" - o.wav >out 2>err
  status=${PIPESTATUS[1]}
  [ "$status" -eq 1 ] && [ "$(cat out)" = "Error: Input file can't open [0]" ] &&
    [ "$(cat err)" = "pulseregen: -: Input/output error" ] && [ ! -e o.wav ] ||
    fail "read $when fails: status $status, $(cat out) $(cat err)"
  ;;
*) fail "unknown case" ;;
esac
echo "PASS [$case_name]"
