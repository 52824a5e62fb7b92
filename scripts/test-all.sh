#!/usr/bin/env bash
# Builds both targets and runs every test: the Windows unit tests under Wine, then the native
# unit tests and the end-to-end tests against the native program and the .exe under Wine.
# Needs the build tools installed (.ci/run installs them on a fresh Debian machine).
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
jobs=2
logs="$repo/build/test-logs"

step() { printf '\n=== %s\n' "$*"; }
die() { printf '\ntest-all: %s\n' "$*" >&2; exit 1; }

step "Configure and build: mingw (Windows .exe)"
cmake --preset mingw || die "mingw configure failed"
cmake --build --preset mingw -j"$jobs" || die "mingw build failed"

step "Configure and build: linux (native, with the .exe for the Wine e2e tests)"
cmake --preset linux -DZQ_WINDOWS_EXE="$repo/build/mingw/Zq-ReadUtility.exe" || die "linux configure failed"
cmake --build --preset linux -j"$jobs" || die "linux build failed"

# One Wine prefix for every Windows test, created here before tests start side by side.
step "Wine prefix"
source "$repo/tests/wine/wine-env.sh"
zq_wine_prefix
wine cmd /c exit >/dev/null 2>&1 || true

mkdir -p "$logs"
step "Tests: mingw (unit tests under Wine)"
ctest --preset mingw -j"$jobs" 2>&1 | tee "$logs/mingw.txt"
mingw_status=${PIPESTATUS[0]}

step "Tests: linux (unit tests, e2e native, e2e Wine)"
ctest --preset linux -j"$jobs" 2>&1 | tee "$logs/linux.txt"
linux_status=${PIPESTATUS[0]}

# CI's clone has a prefix of its own: stop its server so that nothing outlives the run.
if [ "${CI:-}" = true ]; then wineserver -k >/dev/null 2>&1 || true; fi

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -1 || echo "no summary"; }
step "Summary"
status=0
if [ "$mingw_status" -ne 0 ] || [ "$linux_status" -ne 0 ]; then
  echo "FAILED: mingw ctest exit $mingw_status, linux ctest exit $linux_status"
  status=1
fi
echo "mingw: $(summary "$logs/mingw.txt")"
echo "linux: $(summary "$logs/linux.txt")"
exit "$status"
