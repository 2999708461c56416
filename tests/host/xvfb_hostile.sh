#!/usr/bin/env bash
# loxnar in its window on a real X display (Xvfb), treated as a hostile
# user or system would, driven with xdotool:
#   - started with standard error closed, and with 0, 1 and 2 all closed:
#     the display connection must not land on a standard descriptor, and the
#     run goes on as usual (exit status 0, the expected listing);
#   - SIGTERM while it waits for the entry name: it ends at once, without a
#     box, with status 143 and the message on standard error;
#   - the X server killed while the run is paused: the process ends (status
#     1) and the results file holds whole records.
#
#   tests/host/xvfb_hostile.sh LOXNAR SOURCE_DIR
#
# Skipped (status 77) without Xvfb, xauth or xdotool.
set -uo pipefail

LOXNAR=$1
SOURCE=$2
for tool in Xvfb xauth mcookie xdotool; do
    command -v $tool >/dev/null || { echo "$tool missing: skipped"; exit 77; }
done

. "$(dirname "$0")/xvfb_common.sh"

windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l; }
# Waits for loxnar to end and sets STATUS.
finish() {
    wait_for '! kill -0 $PID 2>/dev/null' "$1" || fail "$2: the process did not end"
    wait "$PID"
    STATUS=$?
    PID=""
}

# Closed standard descriptors: the whole run as a user makes it.
for closed in "2" "0 1 2"; do
    rm -f quartz.imp.dat
    redirections=""
    for fd in $closed; do redirections="$redirections $fd>&-"; done
    eval "\"$LOXNAR\" $redirections &"
    PID=$!
    wait_for '[ "$(windows "^loxnar$")" -ge 1 ]' 100 || fail "closed $closed: no window"
    xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^loxnar$' | head -1)" 2>/dev/null
    sleep 0.3
    xdotool type --delay 20 quartz
    xdotool key Return
    wait_for '[ "$(windows "^loxnar$")" -ge 2 ]' 100 || fail "closed $closed: no exit prompt"
    sleep 0.2
    xdotool key Return  # No: the window stays
    wait_for '[ "$(windows "^loxnar$")" -eq 1 ]' 100 || fail "closed $closed: the prompt stayed"
    xdotool key ctrl+c
    finish 100 "closed $closed"
    [ "$STATUS" -eq 0 ] || fail "closed $closed: exit status $STATUS"
    mask <quartz.imp.dat |
        cmp -s - "$SOURCE/examples/expected/quartz.imp.dat" || fail "closed $closed: quartz.imp.dat differs"
done

# SIGTERM while the program waits for the entry name.
"$LOXNAR" >loxnar.out 2>loxnar.err &
PID=$!
wait_for '[ "$(windows "^loxnar$")" -ge 1 ]' 100 || fail "SIGTERM: no window"
sleep 0.3
kill -TERM "$PID"
finish 50 "SIGTERM"
[ "$STATUS" -eq 143 ] || fail "SIGTERM: exit status $STATUS"
grep -q "forrtl: error (78): process killed (SIGTERM)" loxnar.err || fail "SIGTERM: no message on standard error"

# The display goes away while the run is paused.
awk 'BEGIN { for (i = 0; i < 20000; i++)
      printf "case %d\n%.3f 4.9134 5.4052 90.0 90.0 120.0\n1 3 0 0 0 0 0  1.50 5.00  5 5 5  1.5406\n%d\n",
             i, 3 + 0.001 * i, i < 19999 }' >many.dat
"$LOXNAR" >loxnar.out 2>loxnar.err &
PID=$!
wait_for '[ "$(windows "^loxnar$")" -ge 1 ]' 100 || fail "display gone: no window"
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^loxnar$' | head -1)" 2>/dev/null
sleep 0.3
xdotool type --delay 20 many
xdotool key Return
wait_for '[ -s many.imp.dat ]' 100 || fail "display gone: no results file"
xdotool key ctrl+s  # Pause: the program waits at its next step
sleep 0.3
kill "$XVFB"
XVFB=""
finish 100 "display gone"
[ "$STATUS" -eq 1 ] || fail "display gone: exit status $STATUS"
[ "$(tail -c 2 many.imp.dat | od -An -c | tr -d ' ')" = '\r\n' ] || fail "display gone: a record cut short"
echo "passed"
