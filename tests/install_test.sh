#!/usr/bin/env bash
# cmake --install into a temporary prefix, then what a Debian desktop looks
# for: bin/loxnar, the help document in share/loxnar, the desktop entry and
# its icon, the manual page with the paths of that prefix.
#
#   tests/install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BUILD=$1
SOURCE=$2
PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/loxnar-install.XXXXXX")
trap 'rm -rf "$PREFIX"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" >"$PREFIX.log" 2>&1 || { cat "$PREFIX.log"; rm -f "$PREFIX.log"; fail "cmake --install"; }
rm -f "$PREFIX.log"

[ -x "$PREFIX/bin/loxnar" ] || fail "no bin/loxnar"
"$PREFIX/bin/loxnar" --version | grep -q '^loxnar ' || fail "the installed program does not run"
cmp -s "$PREFIX/share/loxnar/FPSHL.html" "$SOURCE/host/help/FPSHL.html" || fail "share/loxnar/FPSHL.html"

desktop=$PREFIX/share/applications/loxnar.desktop
[ -f "$desktop" ] || fail "no share/applications/loxnar.desktop"
for key in '^\[Desktop Entry\]$' '^Type=Application$' '^Name=LOXNAR$' '^Exec=loxnar %f$' '^Icon=loxnar$' '^Terminal=false$' '^Categories=.*;$'; do
    grep -q "$key" "$desktop" || fail "loxnar.desktop lacks $key"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
grep -q '<svg' "$PREFIX/share/icons/hicolor/scalable/apps/loxnar.svg" 2>/dev/null || fail "no icon loxnar.svg"

man=$PREFIX/share/man/man1/loxnar.1
[ -f "$man" ] || fail "no share/man/man1/loxnar.1"
grep -q '^\.TH LOXNAR 1 ' "$man" || fail "loxnar.1 has no title line"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'ENTRY DATA FILE' FILES ENVIRONMENT 'EXIT STATUS' EXAMPLES; do
    grep -q "^\.SH $section\$" "$man" || fail "loxnar.1 lacks its section $section"
done
# The files it names are where this prefix put them.
prefix_roff=${PREFIX//-/\\\\-}  # roff writes a hyphen as \-
grep -q "^\.I $prefix_roff/share/loxnar/FPSHL\.html\$" "$man" || fail "loxnar.1 does not name $PREFIX/share/loxnar/FPSHL.html"
! grep -q '/usr/local' "$man" || fail "loxnar.1 names /usr/local"
# Every option of --help is in the page.
for option in $("$PREFIX/bin/loxnar" --help | sed -n 's/^  \(--[a-z]*\).*/\1/p'); do
    grep -q "^\.B ${option//-/\\\\-}\$" "$man" || fail "loxnar.1 lacks $option"
done
if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$man" 2>/dev/null | grep -q 'Run on standard input and output' || fail "man cannot show loxnar.1"
fi
echo "passed"
