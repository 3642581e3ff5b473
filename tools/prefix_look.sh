#!/usr/bin/env bash
# Gives a fresh Wine prefix the look of Windows 95 and NT 4.0: their standard
# colour scheme (tools/standard_scheme.reg, with Wine's own theme switched
# off) and the Marlett font, with which the system draws the caption buttons
# (without it they show as the letters "0 1 r").
#
# Why Wine misses Marlett here: Wine loads its own fonts from the folder
# "fonts" beside its data folder as it was built, and every font in the
# prefix's windows\Fonts. Debian's Wine 8 is built to look in
# <data folder>/../fonts, that is /usr/share/fonts, which holds only
# subfolders, while Debian's fonts-wine package installs Wine's fonts in
# /usr/share/wine/fonts, a folder that neither Wine nor fontconfig searches.
# So the prefix gets its own copy of marlett.ttf in windows\Fonts, where
# Wine finds it in every later session.
#
#   prefix_look.sh        (WINEPREFIX and WINEARCH set; the prefix made by
#                          wineboot, its wineserver free to start)
# Exits non-zero when either step fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
fonts="$WINEPREFIX/drive_c/windows/Fonts"
marlett=""
for dir in /usr/share/wine/fonts /usr/share/fonts/truetype/wine \
  /usr/local/share/wine/fonts; do
  if [ -f "$dir/marlett.ttf" ]; then
    marlett="$dir/marlett.ttf"
    break
  fi
done
if [ -z "$marlett" ]; then
  echo "prefix_look.sh: marlett.ttf not found (Debian's fonts-wine ships it)" >&2
  exit 1
fi
mkdir -p "$fonts"
cp "$marlett" "$fonts/marlett.ttf"
cp "$root/tools/standard_scheme.reg" "$WINEPREFIX/drive_c/standard_scheme.reg"
status=0
wine reg import 'C:\standard_scheme.reg' >/dev/null 2>&1 || status=$?
rm -f "$WINEPREFIX/drive_c/standard_scheme.reg"
if [ "$status" != 0 ]; then
  echo "prefix_look.sh: wine reg import of the colour scheme ended with $status" >&2
  exit 1
fi
