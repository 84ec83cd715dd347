#!/usr/bin/env bash
# Sourced by the Wine helpers: exports a private, quiet Wine prefix and makes it on first use.
# WINEPREFIX may be set by the caller; the default lives in the build tree.
: "${WINEPREFIX:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

tessivo_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.tessivo-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  (
    # Several tests may start at once: only one of them builds the prefix.
    flock 9
    if [ ! -f "$WINEPREFIX/.tessivo-ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      # Wine has neither of the fonts the chart asks for; map them onto installed ones.
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei UI' /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Consolas' /t REG_SZ /d 'WenQuanYi Micro Hei Mono' /f >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.tessivo-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
