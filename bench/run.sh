#!/usr/bin/env bash
# Builds an optimised native tree and prints the benchmark figures (`name: value` per line).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZQ_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j2 >/dev/null
python3 bench/run.py build/bench
