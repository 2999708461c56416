#!/usr/bin/env bash
# Runs every harness of fuzz/ for SECONDS seconds each, on the seed corpora
# (fuzz/seeds.sh) and the corpus kept in BUILD_DIR from earlier runs, and
# reports the executions each reached and what it found.
#
#   fuzz/run.sh BUILD_DIR [SECONDS] [HARNESS...]
#
# Findings (inputs that crash, leak or time out) go to
# BUILD_DIR/fuzz-findings/<harness>/ with the sanitizer's report next to
# them; the target's own output (diagnostics, console records) is
# discarded.  The exit status is 1 when a harness found something.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=${2:-60}
shift $(($# >= 2 ? 2 : $#))
HARNESSES=${*:-format read list loxnar}

"$ROOT/fuzz/seeds.sh" "$BUILD/fuzz-seeds" >/dev/null
found=0
printf '%-8s %12s %10s %8s  %s\n' harness executions "exec/s" corpus findings
for h in $HARNESSES; do
    corpus="$BUILD/fuzz-corpus/$h"
    findings="$BUILD/fuzz-findings/$h"
    mkdir -p "$corpus" "$findings"
    log="$findings/fuzz.log"
    ASAN_OPTIONS="log_path=$findings/sanitizer:detect_leaks=1" \
    UBSAN_OPTIONS="log_path=$findings/sanitizer:print_stacktrace=1:halt_on_error=1" \
        "$BUILD/fuzz/fuzz_$h" "$corpus" "$BUILD/fuzz-seeds/$h" \
        -max_total_time="$SECONDS_EACH" -close_fd_mask=3 -print_final_stats=1 \
        -timeout=30 -rss_limit_mb=2560 -artifact_prefix="$findings/" >"$log" 2>&1
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    artifacts=$(find "$findings" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l)
    [ "$artifacts" -gt 0 ] && found=1
    printf '%-8s %12s %10s %8s  %s\n' "$h" "${execs:-?}" "${rate:-?}" "$(ls "$corpus" | wc -l)" \
        "$([ "$artifacts" -gt 0 ] && echo "$artifacts in $findings" || echo none)"
done
exit "$found"
