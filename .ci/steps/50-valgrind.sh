#!/usr/bin/env bash
# Memcheck on whole pulseregen runs: the example recording, and inputs and
# outputs that are refused or fail. Each run must leave no leak, no memory
# error and no file descriptor open beyond 0, 1 and 2.
set -euo pipefail
. .ci/lib.sh
need_packages valgrind

step "Build pulseregen for valgrind"
dir=build/valgrind
rm -rf "$dir"
CXXFLAGS="-Werror" cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPULSE_BUILD_TESTS=OFF
cmake --build "$dir" -j2 --target pulseregen
tool="$dir/pulseregen/pulseregen"

# Hostile inputs, written as bytes: a format chunk of 16-bit mono PCM,
# then whatever follows it.
head() { printf 'RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0'; }
head >"$dir/fact.wav"; printf 'fact\x04\0\0\0\0\0\0\0data\0\0\0\0' >>"$dir/fact.wav"
printf 'RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x44\xac\0\0\x01\0\x08\0data\x02\0\0\0\x80\x80' \
  >"$dir/eight-bit.wav"
printf 'not a wave file at all' >"$dir/text.wav"
head >"$dir/empty-data.wav"; printf 'data\0\0\0\0' >>"$dir/empty-data.wav"
# A header written to a pipe (its size a placeholder), a list chunk closing it.
head >"$dir/streamed.wav"; printf 'data\0\xf0\xff\x7f\1\0\2\0LIST\4\0\0\0INFO' >>"$dir/streamed.wav"
printf 'RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x03\0\x18\0data\x06\0\0\0\0\0\x80\xff\xff\x7f' \
  >"$dir/24-bit.wav"

failed=0
# check NAME EXPECTED-STATUS INPUT OUTPUT [OPTION...]
check() {
  local name=$1 expect=$2 in=$3 out=$4 log="$dir/valgrind-$1.log" status=0
  shift 4
  (
    # Descriptors this shell inherited would be reported as open at exit.
    for fd in $(ls /proc/$BASHPID/fd); do
      [ "$fd" -gt 2 ] && eval "exec $fd>&-"
    done
    # The report goes to standard error: a --log-file would itself show
    # up as an open descriptor of the program.
    exec valgrind --leak-check=full --errors-for-leak-kinds=all --error-exitcode=99 \
      --track-fds=yes "$tool" "$@" "$in" "$out" >/dev/null
  ) 2>"$log" || status=$?
  local open
  open=$(grep -Eo 'Open (file descriptor|AF_[A-Z0-9]+ socket) [0-9]+' "$log" |
    grep -Eo '[0-9]+$' | awk '$1 > 2' | tr '\n' ' ' || true)
  grep -E 'FILE DESCRIPTORS|ERROR SUMMARY|in use at exit' "$log" | sed "s/^==[0-9]*==/  $name:/"
  if [ "$status" -ne "$expect" ] || [ -n "$open" ] || ! grep -q 'FILE DESCRIPTORS' "$log"; then
    echo "valgrind $name: exit status $status (expected $expect), open descriptors: ${open:-none}" >&2
    cat "$log" >&2
    failed=1
  fi
}

step "Memcheck pulseregen: leaks, memory errors, open descriptors"
check example 0 examples/bursts.wav "$dir/out.wav"
check replace 0 examples/bursts.wav "$dir/out.wav"
ln -f "$dir/out.wav" "$dir/linked.wav" # a second link: copied over in place
check in-place 0 examples/bursts.wav "$dir/linked.wav"
rm -f "$dir/in.fifo" "$dir/out.fifo" && mkfifo "$dir/in.fifo" "$dir/out.fifo"
cat examples/bursts.wav >"$dir/in.fifo" &
check fifo-input 0 "$dir/in.fifo" "$dir/out-fifo.wav"
wait
check fifo-output 1 examples/bursts.wav "$dir/out.fifo"
check fact-chunk 1 "$dir/fact.wav" "$dir/out-fact.wav"
check eight-bit 1 "$dir/eight-bit.wav" "$dir/out-8.wav"
check not-wave 1 "$dir/text.wav" "$dir/out-text.wav"
check empty-data 1 "$dir/empty-data.wav" "$dir/out-empty.wav"
check streamed 0 "$dir/streamed.wav" "$dir/out-streamed.wav"
check any-wav-24-bit 0 "$dir/24-bit.wav" "$dir/out-24.wav" --any-wav
check any-wav-refused 1 "$dir/text.wav" "$dir/out-text.wav" --any-wav
check output-refused 1 examples/bursts.wav "$dir/no/such/dir/out.wav"
check output-full 1 examples/bursts.wav /dev/full
[ "$failed" -eq 0 ]
echo "valgrind: no leaks, no errors, no descriptors left open"
