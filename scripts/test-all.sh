#!/usr/bin/env bash
# Builds both targets and runs every test: the Windows unit tests under Wine, then the native
# unit tests and the end-to-end tests against the native program and the .exe under Wine, the
# packages (built, checked, and the .deb installed and removed), the native suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets.
# Needs the build tools installed (.ci/run installs them on a fresh Debian machine).
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
logs="$repo/build/test-logs"

step() { printf '\n=== %s\n' "$*"; }

# Every C++ source as .clang-format lays it out (clang-format 14, Debian 12's).
step "Format"
mkdir -p "$logs"
git ls-files '*.cpp' '*.h' '*.inc' | xargs clang-format --style=file --dry-run --Werror 2>&1 | tee "$logs/format.txt"
format_status=${PIPESTATUS[1]}
[ "$format_status" -eq 0 ] && echo "every source is formatted"

# One Wine prefix for every Windows test, created here before tests start side by side.
step "Wine prefix"
source "$repo/tests/wine/wine-env.sh"
zq_wine_prefix
wine cmd /c exit >/dev/null 2>&1 || true

# The workflow presets, in this order: the linux preset's e2e tests run the mingw build's .exe.
mkdir -p "$logs"
step "Workflow mingw: build the .exe, unit tests under Wine"
cmake --workflow --preset mingw 2>&1 | tee "$logs/mingw.txt"
mingw_status=${PIPESTATUS[0]}

step "Workflow linux: build, unit tests, e2e native and of the .exe under Wine, memcheck"
cmake --workflow --preset linux 2>&1 | tee "$logs/linux.txt"
linux_status=${PIPESTATUS[0]}

# --- Packages (one step; scripts/package.sh and scripts/check-packages.sh hold the details) ---
step "Packages: build the .deb and the ZIP, check their contents, lintian, install and remove"
{ bash "$repo/scripts/package.sh" && bash "$repo/scripts/check-packages.sh"; } 2>&1 | tee "$logs/packages.txt"
packages_status=${PIPESTATUS[0]}

# CI's clone has a prefix of its own: stop its server so that nothing outlives the run.
if [ "${CI:-}" = true ]; then wineserver -k >/dev/null 2>&1 || true; fi

# The native suite again, unit and e2e, built with AddressSanitizer and UndefinedBehaviorSanitizer.
step "Workflow linux-asan: the native suite under the sanitizers"
cmake --workflow --preset linux-asan 2>&1 | tee "$logs/linux-asan.txt"
asan_status=${PIPESTATUS[0]}

step "Fuzzing: every target for a bounded time (clang, libFuzzer)"
bash "$repo/scripts/fuzz.sh" "${ZQ_FUZZ_SECONDS:-10}" 2>&1 | tee "$logs/fuzz.txt"
fuzz_status=${PIPESTATUS[0]}

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -1 || echo "no summary"; }
step "Summary"
status=0
if [ "$mingw_status" -ne 0 ] || [ "$linux_status" -ne 0 ] || [ "$asan_status" -ne 0 ] || [ "$fuzz_status" -ne 0 ] ||
   [ "$packages_status" -ne 0 ] || [ "$format_status" -ne 0 ]; then
  echo "FAILED: mingw ctest exit $mingw_status, linux ctest exit $linux_status," \
       "linux-asan ctest exit $asan_status, fuzzing exit $fuzz_status, packages exit $packages_status," \
       "format exit $format_status"
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
