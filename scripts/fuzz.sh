#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on a copy of its
# seed corpus. Usage: scripts/fuzz.sh [seconds per target, default 10]
set -euo pipefail
seconds="${1:-10}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

cmake --workflow --preset fuzz >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
for fuzzer in build/fuzz/fuzz/*Fuzzer; do
  name="$(basename "$fuzzer")"
  mkdir -p "$work/$name"
  cp -r "fuzz/corpus/$name/." "$work/$name/" 2>/dev/null || true
  echo "== $name (${seconds}s)"
  # close_fd_mask=1: the command line prints its usage text for most inputs.
  if ! "$fuzzer" "$work/$name" -max_total_time="$seconds" -close_fd_mask=1 -artifact_prefix="$work/$name-" \
      -print_final_stats=1 2>"$work/$name.log"; then
    status=1
    tail -40 "$work/$name.log"
    mkdir -p build/fuzz-artifacts && cp "$work/$name"-* build/fuzz-artifacts/ 2>/dev/null || true
    echo "$name: FAILED (crash input kept in build/fuzz-artifacts)"
  else
    grep -E 'stat::number_of_executed_units|cov:' "$work/$name.log" | tail -2
    echo "$name: passed"
  fi
done
exit $status
