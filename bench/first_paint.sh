#!/usr/bin/env bash
# Start-up benchmark of the windowed host under Xvfb: the time from the
# start of the process to the first paint of its text window, for loxnar's
# windowed mode (bench/host_run.cpp with --first-paint: the same host,
# run-time and main program) and, as the peer in the same run, a plain Qt
# window (host_run --bare-qt).
#
#   bench/first_paint.sh [-r RUNS] [-b BUILD_DIR]
set -euo pipefail

RUNS=10
BUILD=build
while [ $# -gt 0 ]; do
    case "$1" in
    -r) RUNS="$2"; shift 2 ;;
    -b) BUILD="$2"; shift 2 ;;
    -h | --help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "first_paint.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
command -v Xvfb >/dev/null || { echo "first_paint.sh: Xvfb is not installed (apt-get install xvfb)" >&2; exit 1; }

ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$ROOT/$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$ROOT/$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$ROOT/$BUILD" -j "$(nproc)" --target host_run >/dev/null
HOST_RUN="$ROOT/$BUILD/bench/host_run"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/loxnar-paint.XXXXXX")
display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
trap 'kill $XVFB 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do
    DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
cp "$ROOT/examples/quartz.dat" "$WORK/"
cd "$WORK"

echo "machine: $(nproc) CPU(s), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "Xvfb $display 1280x1024x24, $RUNS runs each, alternating"
measure() {  # ARGS...: ms from process start to the first paint
    local t0 t1
    t0=$(date +%s%N)
    t1=$(DISPLAY=$display QT_QPA_PLATFORM=xcb "$HOST_RUN" "$@" 2>/dev/null | sed -n 's/^first paint //p')
    [ -n "$t1" ] || { echo "no paint from host_run $*" >&2; exit 1; }
    echo $(((t1 - t0) / 1000))
}
host=() bare=()
for _ in $(seq "$RUNS"); do
    host+=("$(measure --first-paint quartz)")
    bare+=("$(measure --bare-qt)")
done
report() {  # TITLE VALUES...
    local title=$1
    shift
    printf '%s\n' "$@" | sort -n | awk -v t="$title" '{ v[NR] = $1 } END {
        printf "%-32s median %6.1f ms  best %6.1f ms  worst %6.1f ms\n", t, v[int((NR + 1) / 2)] / 1000, v[1] / 1000, v[NR] / 1000 }'
}
report "loxnar window (host_run):" "${host[@]}"
report "plain Qt window (peer):" "${bare[@]}"
