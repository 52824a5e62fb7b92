#!/usr/bin/env bash
# The main job: builds the native Zq-ReadUtility and the terminal simulator, and shows a
# download from the simulator for each terminal family. On a fresh Debian machine it installs
# the few build tools it needs (cmake, ninja, g++) when they are missing.
set -euo pipefail

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
if [ ${#missing[@]} -gt 0 ]; then
  echo "=== Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/demo"
cd "$repo"

echo "=== Building the native program and the terminal simulator"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target Zq-ReadUtility --target Zq-TerminalSimulator
program="$build/Zq-ReadUtility"

echo
echo "=== Zq-ReadUtility without arguments prints its usage text (exit code 1)"
set +e
"$program"
rc=$?
set -e
echo "(exit code $rc)"

simulator="$build/tools/simulator/Zq-TerminalSimulator"
samples="$repo/tools/simulator/samples"
work="$(mktemp -d)"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Starts the simulator in the background; sets sim_pid and sim_first (its "port=N" or "pty=PATH").
start_simulator() {
  "$simulator" "$@" >"$work/simulator.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do
    sim_first="$(head -n 1 "$work/simulator.out" 2>/dev/null)"
    [ -n "$sim_first" ] && return 0
    sleep 0.05
  done
  echo "the simulator did not start:" >&2
  cat "$work/simulator.out" >&2
  exit 1
}

stop_simulator() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# Shows the data file with its tabs as "->" and its CR LF line ends as "\r".
show_file() {
  echo "--- $1 ($(wc -c <"$1") bytes):"
  sed -e 's/\t/ -> /g' -e 's/\r$/\\r/' "$1"
}

run() {
  echo "\$ Zq-ReadUtility $*"
  (cd "$work" && "$program" "$@") || true
}

for model in 870 735; do
  echo
  echo "=== Model $model: the simulator on a loopback port with the records of $samples/$model.txt"
  start_simulator "$model" --port 0 --records "$samples/$model.txt"
  port="${sim_first#port=}"
  run "$model" "127.0.0.1:$port" out.txt -u -c
  show_file "$work/out.txt"
  echo "--- a second download finds the terminal's memory cleared:"
  run "$model" "127.0.0.1:$port" out.txt
  stop_simulator
  echo "--- what the simulator did:"
  sed -n '2,$p' "$work/simulator.out"
done

echo
echo "=== Model 2210: the simulator on a pseudo-terminal reached as COM7 (ZQ_COMPORT_DIR)"
mkdir -p "$work/ports"
start_simulator 2210 --records "$samples/2210.txt" --link "$work/ports/COM7"
echo "(${sim_first})"
export ZQ_COMPORT_DIR="$work/ports"
run 2210 7 out.txt -u -c -n1
show_file "$work/out.txt"
stop_simulator
echo "--- what the simulator did:"
sed -n '2,$p' "$work/simulator.out"
