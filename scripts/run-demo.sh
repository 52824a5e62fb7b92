#!/usr/bin/env bash
# The main job: builds the native Zq-ReadUtility and shows it at work.
# Needs cmake, ninja and g++ (.ci/run installs everything on a fresh Debian machine).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/demo"
cd "$repo"

echo "=== Building the native program and the terminal simulator"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ_BUILD_TESTS=OFF >/dev/null
targets=(--target Zq-ReadUtility)
if [ -d "$repo/tools/simulator" ] && ls "$repo"/tools/simulator/*.cpp >/dev/null 2>&1; then
  targets+=(--target Zq-TerminalSimulator)
fi
cmake --build "$build" -j2 "${targets[@]}"
program="$build/Zq-ReadUtility"

echo
echo "=== Zq-ReadUtility without arguments prints its usage text (exit code 1)"
set +e
"$program"
rc=$?
set -e
echo "(exit code $rc)"

# ------------------------------------------------------------------------------------------
# DEMO DOWNLOAD FROM THE BUNDLED SIMULATOR: to be filled in by the simulator's developer.
# Start build/demo/Zq-TerminalSimulator on a loopback port, run for example
#   "$program" 870 127.0.0.1:<port> "$work/out.txt" -u -c -n2
# in a temporary directory, and show the console output and the data file.
# ------------------------------------------------------------------------------------------
