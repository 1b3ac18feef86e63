#!/usr/bin/env bash
# Takes docs/context-menu.png: the handler's item in an Explorer-like menu, shown by the driver
# with TrackPopupMenu under Xvfb while a manager stand-in runs (so the item is enabled).
# Usage: tests/win32/shellext/menu_screenshot.sh [BUILD_WIN_DIR] [OUTPUT.png]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$source_dir/build-win}
output=${2:-$source_dir/docs/context-menu.png}
work=$(mktemp -d /tmp/lumavert-menu-shot.$$.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix HOME=$work/home WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:$((90 + $$ % 100))
mkdir -p "$HOME" "$work/media"
Xvfb "$DISPLAY" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
win_path() { printf 'Z:%s' "${1//\//\\}"; }
sleep 1
wineboot -i >/dev/null 2>&1
# A virtual desktop drawn by Wine itself: there is no window manager.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f >/dev/null 2>&1
wineserver -w
echo x > "$work/media/Holiday.mkv"
echo x > "$work/media/Song.mp3"
export LUMAVERT_TAVOMENU64=$(win_path "$build/shellext/Tavomenu64.dll")
export LUMAVERT_STANDIN=$(win_path "$build/tests/ManagerStandIn.exe")
export LUMAVERT_WORK=$(win_path "$work")
wine "$build/tests/ManagerStandIn.exe" "$(win_path "$work/standin.bin")" >/dev/null 2>&1 &
sleep 3
wine "$build/tests/TavomenuDriver.exe" --show-menu "$(win_path "$work/menu.bmp")" \
    "$(win_path "$work/media/Holiday.mkv")" "$(win_path "$work/media/Song.mp3")" >/dev/null 2>&1
python3 "$(dirname "$0")/bmp_to_png.py" "$work/menu.bmp" "$output"
echo "wrote $output"
