#!/usr/bin/env bash
# Runs a Windows test program under Wine in the project's own prefix (created on first use).
# Now and then Wine fails to start a program at all (exit code set, not one byte written); such a
# start is tried again, up to three times. A program that ran prints something, and its result
# stands as it is.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
zq_wine_prefix

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for attempt in 1 2 3; do
  wine "$@" >"$scratch/out" 2>"$scratch/err"
  rc=$?
  if [ "$rc" -eq 0 ] || [ -s "$scratch/out" ] || [ -s "$scratch/err" ] || [ "$attempt" -eq 3 ]; then
    cat "$scratch/out"
    cat "$scratch/err" >&2
    exit "$rc"
  fi
  echo "wine-run: $1 exited with $rc before writing anything (start $attempt of 3); starting it again" >&2
  sleep 1
done
