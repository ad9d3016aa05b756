#!/bin/sh
# Tests against code, in non-blank lines: the suite should stay between a
# quarter and about a third of the code it guards. Exits 1 above 0.35: the
# tests against independent references (a 6-and-2 codec, a random source
# generator for the standard assembler, a Fourier transform) are code of
# their own written in the tests on purpose.
cd "$(dirname "$0")/.."
count() { cat "$@" 2>/dev/null | grep -cv '^[[:space:]]*$'; }
tests=$(count tests/*.cpp tests/*.h)
code=$(count sources/*.cpp sources/*.h bench/*.cpp fonts/*.cpp tools/*.cpp tools/*.s tools/*.inc rom/*.s rom/*.inc)
awk -v t="$tests" -v c="$code" 'BEGIN {
    share = t / c
    printf "tests %d, code %d, share %.2f\n", t, c, share
    exit share > 0.35 }'
