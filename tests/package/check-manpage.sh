#!/bin/sh
# The manual page must render without a single warning, with groff's checks all on and as
# man-db renders it for a terminal.
# Usage: check-manpage.sh <page>
page="$1"
command -v groff >/dev/null 2>&1 || { echo "groff is not installed"; exit 1; }
status=0
out="$(groff -man -ww -z "$page" 2>&1)" || status=1
[ -z "$out" ] || { printf 'groff -man -ww:\n%s\n' "$out"; status=1; }
if command -v man >/dev/null 2>&1; then
  out="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" || status=1
  [ -z "$out" ] || { printf 'man --warnings:\n%s\n' "$out"; status=1; }
fi
[ "$status" -eq 0 ] && echo "$page renders without warnings"
exit "$status"
