#!/usr/bin/env bash
# Runs one command inside a private headless X server (no window manager, no notification
# area) and returns its result; the server is stopped whatever happens.
# Usage: with_xvfb.sh <command> [arguments...]
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../scripts/xvfb.sh
. "$repo/scripts/xvfb.sh"
work=$(mktemp -d)
trap 'tessivo_stop_xvfb; rm -rf "$work"' EXIT
tessivo_start_xvfb "$work" || exit 1
"$@"
