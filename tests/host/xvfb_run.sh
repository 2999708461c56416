#!/usr/bin/env bash
# loxnar in its window on a real X display (Xvfb), driven as a user would
# with xdotool, the pointer off the frame and no focus given: type the entry
# name and Enter, answer the exit prompt with Enter (No: the window stays),
# open and close the help (Alt+H, C, Escape), select all (Alt+E, A) and
# copy (Ctrl+Ins), leave with Ctrl+C.  The clipboard (read with xclip) must hold the console
# listing, the results file the expected listing, and the exit status must
# be 0.
#
#   tests/host/xvfb_run.sh LOXNAR SOURCE_DIR
#
# Skipped (status 77) without Xvfb, xauth, xdotool or xclip.  With
# LOXNAR_SCREENSHOT_DIR set, screenshots of the prompt, the listing and the
# selection are saved there.
set -uo pipefail

LOXNAR=$1
SOURCE=$2
for tool in Xvfb xauth mcookie xdotool xclip; do
    command -v $tool >/dev/null || { echo "$tool missing: skipped"; exit 77; }
done

. "$(dirname "$0")/xvfb_common.sh"

# The pointer off the frame: with no window manager the keys then go
# wherever the input focus is, and the frame must take it itself.
xdotool mousemove 0 0
"$LOXNAR" >loxnar.out 2>loxnar.err &
PID=$!

wait_for 'xdotool search --onlyvisible --name "^loxnar$" >/dev/null 2>&1' 100 || fail "no window"
window=$(xdotool search --onlyvisible --name '^loxnar$' | head -1)
# No click, no focus given: the caret blinks in Graphic1 and typed keys go there.
wait_for '[ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]' 50 || fail "the frame did not take the input focus"
sleep 0.3
xdotool type --delay 20 quartz
xdotool key Return
wait_for 'grep -q "ENDING TIME" quartz.imp.dat 2>/dev/null' 100 || fail "no listing in quartz.imp.dat"
# The exit prompt is a second window with the program's name.
windows() { xdotool search --onlyvisible --name '^loxnar$' 2>/dev/null | wc -l; }
wait_for '[ "$(windows)" -ge 2 ]' 100 || fail "no exit prompt"
sleep 0.2
shot prompt
# The frame must take the input focus back itself once the prompt has gone.
xdotool key Return  # the prompt's default: No, the window stays
wait_for '[ "$(windows)" -eq 1 ]' 100 || fail "the prompt stayed"
sleep 0.3
kill -0 "$PID" 2>/dev/null || fail "the application closed on No"
shot listing
# Help > Contents opens the help window at its contents; Escape closes it,
# and the frame takes the keyboard back (the menus' Alt keys work again).
xdotool key alt+h
sleep 0.3
xdotool key c
wait_for 'xdotool search --onlyvisible --name "^loxnar Help$" >/dev/null 2>&1' 50 || fail "no help window"
shot help
xdotool key Escape
wait_for '! xdotool search --onlyvisible --name "^loxnar Help$" >/dev/null 2>&1' 50 || fail "the help window stayed"
sleep 0.3
# Select All and Copy: the clipboard holds every line the window shows, each
# with its line end.  No click and no explicit focus first.
xdotool key alt+e
sleep 0.3
xdotool key a
sleep 0.3
shot selected
xdotool key ctrl+Insert
# The console listing as the window shows it: the typed name after the prompt.
sed 's/\r$//; 2s/$/quartz/' "$SOURCE/examples/expected/quartz.console" >expected.clip
wait_for 'xclip -o -selection clipboard 2>/dev/null | mask | cmp -s - expected.clip' 30 ||
    { xclip -o -selection clipboard 2>&1 | diff - expected.clip | head -20; fail "the clipboard is not the listing"; }
xdotool key ctrl+c  # Exit
wait_for '! kill -0 $PID 2>/dev/null' 100 || fail "Ctrl+C did not close the application"
wait "$PID"
status=$?
PID=""
[ "$status" -eq 0 ] || fail "exit status $status"
mask <quartz.imp.dat |
    cmp -s - "$SOURCE/examples/expected/quartz.imp.dat" || fail "quartz.imp.dat differs from the expected listing"
echo "passed"
