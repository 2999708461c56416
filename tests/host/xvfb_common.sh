# Sourced by the Xvfb tests once LOXNAR and SOURCE are set: a display of
# their own, the helpers they share, and the cleanup at the end.
#
# A display of our own: Xvfb picks a free number and admits only the
# clients that hold our cookie, so that no other program's windows (another
# test run's, say) share the screen, the keyboard or the clipboard.
# Sets WORK (a scratch folder), DISPLAY and XAUTHORITY; XVFB is the
# server's process and PID the program under test (both may be emptied by
# the test when it has ended them itself).
WORK=$(mktemp -d "${TMPDIR:-/tmp}/loxnar-xvfb.XXXXXX")
export XAUTHORITY=$WORK/xauth
COOKIE=$(mcookie)
xauth -q -f "$XAUTHORITY" add :0 . "$COOKIE" 2>/dev/null  # the server takes the cookie whatever the number
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -auth "$XAUTHORITY" 5>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
PID=""
cleanup() {
    [ -n "$PID" ] && kill -9 "$PID" 2>/dev/null
    [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

fail() {
    echo "FAILED: $*"
    [ -f "$WORK/loxnar.err" ] && sed 's/^/  stderr: /' "$WORK/loxnar.err"
    exit 1
}
# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() {
    for _ in $(seq "$2"); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}
# With LOXNAR_SCREENSHOT_DIR set, a screenshot of the display named $1.
shot() {
    [ -n "${LOXNAR_SCREENSHOT_DIR:-}" ] || return 0
    if command -v import >/dev/null; then
        import -window root "$LOXNAR_SCREENSHOT_DIR/loxnar-$1.png"
    elif command -v xwd >/dev/null; then
        xwd -root -silent >"$LOXNAR_SCREENSHOT_DIR/loxnar-$1.xwd"
    fi
}
# The listing with its date and time stamps masked, as the expected
# listings hold them.
mask() { sed -E 's#[0-9]{4}/[0-9]{2}/[0-9]{2}#YYYY/MM/DD#; s#[0-9]{2}h[0-9]{2}mn[0-9]{2}s#HHhMMmnSSs#'; }

wait_for '[ -s "$WORK/display" ]' 100 || fail "Xvfb did not start"
export DISPLAY=:$(head -1 "$WORK/display")
xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$COOKIE"
cp "$SOURCE/examples/quartz.dat" "$WORK/"
cd "$WORK"
