#!/usr/bin/env bash
# Tavomenu64.dll and Tavomenu.dll: both DLLs checked with objdump (PE kind, exactly the two
# undecorated exports, only system imports), register.cmd and unregister.cmd under Wine, then
# the driver's tests: a 64-bit program playing Explorer on an STA thread, with the manager
# stand-in in another process, in a fresh prefix (the 32-bit DLL is read as a data file only:
# there is no 32-bit Wine here), hostile selections among them. Then Server.exe serves a
# hand-off's list to a real NFS client. Last, the list folder on a small and on a read-only
# tmpfs, each in a private mount namespace. In a private network namespace, for Server.exe's ports.
source "$(dirname "$0")/lib.sh"

command -v wine >/dev/null 2>&1 || skip "wine is not installed"
command -v nfs-cat >/dev/null 2>&1 || skip "nfs-cat missing (package libnfs-utils)"
enter_private_network
win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
win32_build=${LUMAVERT_WIN32_BUILD_DIR:-$SOURCE/build-win32}
dll64=$win_build/shellext/Tavomenu64.dll
dll32=$win32_build/shellext/Tavomenu.dll
driver=$win_build/tests/TavomenuDriver.exe
standin=$win_build/tests/ManagerStandIn.exe
server_exe=$win_build/Server.exe
for f in "$dll64" "$dll32" "$driver" "$standin" "$server_exe"; do
    [ -f "$f" ] || fail "$f is not built"
done

work=$(mktemp -d /tmp/lumavert-shellext.$$.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml="
# Wine links Documents to $HOME: the lists go inside the work folder.
export HOME=$work/home LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME" "$work/files" "$work/drive-m"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

win_path() { printf 'Z:%s' "${1//\//\\}"; }
equals() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }

# objdump: PE kind, the export names, the imported DLLs.
pe_kind() { objdump -p "$1" | awk '/^Magic/ {print $3}'; }
exports() { objdump -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $NF} on && !/^\t\[/ {on=0}' | tr '\n' ' '; }
only_system_imports() {
    local dll
    for dll in $(objdump -p "$1" | awk '/DLL Name:/ {print toupper($3)}'); do
        case "$dll" in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | OLE32.DLL | SHELL32.DLL | SHLWAPI.DLL | MSVCRT.DLL) ;;
        *) echo "  imports $dll"; return 1 ;;
        esac
    done
}
for dll in "$dll64" "$dll32"; do
    objdump -p "$dll" | grep -E 'Magic|DLL Name:' | sed "s|^|  $(basename "$dll"): |"
done
check "Tavomenu64.dll is PE32+" equals "$(pe_kind "$dll64")" "(PE32+)"
check "Tavomenu.dll is PE32" equals "$(pe_kind "$dll32")" "(PE32)"
check "Tavomenu64.dll exports exactly the two" equals "$(exports "$dll64")" "DllCanUnloadNow DllGetClassObject "
check "Tavomenu.dll exports exactly the two, undecorated" equals "$(exports "$dll32")" "DllCanUnloadNow DllGetClassObject "
check "Tavomenu64.dll imports only system DLLs" only_system_imports "$dll64"
check "Tavomenu.dll imports only system DLLs" only_system_imports "$dll32"

wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k || true
wineserver -w

# register.cmd and unregister.cmd, from a folder holding both DLLs (as installed).
install=$work/install
mkdir -p "$install"
cp "$dll64" "$dll32" "$win_build/shellext/register.cmd" "$win_build/shellext/unregister.cmd" "$install/"
clsid='{815A89D0-4685-4588-B1F0-D33CAB66B63E}'
key="HKCU\\Software\\Classes\\CLSID\\$clsid"
reg_value() { # reg_value KEY NAME|"" VIEW: the value's data, or "none"
    local out
    if [ -z "$2" ]; then
        out=$(wine reg query "$1" /ve "/reg:$3" 2>/dev/null | tr -d '\r') || { echo none; return; }
    else
        out=$(wine reg query "$1" /v "$2" "/reg:$3" 2>/dev/null | tr -d '\r') || { echo none; return; }
    fi
    printf '%s\n' "$out" | awk -F'    ' '/REG_SZ/ {print $NF; found=1} END {if (!found) print "none"}'
}
wine cmd /c "$(win_path "$install/register.cmd")" >"$work/register.txt" 2>&1
check "register.cmd reports success" grep -q "registered for" "$work/register.txt"
check "64-bit class points at Tavomenu64.dll beside the script" \
    equals "$(reg_value "$key\\InprocServer32" "" 64)" "$(win_path "$install/Tavomenu64.dll")"
check "64-bit class is apartment-threaded" \
    equals "$(reg_value "$key\\InprocServer32" ThreadingModel 64)" "Apartment"
check "handler for every file type" \
    equals "$(reg_value 'HKCU\Software\Classes\*\shellex\ContextMenuHandlers\Lumavert' "" 64)" "$clsid"
check "handler for folders" \
    equals "$(reg_value 'HKCU\Software\Classes\Directory\shellex\ContextMenuHandlers\Lumavert' "" 64)" "$clsid"
wine cmd /c "$(win_path "$install/unregister.cmd")" >/dev/null 2>&1
check "unregister.cmd removes the class" equals "$(reg_value "$key\\InprocServer32" "" 64)" "none"
check "unregister.cmd removes the 32-bit class" equals "$(reg_value "$key\\InprocServer32" "" 32)" "none"
check "unregister.cmd removes the file handler" \
    equals "$(reg_value 'HKCU\Software\Classes\*\shellex\ContextMenuHandlers\Lumavert' "" 64)" "none"

# Wine 8 ignores per-user classes: CoCreateInstance needs the class under HKCR.
wine reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /d "$(win_path "$dll64")" /f >/dev/null 2>&1
wine reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel /d Apartment /f >/dev/null 2>&1
# M: is a drive of the test's own, for selections in a drive root.
ln -sfn "$work/drive-m" "$WINEPREFIX/dosdevices/m:"

export LUMAVERT_TAVOMENU64=$(win_path "$dll64") LUMAVERT_TAVOMENU32=$(win_path "$dll32")
export LUMAVERT_STANDIN=$(win_path "$standin") LUMAVERT_WORK=$(win_path "$work/files")
# The 10,000 files of the largest selection.
mkdir -p "$work/files/many"
(cd "$work/files/many" && for i in $(seq -f %05g 0 2 9998); do
    : >"$i song.mp3"
    : >"$(printf %05d $((10#$i + 1))) clip.mkv"
done)
export LUMAVERT_VERSION=$(sed -n 's/^project(Lumavert VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")
set +e
timeout 300 wine "$driver" --gtest_brief=1 >"$work/driver.txt" 2>&1
status=$?
set -e
grep -a -v '^debug: ' "$work/driver.txt" | tr -d '\r' | sed 's/^/  /'
check "driver's tests under Wine" test "$status" = 0

# Server.exe exports the list folder as /lst. A hand-off's audio list reaches the player as
# written, and the next hand-off replaces it although the server has just read it.
selection=$work/selection
mkdir -p "$selection"
touch "$selection/a.mp3" "$selection/b.mp3" "$selection/c.ogg"
list=$HOME/Lumavert/AudioList.txt
hand_off() { wine "$driver" --hand-off "$@" >/dev/null 2>&1; }
read_list() { timeout 30 nfs-cat nfs://127.0.0.1/lst/AudioList.txt >"$1" 2>"$work/nfs-cat.err"; }
check "hand-off of a.mp3" hand_off "$(win_path "$selection/a.mp3")"
wine "$server_exe" >/dev/null 2>&1 &
check "Server.exe listens on 2049" wait_for_port 2049 60
list_image() { printf '\xff\xfe'; printf '%s\r\n' "$@" | iconv -f UTF-8 -t UTF-16LE; }
list_image a.mp3 >"$work/first.expected"
check "the list file holds a.mp3" cmp "$list" "$work/first.expected"
check "nfs-cat reads /lst/AudioList.txt" read_list "$work/first.out"
check "the list read over NFS is byte-identical" cmp "$work/first.out" "$list"
check "hand-off of b.mp3 and c.ogg" hand_off "$(win_path "$selection/b.mp3")" "$(win_path "$selection/c.ogg")"
list_image b.mp3 c.ogg >"$work/second.expected"
check "the new list file holds b.mp3 and c.ogg" cmp "$list" "$work/second.expected"
check "nfs-cat reads the replaced list" read_list "$work/second.out"
check "the second read shows the new list" cmp "$work/second.out" "$list"
[ "$CHECKS_FAILED" -eq 0 ] || sed 's/^/    /' "$work/nfs-cat.err"

# The list folder on a 64 KiB disk of its own, and on one made read-only after a first hand-off,
# each a tmpfs in a private mount namespace that nothing outside sees. Wine's server must run
# inside it, so this prefix's server is stopped before and after.
list_disk() { # MODE: small or readonly
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    unshare -m bash -c '
        set -e
        mount --make-rprivate /
        mkdir -p "$HOME/Lumavert"
        mount -t tmpfs -o size=64k lumavert-list-disk "$HOME/Lumavert"
        if [ "$1" = readonly ]; then
            wine "$0" --hand-off "$2" >/dev/null 2>&1
            mount -o remount,ro "$HOME/Lumavert"
        fi
        set +e
        LUMAVERT_LIST_DISK=$1 timeout 180 wine "$0" --gtest_filter="TavomenuListDisk.*" --gtest_brief=1
        status=$?
        wineserver -k >/dev/null 2>&1
        wineserver -w
        exit $status
    ' "$driver" "$1" "$(win_path "$work/files/disk/a.mp3")" >"$work/disk-$1.txt" 2>&1
}
ran_one() { grep -a -q '^\[  PASSED  \] 1 test' "$1" && ! grep -a -q 'SKIPPED' "$1"; }
mkdir -p "$work/files/disk"
touch "$work/files/disk/a.mp3" "$work/files/disk/b.mkv"
for mode in small readonly; do
    list_disk "$mode" && status=0 || status=$?
    grep -a -v '^debug: ' "$work/disk-$mode.txt" | tr -d '\r' | sed 's/^/  /'
    check "list folder on a $mode disk: the new lists or none" test "$status" = 0
    check "... the case ran" ran_one "$work/disk-$mode.txt"
done

check_summary
