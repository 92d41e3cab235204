#!/usr/bin/env bash
# Replacing OUTPUT as a user and an administrator would: what the old file
# was (owner, group, links, attributes, a mount) is kept, signals and limits
# leave no damage, and odd inputs and paths work. One case per run:
#   replace_test.sh CASE INPUT [EMULATOR...] PROGRAM
# Cases needing root, setpriv, a mount namespace, strace or the attr tools
# exit 77 (skipped) without them.
set -u -m # job control: a background run keeps SIGINT, as from a terminal
case_name=$1 input=$2
shift 2
fail() { echo "FAIL [$case_name]: $*"; exit 1; }
skip() { echo "SKIPPED [$case_name]: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root (to act as other users, mount, own files)"
w=$(mktemp -d "${TMPDIR:-/tmp}/replace-test.XXXXXX") || fail "no work directory"
trap '[ "$BASHPID" != $$ ] || rm -rf "$w"' EXIT # not in a child killed before its exec
chmod 755 "$w" && cd "$w" && cp "$input" in.wav && cp "${@: -1}" pulseregen || fail "setup"
prog=("${@:1:$#-1}" "$w/pulseregen") # a copy other users may run
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${prog[@]}" -q in.wav ref.wav || fail "reference run"

# expect WHAT STATUS FILE [OWNER:GROUP MODE]: the run's status, FILE holds
# the reference output, and keeps its owner, group and mode.
expect() {
  [ "$status" -eq "$2" ] || fail "$1: status $status, want $2; $(cat err 2>/dev/null)"
  cmp -s ref.wav "$3" || fail "$1: $3 is not the new output"
  [ -z "${4-}" ] || [ "$(stat -c '%u:%g %a' "$3")" = "$4 $5" ] ||
    fail "$1: $3 is $(stat -c '%u:%g %a' "$3"), want $4 $5"
}
# What runs left behind in DIR: the tests make no hidden files.
leftover() { ls -A "$1" | grep '^\.'; }
# interrupt SIGNAL COMMAND...: runs COMMAND with its report going to a FIFO
# nobody reads, and sends SIGNAL once the first line shows the output open
# (after running $during, if set).
# huge.wav holds 209,715 blocks of silence, as a sparse file: the run waits
# long on their verdicts.
printf 'RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0data\xf0\xff\xff\xff' >huge.wav
truncate -s $((44 + 0xFFFFFFF0)) huge.wav
interrupt() {
  local sig=$1 pid drain= line
  shift
  rm -f fifo && mkfifo fifo && exec 3<>fifo
  "$@" >fifo 2>err &
  pid=$!
  read -r -t 60 -u 3 line
  eval "${during-}"
  kill -"$sig" "$pid"
  if [ "$sig" != KILL ]; then # lets a run that survives go on
    cat <fifo 3<&- >/dev/null &
    drain=$!
  fi
  wait "$pid"
  status=$?
  exec 3<&-
  [ -z "$drain" ] || wait "$drain"
}

case $case_name in
users)
  command -v setpriv >/dev/null || skip "no setpriv"
  mkdir -m 755 ro mine && chown 65534:65534 mine && cp in.wav mine/in600.wav && chmod 600 mine/in600.wav
  for f in ro/out.wav mine/grouped.wav mine/roots.wav; do echo old >"$f"; done
  chown 65534 ro/out.wav && chown 65534:4242 mine/grouped.wav && chmod 664 mine/grouped.wav
  chmod 666 mine/roots.wav && mkdir -m 1777 sticky && echo old >sticky/out.wav && chmod 666 sticky/out.wav
  # A directory nobody may write holds a file they may: no private
  # directory beside it, yet an interrupted run leaves it whole.
  interrupt INT "${nobody[@]}" "${prog[@]}" huge.wav ro/out.wav
  [ "$status" -eq 130 ] && [ "$(cat ro/out.wav)" = old ] || fail "interrupted in place: $status $(head -c 9 ro/out.wav)"
  "${nobody[@]}" "${prog[@]}" -q in.wav ro/out.wav 2>err; status=$?
  expect "read-only directory" 0 ro/out.wav 65534:0 644
  setpriv --reuid=65534 --regid=65534 --groups=4242 "${prog[@]}" -q in.wav mine/grouped.wav 2>err; status=$?
  expect "second group" 0 mine/grouped.wav 65534:4242 664
  "${nobody[@]}" "${prog[@]}" -q in.wav mine/roots.wav 2>err; status=$?
  expect "another user's file" 0 mine/roots.wav 0:0 666
  "${nobody[@]}" "${prog[@]}" -q in.wav sticky/out.wav 2>err; status=$?
  expect "sticky directory" 0 sticky/out.wav 0:0 666
  "${nobody[@]}" "${prog[@]}" -q - mine/from-stdin.wav <mine/in600.wav 2>err; status=$?
  expect "standard input the shell opened" 0 mine/from-stdin.wav
  [ -z "$(leftover ro)$(leftover sticky)" ] || fail "left: $(ls -A ro sticky)"
  # A umask without the owner's write bit makes files read-only, as cp
  # does, yet refuses no new output.
  "${nobody[@]}" bash -c 'umask 0222 && exec "$@" -q in.wav mine/masked.wav' sh "${prog[@]}" 2>err; status=$?
  expect "umask 0222" 0 mine/masked.wav 65534:65534 444
  [ -z "$(leftover mine)" ] || fail "left: $(ls -A mine)"
  ;;
concurrent)
  # Runs copying over the same file through two hard links take turns: the
  # file ends up one output whole, never pieces of both. A run waits while
  # another holds the lock.
  command -v flock >/dev/null || skip "no flock (apt-get install util-linux)"
  "${prog[@]}" -q --amplitude=20000 in.wav other.wav || fail "second reference run"
  echo old >out.wav && ln out.wav link.wav
  flock out.wav sleep 2 &
  locker=$!
  for _ in $(seq 50); do flock -n out.wav true || break; sleep 0.05; done
  "${prog[@]}" -q in.wav out.wav 2>err &
  runner=$!
  sleep 1
  [ "$(head -c 3 link.wav)" = old ] || fail "the copy did not wait for the lock"
  wait "$runner"; status=$?
  wait "$locker"
  expect "after the lock" 0 link.wav
  for try in $(seq 8); do
    "${prog[@]}" -q in.wav out.wav & a=$!
    "${prog[@]}" -q --amplitude=20000 in.wav link.wav & b=$!
    wait "$a" && wait "$b" || fail "try $try: a run failed"
    cmp -s link.wav ref.wav || cmp -s link.wav other.wav || fail "try $try: pieces of both outputs"
  done
  ;;
identity)
  echo old >theirs.wav && chown 65534:65534 theirs.wav && chmod 640 theirs.wav
  echo old >linked.wav && ln linked.wav second.wav
  "${prog[@]}" -q in.wav theirs.wav; status=$?
  expect "root replacing a user's file" 0 theirs.wav 65534:65534 640
  "${prog[@]}" -q in.wav linked.wav; status=$?
  expect "second hard link" 0 second.wav
  command -v setfacl >/dev/null && command -v getfattr >/dev/null || skip "no setfacl or getfattr (apt-get install acl attr)"
  setfattr -n user.note -v kept theirs.wav && setfacl -m u:4242:rw theirs.wav || skip "no xattrs here"
  "${prog[@]}" -q in.wav theirs.wav; status=$?
  expect "attributes" 0 theirs.wav 65534:65534 660
  [ "$(getfattr --only-values -n user.note theirs.wav)" = kept ] || fail "user.note lost"
  getfacl -cn theirs.wav | grep -qx 'user:4242:rw-' || fail "ACL lost: $(getfacl -cn theirs.wav)"
  ;;
signals)
  long=$(printf 'x%.0s' {1..246}).wav # 250 bytes
  echo old >"$long" && echo old >out.wav
  interrupt INT "${prog[@]}" huge.wav "$long"
  [ "$status" -eq 130 ] && [ "$(cat "$long")" = old ] || fail "250-byte name interrupted: $status"
  # Another run into the same directory meanwhile must not take the first
  # one's private directory for a leftover. (qemu-user catches every signal
  # itself, so there an ignored SIGHUP can still cut a write short.)
  if [ ${#prog[@]} -eq 1 ]; then
    during='"${prog[@]}" -q in.wav other.wav 2>other.err || fail "a run beside: $(cat other.err)"'
    interrupt HUP nohup "${prog[@]}" huge.wav out.wav
    [ "$status" -eq 0 ] && [ "$(head -c 4 out.wav)" = RIFF ] || fail "nohup: status $status $(cat err)"
    during=
  fi
  interrupt KILL "${prog[@]}" huge.wav "$long"
  [ -n "$(leftover .)" ] ||
    fail "SIGKILL left nothing to clean up"
  "${prog[@]}" -q in.wav "$long"; status=$?
  expect "after a killed run" 0 "$long"
  [ -z "$(leftover .)" ] ||
    fail "a killed run's directory stays: $(ls -A)"
  # Only what a run of this user leaves is removed: not a directory of
  # another mode or owner that happens to have the name, nor a link; in a
  # set-group-ID directory a leftover has that bit.
  # A link with such a name leads to a directory that looks like a leftover
  # (this user's, 0700, an output in it), which is not removed either.
  mkdir -m 2755 mixed && cd mixed && mkdir .pulseregen-keepme .pulseregen-theirs .pulseregen-linked .pulseregen-killed
  chmod 700 .pulseregen-theirs .pulseregen-linked .pulseregen-killed && chown 65534 .pulseregen-theirs
  for d in keepme theirs killed; do touch .pulseregen-$d/partial.wav; done
  ln -s ../../in.wav .pulseregen-linked/partial.wav && cd ..
  mkdir -m 700 elsewhere && touch elsewhere/partial.wav && ln -s ../elsewhere mixed/.pulseregen-symlnk
  "${prog[@]}" -q in.wav mixed/out.wav; status=$?
  expect "beside directories like its own" 0 mixed/out.wav
  [ "$(cd mixed && echo .pulseregen-*)" = ".pulseregen-keepme .pulseregen-linked .pulseregen-symlnk .pulseregen-theirs" ] &&
    [ "$(cd mixed && echo .pulseregen-{keepme,linked,theirs}/* | wc -w)" -eq 3 ] && [ -e elsewhere/partial.wav ] ||
    fail "removed or kept the wrong ones: $(ls -AR mixed elsewhere)"
  # A signal during the copy over OUTPUT (a hard link makes the run copy) is
  # held until the copy is done: OUTPUT is the new output whole, not its
  # start on the old file's rest. The copy's second read waits 2 s (strace;
  # a signal is taken when that call returns).
  command -v strace >/dev/null || skip "no strace for a signal during the copy (apt-get install strace)"
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 # LeakSanitizer shuns ptrace
  head -c 400000 /dev/zero | tr '\0' x >copied.wav && ln copied.wav copied-link.wav
  strace -f -qq -o trace-copy -e trace=pread64 "${prog[@]}" -q in.wav copied.wav || fail "copy run"
  # The copy's second read: the one after the read of the output's start
  # (the dynamic loader reads with pread64 too, and so does the look at the
  # input's first bytes, before it).
  second=$(($(grep -n 'pread64(.*"RIFF' trace-copy | tail -n 1 | cut -d: -f1) + 1))
  head -c 400000 /dev/zero | tr '\0' x >copied.wav
  strace -f -qq -o /dev/null -e trace=pread64 -e inject=pread64:delay_exit=2000000:when=$second \
    "${prog[@]}" -q in.wav copied.wav &
  tracer=$!
  for _ in $(seq 200); do [ "$(head -c 4 copied.wav)" = RIFF ] && break; sleep 0.05; done
  kill -TERM "$(pgrep -P "$tracer")" || fail "no run to signal"
  wait "$tracer"; status=$?
  [ "$status" -eq 143 ] && cmp -s ref.wav copied.wav || fail "SIGTERM during the copy: status $status, $(cmp ref.wav copied.wav)"
  ;;
limits)
  echo old >out.wav
  for f in out.wav new.wav; do
    (ulimit -f 100 && exec "${prog[@]}" in.wav "$f" >report 2>err); status=$?
    [ "$status" -eq 1 ] && [ "$(tail -n 1 report)" = "Error: Output file can't write" ] &&
      grep -qx "pulseregen: $f: File too large" err || fail "ulimit -f, $f: $status $(cat err)"
  done
  [ "$(cat out.wav)" = old ] && [ ! -e new.wav ] || fail "ulimit -f changed the outputs"
  mkdir tmp && (ulimit -f 10000 && TMPDIR=$w/tmp exec timeout 20 "${prog[@]}" /dev/zero z.wav >report 2>err)
  status=$?
  [ "$status" -eq 1 ] && [ "$(cat report)" = "Error: Input file can't open [0]" ] &&
    [ "$(cat err)" = "pulseregen: /dev/zero: not a RIFF/WAVE file" ] || fail "/dev/zero: $status $(cat err)"
  cat in.wav | "${prog[@]}" - piped.wav >&-; status=$?
  expect "closed standard output, piped input" 1 piped.wav
  (head -c 100 /dev/urandom && cat in.wav) >offset.wav
  { dd bs=100 count=1 of=/dev/null 2>/dev/null && "${prog[@]}" -q - from-offset.wav; } <offset.wav; status=$?
  expect "standard input from its offset" 0 from-offset.wav
  # 4080 bytes: room for a name beside it, none for a longer one inside that.
  deep=$(printf "%0254d/" $(seq 15))$(printf "%0244d/" 0) && mkdir -p "$deep" || fail "mkdir"
  deep=${deep}yyyyyy.wav
  cp ref.wav "$deep" && echo old >"$deep" || fail "cp cannot write a path of ${#deep} bytes"
  "${prog[@]}" -q in.wav "$deep" 2>err; status=$?
  expect "a path of ${#deep} bytes" 0 "$deep"
  ;;
mount)
  why=$(unshare -m true 2>&1) || skip "no private mount namespace here, as root too: ${why:-unshare -m failed}"
  cat in.wav in.wav >source.wav && touch mounted.wav # longer than the new output
  unshare -m sh -c 'mount --bind source.wav mounted.wav && exec "$@" -q in.wav mounted.wav' sh \
    "${prog[@]}" 2>err
  status=$?
  expect "bind-mounted output" 0 source.wav
  # Shorter than the new output, on a file system without fallocate: the
  # part beyond its end goes first, then the rest.
  command -v strace >/dev/null || skip "no strace (apt-get install strace)"
  echo old >source.wav
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 unshare -m sh -c \
    'mount --bind source.wav mounted.wav && exec strace -f -qq -o /dev/null -e trace=fallocate \
       -e inject=fallocate:error=EOPNOTSUPP "$@" -q in.wav mounted.wav' sh "${prog[@]}" 2>err
  status=$?
  expect "bind-mounted, no fallocate" 0 source.wav
  ;;
strace)
  command -v strace >/dev/null || skip "no strace (apt-get install strace)"
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 # LeakSanitizer shuns ptrace
  for f in new.wav old.wav; do
    strace -f -qq -o "trace-$f" -e trace=fdatasync,fsync,rename,renameat,renameat2 \
      "${prog[@]}" -q in.wav "$f" || fail "strace run"
    grep -Eo '^[0-9]+ +[a-z0-9]+' "trace-$f" | awk '{ sub(/^rename.*/, "rename", $2); print $2 }' |
      tr '\n' ' ' >"calls-$f"
    cp ref.wav old.wav
  done
  [ "$(cat calls-new.wav)" = "rename " ] || fail "new output: $(cat trace-new.wav)"
  [ "$(cat calls-old.wav)" = "fdatasync rename fsync " ] || fail "replaced output: $(cat trace-old.wav)"
  # A directory its user may write but not list is flushed all the same.
  command -v setpriv >/dev/null || skip "no setpriv"
  mkdir -m 733 wonly && echo old >wonly/out.wav && chown 65534:65534 wonly/out.wav
  strace -f -qq -o trace-wonly -e trace=fsync,syncfs "${nobody[@]}" "${prog[@]}" -q in.wav wonly/out.wav ||
    fail "write-only directory: $(cat trace-wonly)"
  grep -Eq '(fsync|syncfs)\(.*= 0$' trace-wonly || fail "write-only directory not flushed: $(cat trace-wonly)"
  # Without O_TMPFILE (a file system that lacks it) the copy of a piped
  # input (made where a percentage needs the whole recording first) is a
  # named file, unlinked at once: the run works and leaves nothing in $TMPDIR.
  mkdir tmp
  "${prog[@]}" -q --active=30% in.wav piped-want.wav || fail "percentage run"
  TMPDIR=$w/tmp strace -f -qq -o trace-open -e trace=openat "${prog[@]}" -q --active=30% - piped.wav < <(cat in.wav) ||
    fail "run with O_TMPFILE"
  at=$(grep -E '^[0-9]+ +openat\(' trace-open | grep -n O_TMPFILE | cut -d: -f1)
  [ "$(wc -w <<<"$at")" -eq 1 ] || fail "O_TMPFILE opens: $(cat trace-open)"
  rm piped.wav
  # (64-bit ARM has no unlink call: its C library unlinks with unlinkat.)
  TMPDIR=$w/tmp strace -f -qq -o trace-named -e trace=openat,unlink,unlinkat \
    -e inject=openat:error=EOPNOTSUPP:when=$at \
    "${prog[@]}" -q --active=30% - piped.wav < <(cat in.wav) 2>err
  status=$?
  [ "$status" -eq 0 ] && cmp -s piped-want.wav piped.wav || fail "no O_TMPFILE: $status $(cat err)"
  grep -q 'O_TMPFILE.*EOPNOTSUPP' trace-named &&
    grep -Eq 'unlink(at)?\((AT_FDCWD, )?".*/tmp/pulseregen-' trace-named ||
    fail "no named file made: $(cat trace-named)"
  [ -z "$(ls -A tmp)" ] || fail "left in \$TMPDIR: $(ls -A tmp)"
  # Without getrandom a name already taken is followed by another one.
  strace -f -qq -o trace-names -e trace=mkdirat,getrandom -e inject=getrandom:error=ENOSYS \
    -e inject=mkdirat:error=EEXIST:when=1 "${prog[@]}" -q in.wav named.wav || fail "run without getrandom"
  [ "$(grep -o '"\.pulseregen-[^"]*"' trace-names | sort -u | wc -l)" -eq 2 ] || fail "names: $(cat trace-names)"
  ;;
links)
  # Links are followed only where the kernel follows them: never another
  # user's link in a sticky directory anyone may write (fs.protected_symlinks,
  # set here for the case and put back after), as cp refuses it too.
  command -v setpriv >/dev/null || skip "no setpriv"
  protected=$(sysctl -n fs.protected_symlinks 2>/dev/null) || skip "no fs.protected_symlinks"
  sysctl -qw fs.protected_symlinks=1 2>/dev/null || skip "cannot set fs.protected_symlinks"
  trap '[ "$BASHPID" != $$ ] || { sysctl -qw fs.protected_symlinks="$protected"; rm -rf "$w"; }' EXIT
  mkdir -m 1777 st && mkdir -m 755 victim && echo secret >victim/secret.txt && chmod 600 victim/secret.txt
  "${nobody[@]}" ln -s "$w/victim/secret.txt" st/theirs.wav
  "${nobody[@]}" ln -s "$w/victim/made.txt" st/dangling.wav
  for f in theirs dangling; do
    "${prog[@]}" -q in.wav st/$f.wav >report 2>err; status=$?
    [ "$status" -eq 1 ] && [ "$(cat report)" = "Error: Output file can't open" ] &&
      [ "$(cat err)" = "pulseregen: st/$f.wav: Permission denied" ] || fail "$f link: $status $(cat err)"
  done
  [ "$(cat victim/secret.txt)" = secret ] && [ "$(stat -c %u:%g victim/secret.txt)" = 0:0 ] &&
    [ ! -e victim/made.txt ] && [ -z "$(leftover victim)" ] || fail "followed: $(ls -A victim)"
  # The links the kernel does follow: root's own there, a user's own to a
  # file of theirs, and a relative chain through another directory to a
  # file that does not exist yet.
  echo old >victim/mine.txt && ln -s "$w/victim/mine.txt" st/mine.wav
  "${prog[@]}" -q in.wav st/mine.wav 2>err; status=$?
  expect "root's own link" 0 victim/mine.txt
  mkdir -m 700 st/nobody && echo old >st/nobody/out.wav && chown -R 65534:65534 st/nobody
  "${nobody[@]}" ln -s nobody/out.wav st/own.wav
  "${nobody[@]}" "${prog[@]}" -q in.wav st/own.wav 2>err; status=$?
  expect "a user's own link" 0 st/nobody/out.wav 65534:65534 644
  mkdir -p a/b && ln -s b/next a/first.wav && ln -s ../made.wav a/b/next
  "${prog[@]}" -q in.wav a/first.wav 2>err; status=$?
  expect "a chain to a new file" 0 a/made.wav
  [ -L a/first.wav ] && [ -L a/b/next ] || fail "a link was replaced"
  ;;
*) fail "unknown case" ;;
esac
echo "PASS [$case_name]"
