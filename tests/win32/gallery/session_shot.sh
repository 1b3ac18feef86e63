#!/usr/bin/env bash
# Screenshots of a real session under Xvfb (not used by CI): Lumavert.exe, Server.exe and
# Tavomenu64.dll on the PC of tests/scenarios/pc_lan.sh, one simulated player asking for an
# access code. Saves the access-code prompt as the player asks (docs/manager-access-code.png)
# and the main dialog, shown by "Debug To Manager AP", once the file plays
# (docs/manager-main-dialog.png).
# Usage (root): tests/win32/gallery/session_shot.sh [BUILD_WIN_DIR] [DOCS_DIR]
set -euo pipefail
source "$(dirname "$0")/../../scenarios/lib.sh"
win_build=${1:-$SOURCE/build-win}
docs=${2:-$SOURCE/docs}
PLAYER=${LUMAVERT_PLAYER:-$SOURCE/build/player/kestro-player}
export DISPLAY=:$((90 + $$ % 100)) PC_LAN_DISPLAY=1
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
source "$SOURCE/tests/scenarios/pc_lan.sh"
trap 'cleanup; kill "$xvfb_pid" 2>/dev/null || true' EXIT

share="$work/Vidéos"
mkdir -p "$share"
head -c $((4 << 20)) /dev/urandom >"$share/Vacances 2026.mkv"
head -c 100000 /dev/urandom >"$share/Plage.jpg"
start_manager
start_player a "$ns_a" --name "Salon" --access-code 2026
right_click "$share/Vacances 2026.mkv" "$share/Plage.jpg"
probe popup 30 >/dev/null # waits for the prompt
sleep 1
pc wine "$win_build/tests/ManagerProbe.exe" shot "$(win_path "$work/code.bmp")" popup \
    >/dev/null 2>&1
probe pin-code 5 2026 >/dev/null
await "$a_log" '"event":"file_first_data"' 40
say a "assignname Vacances 2026.mkv"
say a "playstatus 0"
sleep 1
probe send "Debug To Manager AP" 0 1 >/dev/null
sleep 1
pc wine "$win_build/tests/ManagerProbe.exe" shot "$(win_path "$work/main.bmp")" >/dev/null 2>&1
for shot in code:access-code main:main-dialog; do
    python3 "$SOURCE/tests/win32/shellext/bmp_to_png.py" "$work/${shot%%:*}.bmp" \
        "$docs/manager-${shot#*:}.png"
    echo "wrote $docs/manager-${shot#*:}.png"
done
