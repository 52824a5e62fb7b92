#!/usr/bin/env bash
# Builds the packages from this tree: the Windows ZIP from the mingw preset and the Debian
# package from the linux preset (configure, build, cpack: the CMake workflow presets
# package-mingw and package-linux), and prints their paths. They land in build/packages/.
# Needs the build tools, and dpkg-dev for the Debian package's dependencies (.ci/run installs
# them).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
packages="$repo/build/packages"
# Two cores are shared: the workflow's build steps take their parallelism from here.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

# Only this run's packages are listed at the end, whatever an earlier version left there.
rm -f "$packages"/zq-readutility_*.deb "$packages"/Zq-ReadUtility-*-win64.zip

cmake --workflow --preset package-mingw
cmake --workflow --preset package-linux

printf '\nPackages:\n'
ls -1 "$packages"/zq-readutility_*.deb "$packages"/Zq-ReadUtility-*-win64.zip
