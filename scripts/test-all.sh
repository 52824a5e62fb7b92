#!/usr/bin/env bash
# Builds both targets and runs every test: the Windows unit tests under Wine, then the native
# unit tests and the end-to-end tests against the native program and the .exe under Wine, the
# packages (built, checked, and the .deb installed and removed), the native suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets.
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

# --- Packages (one step; scripts/package.sh and scripts/check-packages.sh hold the details) ---
step "Packages: build the .deb and the ZIP, check their contents, lintian, install and remove"
{ bash "$repo/scripts/package.sh" && bash "$repo/scripts/check-packages.sh"; } 2>&1 | tee "$logs/packages.txt"
packages_status=${PIPESTATUS[0]}

# CI's clone has a prefix of its own: stop its server so that nothing outlives the run.
if [ "${CI:-}" = true ]; then wineserver -k >/dev/null 2>&1 || true; fi

# The native suite again, unit and e2e, built with AddressSanitizer and UndefinedBehaviorSanitizer.
step "Configure, build and test: linux-asan (native suite under the sanitizers)"
asan_status=1
if cmake --preset linux-asan && cmake --build --preset linux-asan -j"$jobs"; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=86 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset linux-asan -j"$jobs" 2>&1 | tee "$logs/linux-asan.txt"
  asan_status=${PIPESTATUS[0]}
else
  echo "linux-asan build failed" | tee "$logs/linux-asan.txt"
fi

step "Fuzzing: every target for a bounded time (clang, libFuzzer)"
bash "$repo/scripts/fuzz.sh" "${ZQ_FUZZ_SECONDS:-10}" 2>&1 | tee "$logs/fuzz.txt"
fuzz_status=${PIPESTATUS[0]}

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -1 || echo "no summary"; }
step "Summary"
status=0
if [ "$mingw_status" -ne 0 ] || [ "$linux_status" -ne 0 ] || [ "$asan_status" -ne 0 ] || [ "$fuzz_status" -ne 0 ] ||
   [ "$packages_status" -ne 0 ]; then
  echo "FAILED: mingw ctest exit $mingw_status, linux ctest exit $linux_status," \
       "linux-asan ctest exit $asan_status, fuzzing exit $fuzz_status, packages exit $packages_status"
  status=1
fi
echo "fuzzing: $(grep -c ': passed$' "$logs/fuzz.txt") targets passed, $(grep -c ': FAILED' "$logs/fuzz.txt") failed"
packaged="$(grep -E '^packaging: ' "$logs/packages.txt" | tail -1)"
if [ -n "$packaged" ]; then
  echo "packages: ${packaged#packaging: } checks; lintian: $(grep -c '^W: ' "$logs/packages.txt") warnings"
else
  echo "packages: not built"
fi
echo "linux-asan: $(summary "$logs/linux-asan.txt")"
echo "mingw: $(summary "$logs/mingw.txt")"
echo "linux: $(summary "$logs/linux.txt")"
exit "$status"
