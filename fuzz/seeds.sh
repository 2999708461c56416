#!/usr/bin/env bash
# Writes the seed corpora of the harnesses into DEST/<harness>/: the format
# texts of the calculator and of the run-time's tests, the entry data files
# of examples/ and records built from them.
#
#   fuzz/seeds.sh DEST
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEST=$1
mkdir -p "$DEST"/{format,read,list,loxnar}

n=0
seed() {  # HARNESS TEXT
    n=$((n + 1))
    printf '%s' "$2" >"$DEST/$1/seed-$n"
}

# Format texts: the calculator's programs (joined where the source splits
# them over lines) and the format strings the tests use.
formats=$(
    {
        tr -d '\n' <"$ROOT/calculator/listing.h" | grep -o 'format_program<[^>]*>' |
            sed -e 's/^format_program<//' -e 's/>$//' -e 's/"[[:space:]]*"//g' -e 's/^[[:space:]]*"//' -e 's/"$//'
        grep -ho 'format_program<"[^"]*">' "$ROOT"/tests/forrtl/*.cpp | sed -e 's/^format_program<"//' -e 's/">$//'
        grep -ho '"([A-Z0-9(][^"]*)"' "$ROOT"/tests/forrtl/*.cpp | sed -e 's/^"//' -e 's/"$//'
    } | sed 's/\\?/?/g' | sort -u
)
while IFS= read -r f; do
    [ -n "$f" ] || continue
    seed format "$f"
done <<<"$formats"

# Entry data files, whole, and the records the calculator reads from them.
for dat in "$ROOT"/examples/*.dat; do
    seed loxnar "$(cat "$dat")"$'\n'
    title=$(sed -n 1p "$dat")
    cell=$(sed -n 2p "$dat")
    params=$(sed -n 3p "$dat")
    seed read "(18A4)"$'\n'"A"$'\n'"$title"$'\n'
    seed read "(A20)"$'\n'"a"$'\n'"$(basename "$dat" .dat)"$'\n'
    seed read "(6F10.4)"$'\n'"rrrrrr"$'\n'"$cell"$'\n'
    seed list "rrrrrr"$'\n'"$cell"$'\n'
    seed list "Iiiirriiir"$'\n'"$params"$'\n'"0"$'\n'
done

# List-directed forms: repeats, nulls, slash, complex, logical and strings.
seed list "rrr"$'\n'"3*90"$'\n'
seed list "rrrr"$'\n'"1.5,,2*"$'\n'"/"$'\n'
seed list "cz"$'\n'"(1.5, -2) (0.1,"$'\n'" 1e300)"$'\n'
seed list "laAS"$'\n'".TRUE. 'it''s' abc de 'f"$'\n'"g'"$'\n'
seed list "bhkud"$'\n'"-128 32767 -9223372036854775808 4294967295 1d-300"$'\n'
seed read "(I2,I2)"$'\n'"ii"$'\n'"12ab"$'\n'
seed read "(BZ,F8.3,SP,E12.4E3,TL4,Q)"$'\n'"rdi"$'\n'"   1 2   1.5E+003  "$'\n'
seed read "(L2,Z8,O6,B8,G10.3,EN12.3,ES12.3)"$'\n'"liiirdd"$'\n'" TFFFF 777 101 1.5 2.5 3.5"$'\n'
seed read "(2(I3,:),/,A)"$'\n'"iiia"$'\n'"  1  2"$'\n'"next"$'\n'
