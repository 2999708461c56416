#!/usr/bin/env bash
# loxnar started from the desktop on an entry data file, on a real X display
# (Xvfb) with no window manager: the desktop entry's Exec line with the
# file for %f, from another folder.  The listing must land beside the entry
# file (none where the program started), the exit prompt come up, and,
# after No and closing the last text window (Ctrl+F4), the application
# close with Ctrl+C, and in a second run with File > Exit (Alt+F, X), with
# status 0.
#
#   tests/host/xvfb_desktop.sh LOXNAR SOURCE_DIR
#
# Skipped (status 77) without Xvfb, xauth or xdotool.  With
# LOXNAR_SCREENSHOT_DIR set, screenshots of each step are saved there.
set -uo pipefail

LOXNAR=$1
SOURCE=$2
for tool in Xvfb xauth mcookie xdotool; do
    command -v $tool >/dev/null || { echo "$tool missing: skipped"; exit 77; }
done

. "$(dirname "$0")/xvfb_common.sh"

windows() { xdotool search --onlyvisible --name '^loxnar$' 2>/dev/null | wc -l; }
mkdir -p data start
mv quartz.dat data/
# The desktop entry's command, as a file manager runs it for the file.
exec_line=$(sed -n 's/^Exec=//p' "$SOURCE/share/loxnar.desktop")
[[ $exec_line == "loxnar %f" ]] || fail "the desktop entry's Exec line is '$exec_line'"
command=${exec_line/\%f/$WORK/data/quartz.dat}
mkdir -p bin
ln -s "$LOXNAR" bin/loxnar

for leave in "ctrl+c" "alt+f x"; do
    rm -f data/quartz.imp.dat
    xdotool mousemove 0 0
    (cd start && PATH="$WORK/bin:$PATH" exec $command >../loxnar.out 2>../loxnar.err) &
    PID=$!
    # No name is typed: the file answers the prompt.
    wait_for '[ "$(windows)" -ge 2 ]' 100 || fail "$leave: no exit prompt"
    shot "desktop-prompt"
    grep -q 'ENDING TIME' data/quartz.imp.dat 2>/dev/null || fail "$leave: no listing beside the entry file"
    [ -z "$(ls start)" ] || fail "$leave: files where the program started: $(ls start)"
    xdotool key Return  # No: the window stays
    wait_for '[ "$(windows)" -eq 1 ]' 100 || fail "$leave: the prompt stayed"
    sleep 0.3
    xdotool key ctrl+F4  # closes Graphic1-Closed, the last text window
    sleep 0.5
    shot "desktop-no-window"
    kill -0 "$PID" 2>/dev/null || fail "$leave: the application closed with its last window"
    for key in $leave; do
        xdotool key "$key"
        sleep 0.3
    done
    wait_for '! kill -0 $PID 2>/dev/null' 100 || fail "$leave did not close the application"
    wait "$PID"
    status=$?
    PID=""
    [ "$status" -eq 0 ] || fail "$leave: exit status $status"
    mask <data/quartz.imp.dat | cmp -s - "$SOURCE/examples/expected/quartz.imp.dat" ||
        fail "$leave: quartz.imp.dat differs from the expected listing"
done
echo "passed"
