#!/usr/bin/env bash
# Lumavert-Setup-<version>.exe under Wine, in a fresh prefix and a private network namespace:
# a silent install of an older build (without a firewall: netsh is disabled), the installed
# server answering libnfs, a silent upgrade over the running programs and a held extension DLL,
# the files, versions and registry in both views, CoCreateInstance of the installed class, a
# silent uninstall that leaves what was there before and the user's own files, and /D=.
# The manager goes with the build once it has one: then the Run value, the shortcut and the
# restart after the upgrade are checked too.
source "$(dirname "$0")/lib.sh"

command -v wine >/dev/null 2>&1 || skip "wine is not installed"
command -v makensis >/dev/null 2>&1 || skip "makensis missing (package nsis)"
command -v nfs-cat >/dev/null 2>&1 || skip "nfs-cat missing (package libnfs-utils)"
win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
version=$(sed -n 's/^project(Lumavert VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")
setup=$win_build/Lumavert-Setup-$version.exe
stage=$win_build/installer/stage
probe_exe=$win_build/tests/ServerProbe.exe
driver=$win_build/tests/TavomenuDriver.exe
for f in "$setup" "$stage/Server.exe" "$probe_exe" "$driver"; do
    [ -f "$f" ] || fail "$f is not built (cmake --build build-win --target installer)"
done
enter_private_network

work=$(mktemp -d /tmp/lumavert-installer.$$.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml="
# Wine links Documents to $HOME: the list folder goes inside the work folder.
export HOME=$work/home LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

equals() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }
probe() { wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }
have_manager=0
[ -f "$stage/Lumavert.exe" ] && have_manager=1

wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k || true
wineserver -w
started=$SECONDS

install_dir=$WINEPREFIX/drive_c/Program\ Files/Lumavert
install_win='C:\Program Files\Lumavert'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumavert'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
shortcut=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Lumavert.lnk

# What setup adds, one line each, "present" or "absent": the keys of the registration with
# their parents in both views, the Run value, the uninstall entry, the settings and the files.
# One cmd run: a Wine process per query would take most of the test's time.
snapshot_cmd=$work/snapshot.cmd
{
    echo '@echo off'
    query() { # query LABEL ARGS...
        echo "reg query $2 >nul 2>&1"
        echo "if errorlevel 1 echo absent $1"
        echo "if not errorlevel 1 echo present $1"
    }
    while read -r key; do
        [ -n "$key" ] || continue
        parent=$key
        while [ "$parent" != "${parent%\\*}" ]; do
            for view in 64 32; do
                query "$view $parent" "\"HKLM\\Software\\Classes\\$parent\" /reg:$view"
            done
            parent=${parent%\\*}
        done
    done <"$win_build/installer/registry-keys.txt"
    query "run-value" "\"$run_key\" /v Lumavert"
    query "uninstall-entry" "\"$uninstall_key\""
    query "settings" '"HKCU\SOFTWARE\Lumavert"'
} | sed 's/$/\r/' >"$snapshot_cmd"
snapshot() {
    wine cmd /c "Z:${snapshot_cmd//\//\\}" 2>/dev/null | tr -d '\r' | sort -u
    [ -e "$install_dir" ] && echo "present install folder" || echo "absent install folder"
    [ -e "$shortcut" ] && echo "present shortcut" || echo "absent shortcut"
}
reg_data() { # reg_data KEY NAME|"" VIEW: the value's data, or "none"
    local name=(/v "$2")
    [ -n "$2" ] || name=(/ve)
    local out
    out=$(wine reg query "$1" "${name[@]}" "/reg:$3" 2>"$work/reg.err" | tr -d '\r') || true
    awk -F'    ' '/REG_/ {print $NF; found=1} END {if (!found) print "none"}' <<<"$out"
    # Why, when it is not there.
    grep -q REG_ <<<"$out" || sed 's/^/  reg: /' "$work/reg.err" >&2
}
wait_windows() { # wait_windows CLASS TITLE COUNT SECONDS
    local end=$((SECONDS + $4))
    while [ $SECONDS -lt $end ]; do
        [ "$(probe windows "$1" "$2")" = "$3" ] && return 0
        sleep 0.5
    done
    echo "  windows \"$2\": $(probe windows "$1" "$2"), expected $3"
    return 1
}
server_windows() { wait_windows TApplication "Lumavert Server" "$1" "$2"; }
manager_windows() { wait_windows '#32770' Lumavert "$1" "$2"; }
log_says() { grep -qF -- "$1" "$install_dir/Setup.log" || { echo "  Setup.log lacks: $1"; return 1; }; }

before=$(snapshot)
# (Wine's registry has some parents already.)
check "nothing of Lumavert before" equals \
    "$(grep -E '^present (.*Lumavert|.*CLSID.*|run-value|uninstall-entry|settings|install folder|shortcut)$' <<<"$before")" ""

# An older build of the same files, installed where no firewall answers.
makensis -V1 -DVERSION=0.9.0 "-DSTAGE=$stage" "-DGENERATED=$win_build/installer" \
    "-DSOURCE=$SOURCE" "-DOUTFILE=$work/Lumavert-Setup-0.9.0.exe" \
    $([ $have_manager = 1 ] && echo -DHAVE_MANAGER) "$SOURCE/installer/Lumavert.nsi" >"$work/makensis.txt" 2>&1 ||
    { cat "$work/makensis.txt"; fail "makensis of the older build failed"; }
check "older setup runs silently without netsh" \
    env WINEDLLOVERRIDES="$WINEDLLOVERRIDES;netsh.exe=d" wine "$work/Lumavert-Setup-0.9.0.exe" /S
check "older version's uninstall entry" equals "$(reg_data "$uninstall_key" DisplayVersion 64)" 0.9.0
check "the log names the firewall failure" log_says 'Firewall: add rule "Lumavert Server (TCP)": failed'
check "setup went on to the end" log_says "Setup finished."

# The programs run: the manager from the Run value, which starts the server; without a
# manager, the installed server itself. Either answers libnfs.
mkdir -p "$HOME/Lumavert"
echo "mine" >"$HOME/Lumavert/mine.txt"
if [ $have_manager = 1 ]; then
    run_command=$(reg_data "$run_key" Lumavert 64)
    check "Run value names the installed manager" equals "$run_command" "\"$install_win\\Lumavert.exe\""
    wine "${run_command//\"/}" >/dev/null 2>&1 &
    check "the manager runs" manager_windows 1 30
else
    wine "$install_win\\Server.exe" >/dev/null 2>&1 &
fi
check "the installed server runs" server_windows 1 30
check "Server.exe listens on 2049" wait_for_port 2049 30
check "libnfs reads from the installed server" \
    equals "$(timeout 30 nfs-cat nfs://127.0.0.1//mine.txt 2>/dev/null)" "mine"
printf 'old' >>"$install_dir/Tavomenu64.dll" # so that the upgrade shows it replaced the file

# The upgrade, over the running programs and a process that holds the extension, as Explorer.
wine "$driver" --create 20 >"$work/holder.txt" 2>&1 &
holder=$!
holds() { for _ in $(seq 1 40); do grep -q Tavomenu64 "$work/holder.txt" && return 0; sleep 0.5; done; return 1; }
check "a process holds the installed Tavomenu64.dll" holds
check "setup runs silently over the running install" wine "$setup" /S
check "the held DLL was renamed aside" log_says "Tavomenu64.dll is in use"
wait "$holder" || true
check "the uninstall entry has the new version" equals "$(reg_data "$uninstall_key" DisplayVersion 64)" "$version"
if [ $have_manager = 1 ]; then
    # (The server may go with the manager, before setup asks it.)
    check "the log tells the manager was ended" log_says "Lumavert.exe ended."
    check "one manager after the upgrade" manager_windows 1 30
    check "one server after the upgrade" server_windows 1 30
else
    check "the log tells the server was ended" log_says "Server.exe ended."
    check "no server left running" server_windows 0 5
fi

installed_files() { (cd "$install_dir" && ls | sort | tr '\n' ' '); }
expected_files=$( (ls "$stage"; echo Setup.log; echo Uninstall.exe; echo Tavomenu64.dll.old) |
    sort | tr '\n' ' ')
check "the installed files" equals "$(installed_files)" "$expected_files"
for file in "$stage"/*; do
    name=$(basename "$file")
    check "$name as built" cmp "$file" "$install_dir/$name"
    case "$name" in
    *.exe | *.dll)
        check "$name has version $version" equals \
            "$(probe version "$install_win\\$name" | sed -n 's/^FileVersion=//p')" "$version.0" ;;
    esac
done
check "the setup file has version $version" equals \
    "$(probe version "Z:${setup//\//\\}" | sed -n 's/^FileVersion=//p')" "$version.0"

clsid_key='HKLM\Software\Classes\CLSID\{815A89D0-4685-4588-B1F0-D33CAB66B63E}\InprocServer32'
check "64-bit view: the class is Tavomenu64.dll" \
    equals "$(reg_data "$clsid_key" "" 64)" "$install_win\\Tavomenu64.dll"
check "32-bit view: the class is Tavomenu.dll" \
    equals "$(reg_data "$clsid_key" "" 32)" "$install_win\\Tavomenu.dll"
check "apartment-threaded in both views" equals \
    "$(reg_data "$clsid_key" ThreadingModel 64) $(reg_data "$clsid_key" ThreadingModel 32)" \
    "Apartment Apartment"
installed=$(snapshot)
missing=$(grep -v -e '^present' -e 'settings$' <<<"$installed" |
    grep -v -e "run-value" -e "shortcut" || true)
check "every key in both views, the entry and the folder" equals "$missing" ""
check "Run value and shortcut only with the manager" equals \
    "$(grep -c -e '^present run-value' -e '^present shortcut' <<<"$installed")" $((2 * have_manager))
check "the uninstall entry's command" \
    equals "$(reg_data "$uninstall_key" UninstallString 64)" "\"$install_win\\Uninstall.exe\""
check "the uninstall entry has a size" test "$(reg_data "$uninstall_key" EstimatedSize 64)" != none
check "CoCreateInstance gives the installed DLL's handler" \
    equals "$(wine "$driver" --create 2>/dev/null | tr -d '\r')" "$install_win\\Tavomenu64.dll"

# The silent uninstall ends the running programs and takes back all it added; the user's
# settings and files stay.
probe reg-set-sz Root 'C:\users' >/dev/null
if [ $have_manager = 0 ]; then
    wine "$install_win\\Server.exe" >/dev/null 2>&1 &
    server_windows 1 30 || true
fi
check "silent uninstall" wine "$install_win\\Uninstall.exe" /S
# The uninstaller runs from a copy in the temporary folder: wait for the prefix's processes.
check "uninstall ended every program" timeout 60 wineserver -w
after=$(snapshot)
check "the same as before, but for the settings" \
    equals "$(grep -v 'settings$' <<<"$after")" "$(grep -v 'settings$' <<<"$before")"
check "the user's settings stay" grep -qx "present settings" <<<"$after"
check "the user's files stay" test -f "$HOME/Lumavert/mine.txt"

# /D= picks another folder (NSIS takes it unquoted, so without spaces here).
check "silent install with /D=" wine "$setup" /S '/D=C:\Apps\Lumavert'
other=$WINEPREFIX/drive_c/Apps/Lumavert
check "installed into the chosen folder" test -f "$other/Server.exe"
check "the entry names it" equals "$(reg_data "$uninstall_key" InstallLocation 64)" 'C:\Apps\Lumavert'
check "nothing in Program Files" test ! -e "$install_dir"
wine 'C:\Apps\Lumavert\Uninstall.exe' /S
timeout 60 wineserver -w || true
check "uninstalled from there too" test ! -e "$other"

echo "scenario took $((SECONDS - started)) s"
check_summary
