#!/bin/sh
# make test's runs, once the four trees are built: the tests' share of the
# code, the suite, again under AddressSanitizer and UBSan, the threaded
# tests under ThreadSanitizer, then each fuzz target for 10 seconds.
set -e
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
./scripts/test-share.sh
(cd build && ctest --output-on-failure -j "$jobs")
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$jobs" -L threads)
./scripts/fuzz.sh 10
