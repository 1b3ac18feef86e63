#!/usr/bin/env bash
# Takes docs/server-settings.png: Server.exe's settings form under Xvfb, shown through
# "DEBUG To NFS Server" by ServerProbe. Needs xvfb, imagemagick and x11-utils (not used by CI).
# Usage: tests/win32/server_probe/settings_screenshot.sh [BUILD_WIN_DIR] [OUTPUT.png]
set -euo pipefail
if [ -z "${LUMAVERT_SCREENSHOT_IN_NETNS:-}" ]; then
    export LUMAVERT_SCREENSHOT_IN_NETNS=1
    exec unshare -n bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi
source_dir=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$source_dir/build-win}
output=${2:-$source_dir/docs/server-settings.png}
work=$(mktemp -d /tmp/lumavert-screenshot.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix HOME=$work/home WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:77
mkdir -p "$HOME"
Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
sleep 1
wineboot -i >/dev/null 2>&1
# A virtual desktop with frames drawn by Wine itself: there is no window manager.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wineserver -w
probe=$build/tests/ServerProbe.exe
wine "$build/Server.exe" >/dev/null 2>&1 &
wine "$probe" wait-app 30
wine "$probe" debug 0 1
wine "$probe" wait-form 10 shown
sleep 3
geometry=$(xwininfo -name "Server Settings" |
    awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
         /Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h "+" x "+" y}')
import -window root -crop "$geometry" +repage -strip "$output"
wine "$probe" close
echo "wrote $output ($geometry)"
