#!/bin/sh
# make test's runs, once the three trees are built: the tests' share of the
# code, the suite, again under AddressSanitizer and UBSan, the threaded
# tests under ThreadSanitizer, then each fuzz target for 10 seconds. The
# fuzz targets build meanwhile at a low priority, in the time the tests
# leave the cores idle.
set -e
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
./scripts/test-share.sh
mkdir -p build-fuzz
nice -n 15 ./scripts/fuzz.sh --build >build-fuzz/build.log 2>&1 &
fuzz_build=$!
trap 'kill $fuzz_build 2>/dev/null || true' EXIT
(cd build && ctest --output-on-failure -j "$jobs")
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$jobs" -L threads)
if ! wait $fuzz_build; then
    echo "building the fuzz targets failed:"
    tail -30 build-fuzz/build.log
    exit 1
fi
trap - EXIT
./scripts/fuzz.sh 10
