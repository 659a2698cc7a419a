#!/bin/sh
# Builds Vocora (installing what is missing) and starts it.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOCORA_TESTS=OFF -DVOCORA_BENCH=OFF >/dev/null
cmake --build build-release --target vocora
exec build-release/app/vocora
