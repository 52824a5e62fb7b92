# Sourced by the Wine runners: one quiet prefix per checkout, created once and kept warm.
: "${WINEPREFIX:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/wineprefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

zq_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
  fi
  # A persistent server saves the start-up cost of every run.
  wineserver -p >/dev/null 2>&1 || true
}
