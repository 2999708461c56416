#!/usr/bin/env bash
# End-to-end benchmark of the loxnar program.
#
#   bench/run_e2e.sh [-n CASES] [-r RUNS] [-b BUILD_DIR] [--host] [--profile]
#
# Builds loxnar, the case generator (bench/e2e_gen.cpp), the lower-bound
# peer (bench/peers/e2e_peer.cpp) and, when gfortran is installed, the
# reference written in Fortran (bench/peers/e2e_ref.f90, the same listing
# through gfortran's run-time), writes an entry data file of CASES
# generated cases (default 10000, about 100 planes each) in a temporary
# folder, and checks that loxnar, the peer and the reference write the same
# results file and console output byte for byte (the date and time stamps
# masked) and loxnar the expected number of records.  Then, RUNS times
# (default 5), it runs loxnar and the peer in turn with the console going
# to a regular file, to a pipe read by cat (whose CPU time counts too) and
# to /dev/null, and the reference once a run with the console to a file;
# it reports the CPU seconds (user + system) of each, medians over the
# runs, with the ratios loxnar/peer and reference/loxnar, and the sizes,
# cases per second and time per written record of loxnar's best run.
#
# It also measures one case of bounds 300 300 300 (54 M planes visited) and
# one case of examples/quartz.dat, whole processes: loxnar's and the peer's
# CPU time, loxnar's peak resident memory, and the start-up (the same run
# with bounds 1 1 1), so that the walk's own time shows apart from it.
#
# --host runs the same cases through the windowed host as well (Qt's
# offscreen platform; bench/host_run.cpp types the entry name and answers
# the exit prompt), alternating with the console runs, checks that its
# results file matches the console run's (stamps aside), and reports its
# best wall time against the console's.
#
# --profile adds:
#   - write(2) calls counted with strace;
#   - a time profile with perf (cpu-clock, kernel included), split into
#     write(2), the run-time's statements, the calculator's arithmetic and
#     the calculator's statement calls;
#   - on 1000 cases, an instruction profile with valgrind's callgrind,
#     split the same way, with the peer's instruction count beside it, and
#     valgrind's heap summary for 100 and 1000 cases: the number of
#     allocations must not grow with the records.
set -euo pipefail

CASES=10000
RUNS=5
BUILD=build
PROFILE=0
HOST=0
while [ $# -gt 0 ]; do
    case "$1" in
    -n) CASES="$2"; shift 2 ;;
    -r) RUNS="$2"; shift 2 ;;
    -b) BUILD="$2"; shift 2 ;;
    --profile) PROFILE=1; shift ;;
    --host) HOST=1; shift ;;
    -h | --help) sed -n '2,45p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_e2e.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
TARGETS="loxnar e2e_gen e2e_peer"
[ "$HOST" = 1 ] && TARGETS="$TARGETS host_run"
cmake --build "$BUILD" -j "$(nproc)" --target $TARGETS >/dev/null
LOXNAR="$ROOT/$BUILD/loxnar"
GEN="$ROOT/$BUILD/bench/e2e_gen"
PEER="$ROOT/$BUILD/bench/e2e_peer"
REF="$ROOT/$BUILD/bench/e2e_ref"
HOST_RUN="$ROOT/$BUILD/bench/host_run"
# The reference is built only where CMake found gfortran.
if ! cmake --build "$BUILD" -j "$(nproc)" --target e2e_ref >/dev/null 2>&1; then REF=""; fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/loxnar-e2e.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
mkdir peer ref

# The expected record counts come from the generator's summary.
gen() {  # NAME CASES
    "$GEN" "$1.dat" "$2" >"$1.summary"
    printf '%s\n' "$1" >"$1.answer"
}
expected() {  # NAME file|console
    sed -n "s/^expected records: results file \([0-9]*\), console \([0-9]*\)$/\1 \2/p" "$1.summary" |
        { read -r file console; [ "$2" = file ] && echo "$file" || echo "$console"; }
}
# Runs one program on NAME.dat in FOLDER (. for loxnar, peer, ref), in a
# fresh state, with the console going to KIND: file (NAME.console), pipe
# (read by cat) or null (/dev/null); under `time` when timed.
run_in() {  # FOLDER NAME KIND PROGRAM...
    local folder=$1 name=$2 kind=$3
    shift 3
    (
        cd "$folder"
        [ -e "$name.dat" ] || ln -s "$WORK/$name.dat" "$name.dat"
        rm -f "$name.imp.dat"
        case "$kind" in
        file) "$@" <"$WORK/$name.answer" >"$name.console" 2>"$name.stderr" ;;
        pipe) "$@" <"$WORK/$name.answer" 2>"$name.stderr" | cat >/dev/null ;;
        null) "$@" <"$WORK/$name.answer" >/dev/null 2>"$name.stderr" ;;
        esac
    )
}
run_once() {  # NAME [wrapper...]: loxnar on NAME.dat, console to a file
    local name=$1
    shift
    run_in . "$name" file "$@" "$LOXNAR" --console
}
run_peer() {  # NAME [wrapper...]: the peer on NAME.dat in peer/
    local name=$1
    shift
    run_in peer "$name" file "$@" "$PEER"
}
# CPU seconds (user + system of the whole pipeline) of one run.
TIMEFORMAT='%3R %3U %3S'
cpu_of() {  # FOLDER NAME KIND PROGRAM...: appends "wall cpu" to $CPU_OUT
    local status
    set +e
    { time run_in "$@"; } 2>"$WORK/one.time"
    status=$?
    set -e
    if [ "$status" -ne 0 ]; then
        echo "$4 ended with status $status:" >&2
        cat "$WORK/$1/$2.stderr" "$WORK/one.time" >&2 2>/dev/null || true
        exit 1
    fi
    awk '{ print $1, $2 + $3 }' "$WORK/one.time" >>"$CPU_OUT"
}
# The stamps differ from run to run: their digits are masked.
mask() { sed -E 's#( DATE : )[0-9]{4}/[0-9]{2}/[0-9]{2}#\1YYYY/MM/DD#; s#(TIME *:  )[0-9]{2}h[0-9]{2}mn[0-9]{2}s#\1HHhMMmnSSs#' "$1"; }
same_bytes() {  # A B: the same bytes, stamps masked
    cmp -s <(mask "$1") <(mask "$2")
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu_median() { awk '{ print $2 }' "$1" | median; }

echo "machine: $(nproc) CPU(s), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
    "$(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME"), $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "build:   $BUILD ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$ROOT/$BUILD/CMakeCache.txt"))"

gen bench "$CASES"
sed 's/^/input:   /' bench.summary

# The same bytes from all three.
run_in . bench file "$LOXNAR" --console
file_records=$(wc -l <bench.imp.dat)
console_records=$(wc -l <bench.console)
if [ "$file_records" -ne "$(expected bench file)" ] || [ -s bench.stderr ]; then
    echo "loxnar's results file holds $file_records records, expected $(expected bench file)" >&2
    cat bench.stderr >&2
    exit 1
fi
for other in peer ${REF:+ref}; do
    program=$PEER
    [ "$other" = ref ] && program=$REF
    run_in "$other" bench file "$program"
    if ! same_bytes bench.imp.dat "$other/bench.imp.dat" || ! same_bytes bench.console "$other/bench.console" ||
        [ -s "$other/bench.stderr" ]; then
        echo "the $other's results file, console output or standard error differ from loxnar's" >&2
        exit 1
    fi
done
echo "check:   loxnar, the peer${REF:+ and the gfortran reference} write the same results file and console (stamps masked)"
[ -n "$REF" ] || echo "         (gfortran not installed: no reference)"

# The stamps of a listing masked, to compare two runs' results files.
masked() { sed -E 's#[0-9]{4}/[0-9]{2}/[0-9]{2}#YYYY/MM/DD#; s#[0-9]{2}h[0-9]{2}mn[0-9]{2}s#HHhMMmnSSs#' "$1"; }
host_once() {  # NAME: the same run through the windowed host (offscreen)
    rm -f "$1.imp.dat"
    QT_QPA_PLATFORM=offscreen "$HOST_RUN" "$1" >"$1.host.out" 2>"$1.host.stderr"
}

KINDS="file pipe null"
for kind in $KINDS; do : >"cpu.loxnar.$kind"; : >"cpu.peer.$kind"; done
: >cpu.ref
best_host=""
best_wall=""
for run in $(seq 1 "$RUNS"); do
    line="run $run:"
    for kind in $KINDS; do
        CPU_OUT="cpu.loxnar.$kind" cpu_of . bench "$kind" "$LOXNAR" --console
        CPU_OUT="cpu.peer.$kind" cpu_of peer bench "$kind" "$PEER"
        read -r lw lc < <(tail -1 "cpu.loxnar.$kind")
        read -r pw pc < <(tail -1 "cpu.peer.$kind")
        line="$line  $kind: loxnar $lc s, peer $pc s;"
        [ "$kind" = file ] && file_wall=$lw
        if [ "$kind" = file ] && { [ -z "$best_wall" ] || awk -v a="$lw" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; }; then
            best_wall=$lw best_cpu=$lc
        fi
    done
    if [ -n "$REF" ]; then
        CPU_OUT=cpu.ref cpu_of ref bench file "$REF"
        line="$line  reference (file) $(tail -1 cpu.ref | cut -d' ' -f2) s"
    fi
    echo "$line"
    if [ "$HOST" = 1 ]; then
        masked bench.imp.dat >bench.console.masked
        set +e
        { time host_once bench; } 2>bench.host.time
        status=$?
        set -e
        if [ "$status" -ne 0 ]; then
            echo "host_run ended with status $status:" >&2
            cat bench.host.stderr bench.host.time >&2
            exit 1
        fi
        read -r hwall huser hsys <bench.host.time
        if ! masked bench.imp.dat | cmp -s - bench.console.masked; then
            echo "the windowed host's results file differs from the console run's" >&2
            exit 1
        fi
        awk -v run="$run" -v n="$CASES" -v w="$hwall" -v u="$huser" -v s="$hsys" -v c="$file_wall" \
            'BEGIN { printf "host %d:  wall %.3f s (user %.3f, sys %.3f): %.0f cases/s wall, %.2fx the console run before it\n",
                     run, w, u, s, n / w, w / c }'
        if [ -z "$best_host" ] || awk -v a="$hwall" -v b="$best_host" 'BEGIN { exit !(a < b) }'; then
            best_host=$hwall best_huser=$huser best_hsys=$hsys
        fi
    fi
done
file_bytes=$(stat -c %s bench.imp.dat)
console_bytes=$(stat -c %s bench.console)
awk -v n="$CASES" -v w="$best_wall" -v c="$best_cpu" \
    -v fr="$file_records" -v fb="$file_bytes" -v cr="$console_records" -v cb="$console_bytes" 'BEGIN {
    r = fr + cr
    printf "results file: %d bytes, %d records; console: %d bytes, %d records\n", fb, fr, cb, cr
    printf "best run (console to a file): %.0f cases/s wall, %.0f cases/s CPU (%.3f s CPU of %.3f s wall)\n",
           n / w, n / c, c, w
    printf "per written record (file and console, %d): %.2f us wall, %.2f us CPU; %.1f MB/s written\n",
           r, w * 1e6 / r, c * 1e6 / r, (fb + cb) / w / 1e6
}'
echo "CPU seconds, median of $RUNS runs (the pipe's reader included):"
for kind in $KINDS; do
    awk -v k="$kind" -v l="$(cpu_median "cpu.loxnar.$kind")" -v p="$(cpu_median "cpu.peer.$kind")" 'BEGIN {
        printf "  console to %-5s loxnar %.3f, peer (bench/peers/e2e_peer.cpp) %.3f: ratio %.2f\n", k ":", l, p, l / p
    }'
done
if [ -n "$REF" ]; then
    awk -v l="$(cpu_median cpu.loxnar.file)" -v r="$(cpu_median cpu.ref)" 'BEGIN {
        printf "  reference built with gfortran (bench/peers/e2e_ref.f90), console to a file: %.3f, %.1fx loxnar\n", r, r / l
    }'
fi

if [ "$HOST" = 1 ]; then
    awk -v n="$CASES" -v w="$best_host" -v u="$best_huser" -v s="$best_hsys" -v c="$best_wall" 'BEGIN {
        printf "windowed host (offscreen), best run: %.0f cases/s wall (user %.3f s, sys %.3f s of %.3f s wall): %.2fx the best console run (to a file)\n",
               n / w, u, s, w, w / c
    }'
fi

# One case, whole processes: bounds 300 (54 M planes visited, a window
# that keeps 130 planes), the same case with bounds 1 (start-up and
# listing), and examples/quartz.dat.
one_case() {  # NAME BOUNDS
    printf '%s\n' "bounds $2, all planes, quartz cell" "4.9134 4.9134 5.4052 90.0 90.0 120.0" \
        "0 0 0 0 0 0 0  1.50 5.00  $2 $2 $2  1.5406" 0 >"$1.dat"
    printf '%s\n' "$1" >"$1.answer"
}
one_case b300 300
one_case b1 1
cp "$ROOT/examples/quartz.dat" quartz.dat
printf 'quartz\n' >quartz.answer
for name in b300 quartz; do
    run_in . "$name" file "$LOXNAR" --console
    run_in peer "$name" file "$PEER"
    if ! same_bytes "$name.imp.dat" "peer/$name.imp.dat" || ! same_bytes "$name.console" "peer/$name.console"; then
        echo "the peer's listing of $name differs from loxnar's" >&2
        exit 1
    fi
done
PROCESS_RUNS=$((RUNS < 5 ? 5 : RUNS * 2))
for name in b300 b1 quartz; do
    : >"cpu.loxnar.$name"
    : >"cpu.peer.$name"
    for run in $(seq 1 "$PROCESS_RUNS"); do
        CPU_OUT="cpu.loxnar.$name" cpu_of . "$name" file "$LOXNAR" --console
        CPU_OUT="cpu.peer.$name" cpu_of peer "$name" file "$PEER"
    done
done
peak_kib() {  # FOLDER NAME PROGRAM...: peak resident memory of one run, KiB
    [ -x /usr/bin/time ] || { echo "?"; return; }
    local folder=$1 name=$2
    shift 2
    (cd "$folder" && rm -f "$name.imp.dat" && /usr/bin/time -f %M -o "$WORK/peak" "$@" <"$WORK/$name.answer" >/dev/null 2>&1)
    cat "$WORK/peak"
}
echo "whole processes, CPU ms, median of $PROCESS_RUNS runs:"
awk -v l="$(cpu_median cpu.loxnar.b300)" -v p="$(cpu_median cpu.peer.b300)" \
    -v l1="$(cpu_median cpu.loxnar.b1)" -v p1="$(cpu_median cpu.peer.b1)" 'BEGIN {
    printf "  bounds 300 (54 M planes visited): loxnar %.1f, peer %.1f: ratio %.2f\n", 1000 * l, 1000 * p, l / p
    printf "  the same case with bounds 1 (start-up, listing): loxnar %.1f, peer %.1f\n", 1000 * l1, 1000 * p1
    printf "  the walk of bounds 300 apart from them: loxnar %.1f, peer %.1f\n", 1000 * (l - l1), 1000 * (p - p1)
}'
awk -v l="$(cpu_median cpu.loxnar.quartz)" -v p="$(cpu_median cpu.peer.quartz)" \
    -v lm="$(peak_kib . quartz "$LOXNAR" --console)" -v pm="$(peak_kib peer quartz "$PEER")" 'BEGIN {
    printf "  one case (examples/quartz.dat): loxnar %.1f ms, %s KiB peak; peer %.1f ms, %s KiB peak\n",
           1000 * l, lm, 1000 * p, pm
}'

[ "$PROFILE" = 1 ] || exit 0

# Splits a profile given as lines "share symbol" into the four parts.
classify() {  # title
    awk -v title="$1" '
    {
        share = $1 + 0; sym = $0; sub(/^[^ ]+ /, "", sym)
        if (sym ~ /PROGRAM TOTALS/) next
        if (sym ~ /\[kernel|\[k\]|__GI___libc_write|__libc_write|write\.c:write|asynccancel/) part = "write(2) (kernel and system call)"
        else if (sym ~ /calculator::(ENUMERATE|RECIPROCAL_CELL|SORT_PLANES|PLANE_SPACING|ARC_COS|checked_sqrt|walk::)/ ||
                 sym ~ /libm[.-]/) part = "calculator arithmetic (walk, sort, libm)"
        else if (sym ~ /calculator::/) part = "calculator statement calls (LIST_PLANES, READ_CASE, main)"
        else if (sym ~ /forrtl::/) part = "run-time statements (forrtl)"
        else if (sym ~ /libc[.-]|libc\.so|libstdc/) part = "libc other (memset, memcpy, locks)"
        else part = "other (start-up, loader)"
        sum[part] += share; total += share
    }
    END {
        printf "%s\n", title
        for (p in sum) printf "  %6.1f%%  %s\n", 100 * sum[p] / total, p | "sort -rn"
        close("sort -rn")
    }'
}


echo
echo "profile of the full run ($CASES cases):"
if command -v strace >/dev/null; then
    run_once bench strace -f -c -o bench.strace
    awk '$NF == "write" { printf "write(2) calls: %d for %d records written\n", $(NF-1), r }' \
        r=$(($(wc -l <bench.imp.dat) + $(wc -l <bench.console))) bench.strace
fi

if command -v perf >/dev/null && perf stat -e cpu-clock true >/dev/null 2>&1; then
    run_once bench perf record -q -e cpu-clock -F 4000 -o prof.perf
    perf report -i prof.perf --no-children --sort dso,sym -g none --percent-limit 0 --stdio 2>/dev/null |
        awk '/^ *[0-9.]+%/ { p = $1; sub(/%/, "", p); $1 = ""; print p, $0 }' |
        classify "time (perf, cpu-clock, $(perf report -i prof.perf --stdio 2>/dev/null |
            sed -n 's/^# Samples: \([^ ]*\) .*/\1/p' | head -1) samples):"
else
    echo "perf not usable here: no time profile"
fi

PROFILE_CASES=$((CASES < 1000 ? CASES : 1000))
gen prof "$PROFILE_CASES"
echo
echo "profile under valgrind: $PROFILE_CASES cases ($(sed -n 's/^planes per case: //p' prof.summary))"
if command -v valgrind >/dev/null; then
    run_once prof valgrind --tool=callgrind --callgrind-out-file=prof.callgrind
    total=$(callgrind_annotate prof.callgrind 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' | tr -d ,)
    run_peer prof valgrind --tool=callgrind --callgrind-out-file=../peer.callgrind
    peer_total=$(callgrind_annotate peer.callgrind 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' | tr -d ,)
    awk -v l="$total" -v p="$peer_total" 'BEGIN { printf "instructions: loxnar %d, peer %d, ratio %.2f\n", l, p, l / p }'
    callgrind_annotate --auto=no --inclusive=no --threshold=100 prof.callgrind 2>/dev/null |
        awk '/^ *[0-9,]+ +\( *[0-9.]+%\) / { n = $1; gsub(/,/, "", n); $1 = ""; $2 = ""; print n, $0 }' |
        classify "instructions (callgrind, $total in all, $((total / PROFILE_CASES)) per case):"

    gen heap_small 100
    for name in heap_small prof; do
        run_once "$name" valgrind --tool=memcheck
        sed -n "s/^==[0-9]*== *total heap usage: /heap, $(grep -c '' "$name.dat" | awk '{ print $1 / 4 }') cases: /p" \
            "$name.stderr"
    done
else
    echo "valgrind not installed: no instruction profile, no heap count"
fi
