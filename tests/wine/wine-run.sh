#!/usr/bin/env bash
# Runs a Windows test program under Wine in the project's own prefix (created on first use).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
zq_wine_prefix
exec wine "$@"
