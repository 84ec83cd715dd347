#!/usr/bin/env bash
# Runs one Windows executable under Wine in the project's prefix; used as CMake's
# cross-compiling emulator, so CTest runs the Windows test binaries through it.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-prefix.sh
. "$here/wine-prefix.sh"
tessivo_wine_prefix_ready
exec wine "$@"
