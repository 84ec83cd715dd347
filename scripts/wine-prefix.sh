#!/usr/bin/env bash
# Sourced by the Wine helpers: exports a private, quiet Wine prefix and makes it on first use.
# WINEPREFIX may be set by the caller; the default lives in the build tree.
: "${WINEPREFIX:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Builds the prefix once, with the settings the program's looks need under Wine 8:
# - the two fonts the chart asks for, mapped onto installed ones;
# - Chinese glyphs for the standard UI fonts, so menus and column titles are not empty boxes;
# - Direct3D through Vulkan when a Vulkan driver is installed: with the OpenGL renderer, what
#   Direct2D presents into a child window (the chart pane) never reaches the screen.
tessivo_wine_prefix_ready() {
  local marker="$WINEPREFIX/.tessivo-ready-2"
  [ -f "$marker" ] && return 0
  mkdir -p "$WINEPREFIX"
  (
    # Several runs may start at once: only one of them builds the prefix.
    flock 9
    if [ ! -f "$marker" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei UI' /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Consolas' /t REG_SZ /d 'WenQuanYi Micro Hei Mono' /f >/dev/null 2>&1
      local font
      for font in 'Tahoma' 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif' 'Segoe UI'; do
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$font" \
          /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
      done
      if compgen -G '/usr/share/vulkan/icd.d/*.json' >/dev/null || compgen -G '/etc/vulkan/icd.d/*.json' >/dev/null; then
        wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /t REG_SZ /d vulkan /f >/dev/null 2>&1
      else
        echo "wine-prefix: no Vulkan driver (Debian: mesa-vulkan-drivers); the chart pane may stay blank" >&2
      fi
      wineserver -w
      touch "$marker"
    fi
  ) 9>"$WINEPREFIX.lock"
}
