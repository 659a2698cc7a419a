#!/bin/sh
# Builds Vocora and runs every test: once normally, once under AddressSanitizer
# and UndefinedBehaviorSanitizer. Installs what is missing first.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure
# Install rules, menu entry, metadata and the Debian package.
packaging/check.sh build
# A short whole-call benchmark, to see that it still runs (figures are for people).
bench/call --seconds 10 --runs 1 --exe build/app/vocora

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOCORA_SANITIZE=ON -DVOCORA_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure -LE slow
