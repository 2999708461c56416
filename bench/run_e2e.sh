#!/usr/bin/env bash
# End-to-end benchmark of the loxnar program.
#
#   bench/run_e2e.sh [-n CASES] [-r RUNS] [-b BUILD_DIR] [--host] [--profile]
#
# Builds loxnar, the case generator (bench/e2e_gen.cpp) and the lower-bound
# peer (bench/peers/e2e_peer.cpp), writes an entry data file of CASES
# generated cases (default 10000, about 100 planes each) in a temporary
# folder, and runs `loxnar --console` and the peer on it in turn, RUNS times
# each (default 5), with the console going to a file.  It checks loxnar's
# exit status and record counts, checks that the peer wrote the same results
# file and console output byte for byte (the date and time stamps masked),
# and reports cases per second (wall and CPU), the sizes of the results file
# and the console output, the time per written record, and the CPU seconds
# of loxnar and of the peer with their ratio (medians over the runs).
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
    -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
HOST_RUN="$ROOT/$BUILD/bench/host_run"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/loxnar-e2e.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# The expected record counts come from the generator's summary.
gen() {  # NAME CASES
    "$GEN" "$1.dat" "$2" >"$1.summary"
    printf '%s\n' "$1" >"$1.answer"
}
expected() {  # NAME file|console
    sed -n "s/^expected records: results file \([0-9]*\), console \([0-9]*\)$/\1 \2/p" "$1.summary" |
        { read -r file console; [ "$2" = file ] && echo "$file" || echo "$console"; }
}
run_once() {  # NAME [wrapper...]: runs loxnar on NAME.dat in a fresh state
    local name=$1
    shift
    rm -f "$name.imp.dat"
    "$@" "$LOXNAR" --console <"$name.answer" >"$name.console" 2>"$name.stderr"
}
run_peer() {  # NAME [wrapper...]: runs the peer on NAME.dat in peer/
    local name=$1
    shift
    mkdir -p peer
    ln -sf "../$name.dat" "peer/$name.dat"
    rm -f "peer/$name.imp.dat"
    (cd peer && "$@" "$PEER" <"../$name.answer" >"$name.console" 2>"$name.stderr")
}
# The stamps differ from run to run: their digits are masked.
mask() { sed -E 's#( DATE : )[0-9]{4}/[0-9]{2}/[0-9]{2}#\1YYYY/MM/DD#; s#(TIME *:  )[0-9]{2}h[0-9]{2}mn[0-9]{2}s#\1HHhMMmnSSs#' "$1"; }
same_bytes() {  # A B: the same bytes, stamps masked
    cmp -s <(mask "$1") <(mask "$2")
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) CPU(s), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
    "$(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME"), $(uname -r)"
echo "build:   $BUILD ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$ROOT/$BUILD/CMakeCache.txt"))"

gen bench "$CASES"
sed 's/^/input:   /' bench.summary

# The stamps of a listing masked, to compare two runs' results files.
masked() { sed -E 's#[0-9]{4}/[0-9]{2}/[0-9]{2}#YYYY/MM/DD#; s#[0-9]{2}h[0-9]{2}mn[0-9]{2}s#HHhMMmnSSs#' "$1"; }
host_once() {  # NAME: the same run through the windowed host (offscreen)
    rm -f "$1.imp.dat"
    QT_QPA_PLATFORM=offscreen "$HOST_RUN" "$1" >"$1.host.out" 2>"$1.host.stderr"
}

TIMEFORMAT='%3R %3U %3S'
best_wall=""
: >cpu.loxnar
: >cpu.peer
best_host=""
for run in $(seq 1 "$RUNS"); do
    set +e
    { time run_once bench; } 2>bench.time
    status=$?
    set -e
    if [ "$status" -ne 0 ]; then
        echo "loxnar ended with status $status:" >&2
        cat bench.stderr bench.time >&2
        exit 1
    fi
    read -r wall user sys <bench.time
    file_records=$(wc -l <bench.imp.dat)
    console_records=$(wc -l <bench.console)
    if [ "$file_records" -ne "$(expected bench file)" ]; then
        echo "results file holds $file_records records, expected $(expected bench file)" >&2
        exit 1
    fi
    records=$((file_records + console_records))
    set +e
    { time run_peer bench; } 2>peer.time
    peer_status=$?
    set -e
    if [ "$peer_status" -ne 0 ]; then
        echo "the peer ended with status $peer_status:" >&2
        cat peer/bench.stderr peer.time >&2
        exit 1
    fi
    read -r peer_wall peer_user peer_sys <peer.time
    if [ "$run" = 1 ]; then
        if ! same_bytes bench.imp.dat peer/bench.imp.dat || ! same_bytes bench.console peer/bench.console ||
            [ -s bench.stderr ] || [ -s peer/bench.stderr ]; then
            echo "the peer's results file, console output or standard error differ from loxnar's" >&2
            exit 1
        fi
    fi
    awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }' >>cpu.loxnar
    awk -v u="$peer_user" -v s="$peer_sys" 'BEGIN { print u + s }' >>cpu.peer
    awk -v run="$run" -v n="$CASES" -v w="$wall" -v u="$user" -v s="$sys" -v r="$records" \
        -v pw="$peer_wall" -v pu="$peer_user" -v ps="$peer_sys" \
        'BEGIN { printf "run %d:   wall %.3f s (user %.3f, sys %.3f): %.0f cases/s wall, %.0f cases/s CPU, %.2f us per record\n",
                 run, w, u, s, n / w, n / (u + s), w * 1e6 / r
                 printf "  peer:  wall %.3f s (user %.3f, sys %.3f); CPU ratio loxnar/peer %.2f\n",
                 pw, pu, ps, (u + s) / (pu + ps) }'
    if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
        best_wall=$wall best_user=$user best_sys=$sys
    fi
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
        awk -v run="$run" -v n="$CASES" -v w="$hwall" -v u="$huser" -v s="$hsys" -v c="$wall" \
            'BEGIN { printf "host %d:  wall %.3f s (user %.3f, sys %.3f): %.0f cases/s wall, %.2fx the console run before it\n",
                     run, w, u, s, n / w, w / c }'
        if [ -z "$best_host" ] || awk -v a="$hwall" -v b="$best_host" 'BEGIN { exit !(a < b) }'; then
            best_host=$hwall best_huser=$huser best_hsys=$hsys
        fi
    fi
done
file_bytes=$(stat -c %s bench.imp.dat)
console_bytes=$(stat -c %s bench.console)
awk -v n="$CASES" -v w="$best_wall" -v u="$best_user" -v s="$best_sys" \
    -v fr="$file_records" -v fb="$file_bytes" -v cr="$console_records" -v cb="$console_bytes" 'BEGIN {
    r = fr + cr
    printf "results file: %d bytes, %d records; console: %d bytes, %d records\n", fb, fr, cb, cr
    printf "best run: %.0f cases/s wall, %.0f cases/s CPU (user %.3f s, sys %.3f s of %.3f s wall)\n",
           n / w, n / (u + s), u, s, w
    printf "per written record (file and console, %d): %.2f us wall, %.2f us CPU; %.1f MB/s written\n",
           r, w * 1e6 / r, (u + s) * 1e6 / r, (fb + cb) / w / 1e6
}'
awk -v l="$(median <cpu.loxnar)" -v p="$(median <cpu.peer)" -v runs="$RUNS" 'BEGIN {
    printf "peer (bench/peers/e2e_peer.cpp): the same bytes; CPU seconds, median of %d runs: loxnar %.3f, peer %.3f, ratio %.2f\n",
           runs, l, p, l / p
}'

if [ "$HOST" = 1 ]; then
    awk -v n="$CASES" -v w="$best_host" -v u="$best_huser" -v s="$best_hsys" -v c="$best_wall" 'BEGIN {
        printf "windowed host (offscreen), best run: %.0f cases/s wall (user %.3f s, sys %.3f s of %.3f s wall): %.2fx the best console run\n",
               n / w, u, s, w, w / c
    }'
fi

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
