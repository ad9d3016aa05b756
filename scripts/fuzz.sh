#!/bin/sh
# Builds the fuzz targets (fuzz/, clang) and runs each for SECONDS (default
# 60) from its seed corpus, FUZZ_JOBS (default 2) at a time; --build only
# builds them. Inputs found new go to build-fuzz/corpus/<target>, a crash or
# a broken promise to build-fuzz/<target>-crash-*; the script then fails.
# Log: build-fuzz/<target>.log.
set -e
cd "$(dirname "$0")/.."
root=$(pwd) # the targets work in a folder of their own
seconds=${1:-60}
if [ "$seconds" = --one ]; then
    name=$2
    seconds=$3
    dict=
    [ -f "fuzz/$name.dict" ] && dict="-dict=$root/fuzz/$name.dict"
    mkdir -p "build-fuzz/corpus/$name"
    if timeout $((seconds + 120)) "build-fuzz/${name}_fuzz" "$root/build-fuzz/corpus/$name" \
        "$root/fuzz/corpus/$name" $dict -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$root/build-fuzz/$name-" >"build-fuzz/$name.log" 2>&1; then
        printf '%-8s %s\n' "$name" "$(grep DONE "build-fuzz/$name.log" | tail -1)"
    else
        printf '%-8s FAILED, see build-fuzz/%s.log\n' "$name" "$name"
        grep -E "promise broken|ERROR|SUMMARY" "build-fuzz/$name.log" | head -5
        exit 1
    fi
    exit 0
fi
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "${FUZZ_JOBS:-2}" >/dev/null
# --build: only build the targets (make test builds them beside the tests).
[ "$seconds" = --build ] && exit 0
# The console glue asks for full malloc stacks for its leak suppressions;
# fuzzing wants speed.
export ASAN_OPTIONS=fast_unwind_on_malloc=1
for src in fuzz/*_fuzz.cpp; do basename "$src" _fuzz.cpp; done |
    xargs -P "${FUZZ_JOBS:-2}" -I{} "$0" --one {} "$seconds"
