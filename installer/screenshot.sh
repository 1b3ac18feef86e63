#!/usr/bin/env bash
# Takes docs/installer.png: the setup's first page under Xvfb, as a user sees it (the window
# with a margin of the desktop; Wine places it at the same spot each time).
# Usage: installer/screenshot.sh [BUILD_WIN_DIR] [OUTPUT.png]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build-win}
output=${2:-$source_dir/docs/installer.png}
version=$(sed -n 's/^project(Lumavert VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
setup=$build/Lumavert-Setup-$version.exe
[ -f "$setup" ] || { echo "$setup is not built" >&2; exit 1; }
work=$(mktemp -d /tmp/lumavert-setup-shot.$$.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix HOME=$work/home WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:$((190 + $$ % 100))
mkdir -p "$HOME"
# A desktop a little larger than the setup window, which Wine centres on it.
width=640 height=480
Xvfb "$DISPLAY" -screen 0 ${width}x${height}x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
setup_pid=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
sleep 1
wineboot -i >/dev/null 2>&1
# A virtual desktop drawn by Wine itself: there is no window manager.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d ${width}x${height} /f >/dev/null 2>&1
wineserver -w
wine "$setup" >/dev/null 2>&1 &
sleep 8
ffmpeg -nostdin -v error -y -f x11grab -draw_mouse 0 -video_size ${width}x${height} -i "$DISPLAY" \
    -frames:v 1 -vf crop=600:400:20:40 "$output"
echo "wrote $output"
