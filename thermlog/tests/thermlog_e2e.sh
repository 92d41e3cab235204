#!/usr/bin/env bash
# End-to-end checks of the thermlog program, one case per run:
#   thermlog_e2e.sh CASE WORKDIR COMMAND...
# COMMAND runs thermlog; more than one word means an emulator runs a foreign
# binary. thermlog reads a fixed thermal file, so every run happens in a
# private mount namespace whose /sys/class/thermal is a tmpfs holding the
# sensor file the case needs. That needs root; where the mount is refused the
# case exits 77, which CTest reports as skipped.
set -u

if [ $# -lt 3 ]; then
    echo "usage: $0 CASE WORKDIR COMMAND..." >&2
    exit 2
fi
case_name=$1
work=$2
shift 2
prog=("$@")

THERMAL=/sys/class/thermal
ZONE=$THERMAL/thermal_zone0
TEMP=$ZONE/temp
LINE_RE='^[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} -?[0-9]+\.[0-9]$'

fail() {
    printf 'FAIL [%s]: %s\n' "$case_name" "$*"
    exit 1
}
skip() {
    printf 'SKIPPED [%s]: %s\n' "$case_name" "$*"
    exit 77
}

rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"

# Gives the namespace an empty thermal class directory; on a machine without
# one, a tmpfs over /sys/class makes room for it.
if [ -d "$THERMAL" ]; then
    private_thermal="mount -t tmpfs thermlog-test $THERMAL"
else
    private_thermal="mount -t tmpfs thermlog-test /sys/class && mkdir $THERMAL"
fi

[ "$(id -u)" -eq 0 ] || skip "mounting a private thermal zone needs root (uid $(id -u))"
probe_err=$(unshare -m sh -c "$private_thermal" 2>&1) ||
    skip "cannot mount a private thermal zone: $probe_err"

# Runs thermlog (behind the words in `wrapper`, if any) with the given
# arguments. SENSOR says what thermal_zone0/temp is: a file holding the text
# in $work/sensor ("file"), a directory ("dir") or nothing ("none"); "zones"
# copies the zones that make_zones put in $work/sensor.d instead.
# Leaves the output in $work/stdout and $work/stderr and the exit status in
# `status`.
wrapper=()
run_thermlog() {
    local sensor=$1
    shift
    local setup
    case $sensor in
    file) setup="mkdir $ZONE && cp \"\$1\" $TEMP" ;;
    dir) setup="mkdir -p $TEMP" ;;
    none) setup="mkdir $ZONE" ;;
    zones) setup="cp -R \"\$1.d/.\" $THERMAL/" ;;
    *) fail "unknown sensor kind $sensor" ;;
    esac
    unshare -m sh -c "{ $private_thermal && $setup; } || exit 125; shift; exec \"\$@\"" \
        sandbox "$work/sensor" "${wrapper[@]}" "${prog[@]}" "$@" \
        >"$work/stdout" 2>"$work/stderr"
    status=$?
    [ "$status" -ne 125 ] || fail "cannot set up the sensor ($sensor): $(cat "$work/stderr")"
}

sensor_text() { printf '%s' "$1" >"$work/sensor"; }

# Stand-in zones from triples NUMBER TYPE MILLIDEGREES, for the "zones" kind.
make_zones() {
    rm -rf "$work/sensor.d" && mkdir "$work/sensor.d" || fail "cannot make the zones"
    while [ $# -ge 3 ]; do
        mkdir "$work/sensor.d/thermal_zone$1" &&
            printf '%s\n' "$2" >"$work/sensor.d/thermal_zone$1/type" &&
            printf '%s\n' "$3" >"$work/sensor.d/thermal_zone$1/temp" || fail "cannot make zone $1"
        shift 3
    done
}

# Standard output is empty and standard error holds exactly one line.
expect_one_error_line() {
    [ ! -s "$work/stdout" ] || fail "$1: stdout [$(cat "$work/stdout")]"
    [ "$(wc -l <"$work/stderr")" -eq 1 ] && [ "$(wc -c <"$work/stderr")" -gt 1 ] ||
        fail "$1: stderr is not one line: [$(cat "$work/stderr")]"
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "$2: status $status, expected $1 (stdout: $(cat "$work/stdout"))"
}

# Standard output must be exactly the given text; standard error empty.
expect_output() {
    printf '%s' "$1" >"$work/expected"
    cmp -s "$work/expected" "$work/stdout" ||
        fail "$2: stdout [$(cat "$work/stdout")], expected [$1]"
    [ ! -s "$work/stderr" ] || fail "$2: stderr [$(cat "$work/stderr")]"
}

# Standard output must be exactly the given text, and standard error one
# line that names the thermal file and the reason and points to --list.
expect_output_and_reason() {
    printf '%s' "$1" >"$work/expected"
    cmp -s "$work/expected" "$work/stdout" ||
        fail "$3: stdout [$(cat "$work/stdout")], expected [$1]"
    local err
    err=$(cat "$work/stderr")
    [ "$(wc -l <"$work/stderr")" -eq 1 ] || fail "$3: stderr is not one line: [$err]"
    case $err in
    "thermlog: $2; 'thermlog --list' shows the zones and their readings") ;;
    *) fail "$3: stderr [$err], expected the reason [$2] and --list" ;;
    esac
}

# The file holds exactly one newline-terminated log line, whose temperature
# field is FIELD; the line (without newline) is left in `line`.
expect_one_line() {
    local log=$1 field=$2 what=$3
    [ -f "$log" ] || fail "$what: no log file $log"
    [ "$(wc -l <"$log")" -eq 1 ] || fail "$what: log is not one line: [$(cat "$log")]"
    [ "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" = '\n' ] || fail "$what: log line lacks newline"
    line=$(cat "$log")
    [[ $line =~ $LINE_RE ]] || fail "$what: malformed line [$line]"
    [ "${line##* }" = "$field" ] || fail "$what: temperature [${line##* }], expected [$field]"
}

# The stamp of `line`, read back in the current TZ, lies between the clock
# readings BEFORE and AFTER (seconds since the epoch).
expect_stamp_between() {
    local before=$1 after=$2 what=$3
    local d=${line%% *} rest=${line#* }
    local t=${rest%% *}
    local when
    when=$(date -d "20${d:0:2}-${d:3:2}-${d:6:2} $t" +%s) || fail "$what: unreadable stamp [$line]"
    [ "$before" -le "$when" ] && [ "$when" -le "$after" ] ||
        fail "$what: stamp [$line] is $when, outside [$before, $after] (TZ=${TZ-unset})"
}

# Makes runs at a fixed time possible, or skips the case.
use_faketime() {
    # faketime preloads a library into the process it starts. A foreign
    # binary runs inside qemu's user-mode emulator, which asks the host's C
    # library for the time on the program's behalf, so preloading qemu is
    # enough; qemu's -U keeps LD_PRELOAD from the program, whose own loader
    # would try to load the host's library and complain on standard error.
    if [ ${#prog[@]} -gt 1 ]; then
        case ${prog[0]##*/} in
        qemu-*) prog=("${prog[0]}" -U LD_PRELOAD "${prog[@]:1}") ;;
        *) skip "faketime cannot reach a program run by ${prog[0]}" ;;
        esac
    fi
    command -v faketime >/dev/null || skip "faketime is not installed (apt-get install faketime)"
    # In a sanitizer build faketime's library loads before the sanitizer's
    # runtime, which the runtime refuses unless told that is fine.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
}

thermal_message="Error: Thermal file can't open [$TEMP]"$'\n'

case $case_name in
readings)
    # Sensor text and the temperature field it must give; all exit 0.
    readings=(
        $'45312\n' 45.3
        $'-45312\n' -45.3
        $'-49\n' -0.0
        $'  +7000\n' 7.0
        '' 0.0
        $'junk\n' 0.0
        $'99999999999\n' 2147483.6
        "$(printf '%59s' '')12345678" 12.3
    )
    for ((i = 0; i < ${#readings[@]}; i += 2)); do
        text=${readings[i]} field=${readings[i + 1]}
        what="sensor text [$text]"
        sensor_text "$text"
        log=$work/reading$i.log
        before=$(date +%s)
        run_thermlog file "$log"
        after=$(date +%s)
        expect_status 0 "$what"
        expect_output '' "$what"
        expect_one_line "$log" "$field" "$what"
        expect_stamp_between "$before" "$after" "$what"
    done
    ;;
dead_sensor)
    # No thermal file, or one that opens but cannot be read.
    declare -A reason=([none]="No such file or directory" [dir]="Is a directory")
    for sensor in none dir; do
        log=$work/$sensor.log
        run_thermlog "$sensor" "$log"
        expect_status 1 "sensor $sensor"
        expect_output_and_reason "$thermal_message" "$TEMP: ${reason[$sensor]}" "sensor $sensor"
        expect_one_line "$log" 0.0 "sensor $sensor"
    done
    ;;
missing_dir)
    sensor_text $'45312\n'
    log=$work/absent/temp.log
    run_thermlog file "$log"
    expect_status 1 "log in a missing directory"
    expect_output "Erorr: File can't open [$log]"$'\n' "log in a missing directory"
    [ ! -e "$work/absent" ] || fail "the missing directory was created"
    ;;
append)
    sensor_text $'45312\n'
    log=$work/temp.log
    old=$'06/01/02 03:04:05 40.1\nkept as it is, byte for byte\n'
    printf '%s' "$old" >"$log"
    run_thermlog file "$log"
    expect_status 0 "existing log"
    expect_output '' "existing log"
    head -c ${#old} "$log" >"$work/head"
    printf '%s' "$old" | cmp -s - "$work/head" || fail "old content changed: [$(cat "$log")]"
    tail -c +$((${#old} + 1)) "$log" >"$work/added"
    expect_one_line "$work/added" 45.3 "existing log"
    ;;
usage)
    # Bad command lines: status 255, one usage line on standard error, and no
    # file appears; --help and --version touch no file either.
    sensor_text $'45312\n'
    mkdir "$work/cwd" && cd "$work/cwd" || fail "cannot enter $work/cwd"
    for args in '' 'a.log b.log' 'a.log b.log c.log' '--bogus a.log' '-x a.log' 'a.log -z' \
        '-z 1x a.log' '--zone=a/b a.log' '-z -1 a.log' '--zone= a.log' '--list a.log'; do
        # shellcheck disable=SC2086 # the words are the arguments
        run_thermlog file $args
        expect_status 255 "arguments [$args]"
        expect_one_error_line "arguments [$args]"
        [ -z "$(ls -A)" ] || fail "arguments [$args] created: $(ls -A)"
    done
    for args in '--help a.log' '-V a.log'; do
        # shellcheck disable=SC2086 # the words are the arguments
        run_thermlog file $args
        expect_status 0 "arguments [$args]"
        [ -s "$work/stdout" ] || fail "arguments [$args]: nothing on stdout"
        [ -z "$(ls -A)" ] || fail "arguments [$args] created: $(ls -A)"
    done
    ;;
zones)
    # Zone 10 sorts before zone 2 by name, and both have the same type.
    make_zones 0 acpitz 27800 1 cpu-thermal 45312 2 x86_pkg_temp 51000 10 x86_pkg_temp 60000
    # Arguments before LOGFILE, temperature field, status, standard output.
    choices=(
        '' 27.8 0 ''
        '-z 1' 45.3 0 ''
        '--zone=10' 60.0 0 ''
        '--zone x86_pkg_temp' 51.0 0 ''
        '-z cpu-thermal' 45.3 0 ''
        '-z nosuch' 0.0 1 $'Error: Thermal zone not found [nosuch]\n'
        '-z 7' 0.0 1 "Error: Thermal file can't open [$THERMAL/thermal_zone7/temp]"$'\n'
    )
    # The reason on standard error for the rows that fail.
    declare -A reason=(['-z nosuch']="$THERMAL: no thermal zone of type 'nosuch'"
        ['-z 7']="$THERMAL/thermal_zone7/temp: No such file or directory")
    for ((i = 0; i < ${#choices[@]}; i += 4)); do
        args=${choices[i]} what="zone arguments [${choices[i]}]"
        log=$work/zone$i.log
        # shellcheck disable=SC2086 # the words are the arguments
        run_thermlog zones $args "$log"
        expect_status "${choices[i + 2]}" "$what"
        if [ -n "${choices[i]}" ] && [ -n "${reason[${choices[i]}]:-}" ]; then
            expect_output_and_reason "${choices[i + 3]}" "${reason[${choices[i]}]}" "$what"
        else
            expect_output "${choices[i + 3]}" "$what"
        fi
        expect_one_line "$log" "${choices[i + 1]}" "$what"
    done
    ;;
list)
    make_zones 0 acpitz 27800 2 x86_pkg_temp -1500 10 cpu-thermal 45312
    run_thermlog zones --list
    expect_status 0 "--list"
    expect_output $'0 acpitz 27.8\n2 x86_pkg_temp -1.5\n10 cpu-thermal 45.3\n' "--list"
    make_zones
    run_thermlog zones -l
    expect_status 1 "--list without zones"
    expect_one_error_line "--list without zones"
    ;;
fifo)
    # A FIFO as LOGFILE, without a reader and with one, is refused at once.
    sensor_text $'45312\n'
    fifo=$work/fifo
    mkfifo "$fifo" || fail "cannot make a FIFO"
    wrapper=(timeout 10)
    for reader in no yes; do
        [ "$reader" = no ] || exec 3<>"$fifo"
        run_thermlog file "$fifo"
        expect_status 1 "FIFO, reader: $reader"
        [ "$(cat "$work/stdout")" = "Erorr: File can't open [$fifo]" ] ||
            fail "FIFO, reader $reader: stdout [$(cat "$work/stdout")]"
        grep -qF "$fifo" "$work/stderr" || fail "FIFO, reader $reader: stderr [$(cat "$work/stderr")]"
    done
    ;;
dev_full)
    [ -c /dev/full ] || skip "this machine has no /dev/full"
    sensor_text $'45312\n'
    run_thermlog file /dev/full
    expect_status 1 "log on a full device"
    expect_output "Error: File can't write [/dev/full]"$'\n' "log on a full device"
    "${prog[@]}" --help >/dev/full 2>"$work/stderr"
    status=$?
    expect_status 1 "help on a full device"
    ;;
time_zones)
    # The stamp is local time: in zones hours apart, it must read back as a
    # moment between the clock readings around the run.
    sensor_text $'45312\n'
    for zone in UTC0 AAA-5:30 BBB+9:45; do
        log=$work/$zone.log
        export TZ=$zone
        before=$(date +%s)
        run_thermlog file "$log"
        after=$(date +%s)
        expect_status 0 "TZ=$zone"
        expect_output '' "TZ=$zone"
        expect_one_line "$log" 45.3 "TZ=$zone"
        expect_stamp_between "$before" "$after" "TZ=$zone"
    done
    ;;
fixed_time)
    use_faketime
    sensor_text $'45312\n'
    export TZ=UTC0
    # Clock setting and the exact line it must give.
    moments=(
        '2005-03-04 05:06:07' '05/03/04 05:06:07 45.3'
        '2024-12-31 00:00:00' '24/12/31 00:00:00 45.3'
        '2099-11-09 23:59:59' '99/11/09 23:59:59 45.3'
    )
    for ((i = 0; i < ${#moments[@]}; i += 2)); do
        wrapper=(faketime -f "${moments[i]}")
        log=$work/fixed$i.log
        run_thermlog file "$log"
        expect_status 0 "at ${moments[i]}"
        expect_output '' "at ${moments[i]}"
        printf '%s\n' "${moments[i + 1]}" | cmp -s - "$log" ||
            fail "at ${moments[i]}: log [$(cat "$log")], expected [${moments[i + 1]}]"
    done
    ;;
iso)
    use_faketime
    sensor_text $'45312\n'
    # Zone, clock setting (local time there) and the exact line it must give;
    # Central Europe's rule puts summer and winter an hour apart.
    cet='CET-1CEST,M3.5.0,M10.5.0/3'
    moments=(
        UTC0 '2026-12-07 14:31:28' '2026-12-07T14:31:28+00:00 45.3'
        "$cet" '2026-07-01 12:00:00' '2026-07-01T12:00:00+02:00 45.3'
        "$cet" '2026-01-15 08:09:10' '2026-01-15T08:09:10+01:00 45.3'
        NST+3:30 '2005-03-04 05:06:07' '2005-03-04T05:06:07-03:30 45.3'
    )
    for ((i = 0; i < ${#moments[@]}; i += 3)); do
        export TZ=${moments[i]}
        wrapper=(faketime -f "${moments[i + 1]}")
        log=$work/iso$i.log
        run_thermlog file --iso "$log"
        expect_status 0 "--iso at ${moments[i + 1]} TZ=$TZ"
        expect_output '' "--iso at ${moments[i + 1]} TZ=$TZ"
        printf '%s\n' "${moments[i + 2]}" | cmp -s - "$log" ||
            fail "--iso at ${moments[i + 1]} TZ=$TZ: log [$(cat "$log")], expected [${moments[i + 2]}]"
    done
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS [$case_name]"
