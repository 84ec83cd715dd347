#!/usr/bin/env bash
# Builds and runs every test: the native core, the same core under the sanitizers,
# and the Windows build (unit tests and the program's own tests under Wine).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
status=0
for preset in native sanitize windows; do
  echo "== $preset =="
  if ! cmake --workflow --preset "$preset"; then
    echo "== $preset: FAILED ==" >&2
    status=1
  fi
done
exit $status
