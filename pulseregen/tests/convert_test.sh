#!/usr/bin/env bash
# Audio in other containers, and an MP3 inside a WAV file, each refused with
# its own reason and an ffmpeg command; the command is run as printed, and
# pulseregen must read what it writes. Skipped (77) without ffmpeg.
# Usage: convert_test.sh WORKDIR [EMULATOR...] PROGRAM
set -u
work=$1
shift
prog=("$@")
command -v ffmpeg >/dev/null 2>&1 || { echo "SKIPPED: ffmpeg is not installed (apt-get install ffmpeg)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failed=0
fail() { echo "FAIL [$1]: $2"; failed=1; }

# One second of a 440 Hz tone at 7/8 of full scale (the source is at 1/8),
# loud enough to make active blocks.
make() { ffmpeg -nostdin -loglevel error -f lavfi -i "sine=f=440:d=1" -af volume=7 "$@"; }
make -c:a libmp3lame id3.mp3
make -c:a libmp3lame -id3v2_version 0 -write_xing 0 frames.mp3
make -c:a libvorbis tone.ogg
make tone.flac
make tone.aiff
make -c:a libmp3lame -f wav mp3-inside.wav
# A name that needs quoting in the command.
cp id3.mp3 "take 1; it's.wav"

# check NAME REASON STDIN ARG...: the refusal of ARG... with STDIN (pipe:FILE
# for FILE through a pipe), and the printed command run with the same input.
check() {
    local name=$1 reason=$2 input=$3
    shift 3
    rm -f OUT.wav out.wav
    local status
    if [ "${input#pipe:}" != "$input" ]; then
        input=${input#pipe:}
        cat "$input" | "${prog[@]}" "$@" out.wav >stdout 2>stderr
        status=${PIPESTATUS[1]}
    else
        "${prog[@]}" "$@" out.wav >stdout 2>stderr <"$input"
        status=$?
    fi
    local err
    err=$(cat stderr)
    [ "$status" -eq 1 ] || fail "$name" "status $status, not 1"
    [ "$(wc -l <stderr)" -eq 1 ] || fail "$name" "not one line on stderr: $err"
    grep -qF -- "$reason" stderr || fail "$name" "no '$reason' in: $err"
    local command=${err#*convert it with: }
    [ "$command" != "$err" ] || { fail "$name" "no command in: $err"; return; }
    case $command in ffmpeg\ *) ;; *) fail "$name" "not an ffmpeg command: $command" ;; esac
    sh -c "$command -nostdin -loglevel error" <"$input" || fail "$name" "the command failed: $command"
    "${prog[@]}" OUT.wav out.wav >stdout 2>stderr
    status=$?
    [ "$status" -eq 0 ] || fail "$name" "the converted file: status $status: $(cat stderr)"
    grep -q '^Input Length = 4[0-9]\{4\} samples$' stdout ||
        fail "$name" "the converted file is not a second long: $(head -1 stdout)"
    grep -q ': Valid$' stdout || fail "$name" "no active block in the converted file"
    echo "ok [$name]: $err"
}

check "MP3 with ID3" "an MP3 file (it starts with an ID3 tag)" /dev/null id3.mp3
check "MP3 frames" "an MP3 file (MPEG audio frames)" /dev/null frames.mp3
check "Ogg" "an Ogg file" /dev/null tone.ogg
check "FLAC" "a FLAC file" /dev/null tone.flac
check "AIFF" "an AIFF file" /dev/null tone.aiff
check "MP3 inside a WAV file" "MP3 audio inside a WAV file (format tag 0x0055)" /dev/null mp3-inside.wav
check "MP3 inside a WAV file, --any-wav" "MP3 audio inside a WAV file" /dev/null --any-wav mp3-inside.wav
check "quoted name" "an MP3 file" /dev/null "take 1; it's.wav"
# From a pipe: the command reads standard input.
check "MP3 on a pipe" "an MP3 file (it starts with an ID3 tag)" pipe:id3.mp3 -
exit $failed
