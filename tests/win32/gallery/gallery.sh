#!/usr/bin/env bash
# Takes the README's screenshots of Lumavert.exe's windows (docs/manager-*.png) under Xvfb: the
# tray menu, the status popup, the device list, the About box and the help window, each drawn
# by Gallery.exe with sample data (the main dialog and the access-code prompt it draws too are
# not saved: session_shot.sh takes them from a real session).
# Needs xvfb (not used by CI). Usage: tests/win32/gallery/gallery.sh [BUILD_WIN_DIR] [DOCS_DIR]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$source_dir/build-win}
docs=${2:-$source_dir/docs}
work=$(mktemp -d /tmp/lumavert-gallery.$$.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix HOME=$work/home WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:$((90 + $$ % 100))
mkdir -p "$HOME" "$work/shots"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
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
# A virtual desktop drawn by Wine itself (there is no window manager), with its taskbar.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wineserver -w
wine "$build/tests/Gallery.exe" "$(win_path "$work/shots")" "$(win_path "$build/Lumavert.exe")" \
    "$(win_path "$build/Server.exe")" "$(win_path "$build/shellext/Tavomenu64.dll")" \
    >"$work/gallery.log" 2>&1 || { cat "$work/gallery.log"; exit 1; }
cat "$work/gallery.log"
# The main dialog and the access-code prompt come from a real session: session_shot.sh.
for shot in tray-menu status-popup device-list about help; do
    python3 "$source_dir/tests/win32/shellext/bmp_to_png.py" "$work/shots/$shot.bmp" \
        "$docs/manager-$shot.png"
    echo "wrote $docs/manager-$shot.png"
done
