#!/usr/bin/env bash
# Checks the packages that scripts/package.sh made in build/packages/:
#  - the Debian package holds exactly the expected files, with their owners and modes, stripped
#    binaries, a gzip-compressed manual page, and dependencies read from the binaries;
#  - lintian finds no error in it;
#  - as root: it installs with dpkg -i, Zq-ReadUtility and zq-nightly on the PATH report the
#    project's version, man finds both pages, and dpkg -r and --purge remove it again;
#  - the ZIP holds exactly the two .exe's and their documents, and the program's .exe carries
#    the project's version in its version resource (read under Wine).
# Ends with "packaging: N passed, M failed"; the exit code is 1 when a check failed.
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
packages="$repo/build/packages"
passed=0
failed=0
# Runs a command quietly; its output is shown when it fails.
quiet() { local out; out="$("$@" 2>&1)" || { printf '%s\n' "$out"; return 1; }; }
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
check() { local what="$1"; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
finish() { echo "packaging: $passed passed, $failed failed"; [ "$failed" -eq 0 ]; exit $?; }

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$repo/build/linux/CMakeCache.txt"; }
version="$(cache_value CMAKE_PROJECT_VERSION)"
revision="$(cache_value ZQ_DEBIAN_REVISION)"
[ -n "$version" ] && [ -n "$revision" ] || { fail "project version read from build/linux/CMakeCache.txt"; finish; }
deb="$packages/zq-readutility_${version}-${revision}_$(dpkg --print-architecture).deb"
zip="$packages/Zq-ReadUtility-${version}-win64.zip"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# --- Debian package ---------------------------------------------------------------------------
if [ ! -f "$deb" ]; then
  fail "Debian package $deb exists"
else
  # Mode, owner and path of every entry but the archive's root.
  dpkg-deb -c "$deb" | awk '{ sub(/ -> .*/, ""); if ($NF != "./") print $1, $2, $NF }' | sort -k3 >"$scratch/deb-actual"
  sort -k3 >"$scratch/deb-expected" <<'LIST'
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/Zq-ReadUtility
-rwxr-xr-x root/root ./usr/bin/Zq-TerminalSimulator
-rwxr-xr-x root/root ./usr/bin/zq-nightly
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/zq-readutility/
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/README.md
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/copyright
drwxr-xr-x root/root ./usr/share/doc/zq-readutility/examples/
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/examples/99-zq-serial.rules
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/examples/terminals.example
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/examples/zq-nightly.service
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/examples/zq-nightly.timer
-rw-r--r-- root/root ./usr/share/doc/zq-readutility/operations.md
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/Zq-ReadUtility.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/zq-nightly.1.gz
LIST
  check "Debian package holds exactly the expected files, owners and modes" \
    diff -u "$scratch/deb-expected" "$scratch/deb-actual"

  dpkg-deb -x "$deb" "$scratch/deb"
  for program in Zq-ReadUtility zq-nightly Zq-TerminalSimulator; do
    check "$program is a stripped ELF executable" \
      sh -c 'file -b "$1" | grep -q "ELF.*, stripped"' sh "$scratch/deb/usr/bin/$program"
  done
  for page in Zq-ReadUtility zq-nightly; do
    check "manual page $page(1) is gzip-compressed" gzip -t "$scratch/deb/usr/share/man/man1/$page.1.gz"
  done
  check "Depends names the C library, read from the binaries" \
    sh -c 'dpkg-deb -f "$1" Depends | grep -q "libc6 (>= "' sh "$deb"

  if command -v lintian >/dev/null 2>&1; then
    # Warnings are shown; errors fail.
    check "lintian finds no error" lintian --fail-on error "$deb"
  else
    fail "lintian is installed"
  fi

  if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the Debian package (needs root)"
  elif dpkg-query -W -f='${db:Status-Status}' zq-readutility 2>/dev/null | grep -qx installed; then
    fail "zq-readutility is not installed before the check (remove it: dpkg -r zq-readutility)"
  else
    # Minimal Debian images drop manual pages and documents at install time (path-exclude in
    # /etc/dpkg/dpkg.cfg.d/); this package's own are let through, so that they can be checked.
    grep -hs '^path-exclude' /etc/dpkg/dpkg.cfg.d/* | sed 's/^/note: dpkg configuration: /'
    if quiet dpkg --path-include='/usr/share/man/man1/Zq-ReadUtility.1.gz' \
             --path-include='/usr/share/man/man1/zq-nightly.1.gz' \
             --path-include='/usr/share/doc/zq-readutility/*' -i "$deb"; then
      pass "dpkg -i installs the package"
      check "every file of the package is on disk" \
        sh -c 'dpkg -L zq-readutility | while read -r f; do [ -e "$f" ] || { echo "missing: $f"; exit 1; }; done'
      check "Zq-ReadUtility on the PATH is /usr/bin/Zq-ReadUtility" \
        test "$(command -v Zq-ReadUtility)" = /usr/bin/Zq-ReadUtility
      reported="$(Zq-ReadUtility --version 2>&1)"
      check "Zq-ReadUtility --version reports $version (got: $reported)" \
        test "$reported" = "Zq-ReadUtility $version"
      reported="$(zq-nightly --version 2>&1)"
      check "zq-nightly on the PATH reports $version (got: $reported)" test "$reported" = "zq-nightly $version"
      check "Zq-TerminalSimulator --help runs" sh -c 'Zq-TerminalSimulator --help >/dev/null'
      for name in Zq-ReadUtility zq-nightly; do
        page="$(man -w "$name" 2>&1)"
        check "man -w $name finds the page (got: $page)" test "$page" = "/usr/share/man/man1/$name.1.gz"
      done
    else
      fail "dpkg -i installs the package"
    fi
    check "dpkg -r removes the package" quiet dpkg -r zq-readutility
    check "no program or document is left after dpkg -r" \
      sh -c '! ls -d /usr/bin/Zq-ReadUtility /usr/bin/Zq-TerminalSimulator /usr/bin/zq-nightly \
                    /usr/share/man/man1/Zq-ReadUtility.1.gz /usr/share/man/man1/zq-nightly.1.gz \
                    /usr/share/doc/zq-readutility 2>/dev/null'
    check "dpkg --purge forgets the package" quiet dpkg --purge zq-readutility
    check "dpkg no longer knows the package" \
      sh -c '! dpkg-query -W -f="\${db:Status-Status}\n" zq-readutility 2>/dev/null | grep -qv "^not-installed$"'
  fi
fi

# --- Windows ZIP ------------------------------------------------------------------------------
if [ ! -f "$zip" ]; then
  fail "Windows ZIP $zip exists"
else
  check "ZIP holds exactly the two .exe's, the example terminals file, README.md and docs/operations.md, flat" \
    python3 - "$zip" <<'PY'
import sys, zipfile
zip_path = sys.argv[1]
expected = {"Zq-ReadUtility.exe", "zq-nightly.exe", "terminals.example", "README.md", "docs/", "docs/operations.md"}
actual = set(zipfile.ZipFile(zip_path).namelist())
for name in sorted(actual - expected): print("unexpected:", name)
for name in sorted(expected - actual): print("missing:", name)
sys.exit(actual != expected)
PY
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$scratch/zip"
  exe="$scratch/zip/Zq-ReadUtility.exe"
  resource_check="$repo/build/mingw/tests/package/VersionResourceCheck.exe"
  # Stripping must leave the resource in place: Windows' own version API reads it, under Wine.
  if command -v wine >/dev/null 2>&1 && [ -f "$resource_check" ]; then
    check "the ZIP's .exe carries the version resource of $version" \
      "$repo/tests/wine/wine-run.sh" "$resource_check" "$exe" "$version"
  else
    fail "Wine and build/mingw/tests/package/VersionResourceCheck.exe are there to read the ZIP's .exe"
  fi
  # The operations guide's Task Scheduler recipe, as far as Wine runs it: a first night from C:\Zq.
  simulator="$repo/build/linux/tools/simulator/Zq-TerminalSimulator"
  if command -v wine >/dev/null 2>&1 && [ -x "$simulator" ]; then
    check "the Windows recipe run as written under Wine writes the first night's report and log" \
      env WINEPREFIX="${WINEPREFIX:-$repo/build/wineprefix}" python3 "$repo/tests/package/windows_recipe.py" "$zip" "$simulator"
  else
    fail "Wine and the simulator (build/linux) are there to run the Windows recipe"
  fi
fi

finish
