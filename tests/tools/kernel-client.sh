#!/usr/bin/env bash
# Runs a test script against the real Linux kernel NFS client on a machine whose own kernel
# has none: boots a Debian kernel in QEMU (TCG) with a busybox initramfs and chroots into the
# host's root, shared read-only over 9p. Usage: kernel-client.sh setup|run|help (below).
set -euo pipefail
#
#   kernel-client.sh setup [CACHE_DIR]
#       Installs the packages (qemu-system-x86 busybox-static nfs-common cpio iproute2;
#       apt-get, skipped when present), downloads the kernel that the metapackage
#       linux-image-amd64 depends on (`apt-get download`), extracts the kernel (also
#       uncompressed, booted through its PVH entry: no firmware, no decompression) and
#       the modules with their dependencies, builds the initramfs. Idempotent (~1 s when
#       done). Prints the cache path: CACHE_DIR, else $KCLIENT_CACHE, else
#       /var/cache/lumavert-kclient. Needs the network: run it in the main namespace.
#       KCLIENT_KERNEL_DEB=FILE.deb uses a local kernel package instead;
#       KCLIENT_EXTRA_MODULES="mod ..." adds modules (insmod'ed at boot).
#
#   kernel-client.sh run GUEST_SCRIPT [--out DIR] [--timeout S] [--mem MB] [--smp N]
#                        [--cache DIR] [--env NAME[=VALUE]]... [--loglevel N] [-- ARG...]
#       Run it INSIDE the network namespace whose 127.0.0.1 has the NFS server (unshare
#       -n / ip netns exec; lo up). It refuses a namespace with interfaces besides lo
#       unless KCLIENT_ALLOW_NET=1. Boots the guest (4-6 s to the script), runs
#       GUEST_SCRIPT (a host path) with /bin/bash chrooted in the host's root (read-only:
#       the host's own tools), stdin /dev/null, cwd = the caller's cwd, environment:
#         NFS_SERVER=192.0.2.2   the server: QEMU user networking (virtio-net) maps it to
#                                this namespace's 127.0.0.1; the guest is 192.0.2.15
#         OUT=DIR                --out DIR: the same path in the guest, writable, shared
#                                over 9p; without --out a temporary folder, removed after
#         SCRATCH=DIR            a tmpfs in guest memory for big files (half of --mem, or
#                                KCLIENT_SCRATCH_SIZE, e.g. 75%); HOME=$SCRATCH/home,
#                                TMPDIR=$SCRATCH/tmp. /run and /dev/shm are tmpfs too.
#         KCLIENT_GUEST=1, PATH, LANG=C.UTF-8, and each --env NAME=VALUE (--env NAME
#         copies this shell's value). Arguments after -- go to the script.
#       The guest console streams to stdout: kernel messages up to --loglevel (default
#       6: notice, so "server not responding" shows) and the script's output. The whole
#       guest dmesg is saved as OUT/kclient-dmesg.txt; the script may run `dmesg` itself.
#       The guest always powers off.
#       Exit status: the guest script's; 124 when it ran past --timeout (default 600 s;
#       the guest first prints its processes and blocked tasks, sysrq w) or when the VM
#       hung (QEMU killed at timeout + 90 s); 125 when the guest could not run it (kernel
#       panic or oops, failed insmod or 9p mount, QEMU error); 2 for bad usage. The
#       reason goes to stderr, lines starting "kernel-client: ".
#       Defaults: --mem 2048, --smp 2, CPU model qemu64 (KCLIENT_CPU=max for newer
#       instructions). Knobs: KCLIENT_ACCEL=kvm (KVM instead of TCG; untested: nested
#       KVM hung here), KCLIENT_ROOT_CACHE=loose (9p caching of the host root: ~30%
#       faster process start, but host changes made during the run may go unseen),
#       KCLIENT_QEMU_ARGS (extra QEMU arguments), KCLIENT_BOOT_MARGIN (the 90 s),
#       KCLIENT_KEEP=1 (keep the run folder: console.log, launch.sh), KCLIENT_FAULT=9p
#       (break the root 9p mount on purpose, to test the failure path).
#
# A guest script mounts with the kernel client, e.g.
#   mount -t nfs -o vers=3,proto=tcp,nolock,port=2049,mountport=635 "$NFS_SERVER:/" /mnt
# (nolock: no statd in the guest; Debian kernels have no NFS over UDP, proto=udp fails
# with "an incorrect mount option was specified"). Mount points: existing host folders
# (/mnt) or folders made under $SCRATCH.


PROG="kernel-client"
DEFAULT_CACHE=/var/cache/lumavert-kclient
PACKAGES=(qemu-system-x86 busybox-static nfs-common cpio iproute2)
# Loaded in dependency order (resolved from the modules themselves at setup).
WANTED_MODULES=(virtio_pci 9pnet_virtio 9p virtio_net nfsv3)
GUEST_IP=192.0.2.15
SERVER_IP=192.0.2.2
BOOT_MARGIN=${KCLIENT_BOOT_MARGIN:-90}

msg() { echo "$PROG: $*" >&2; }
die() { msg "$*"; exit 125; }
usage_error() { msg "$*"; msg "usage: see the header of $0 (or '$0 help')"; exit 2; }
usage() { awk 'started && !/^#/ {exit} started; /^set -euo/ {started=1}' "$0" | sed 's/^# \{0,1\}//'; }
need_root() { [[ $(id -u) -eq 0 ]] || die "must run as root"; }

# ---------------------------------------------------------------------------------------
# The guest's PID 1 (busybox sh). Reads /ctl/config written by `run`.
IFS= read -r -d '' INIT_SCRIPT <<'INIT' || true
#!/bin/busybox sh
# PID 1 of the kernel-client guest (generated by kernel-client.sh).
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/null >/dev/console 2>&1
CTL=
off() {
    poweroff -f
    sleep 5
    echo o >/proc/sysrq-trigger
    sleep 60
}
fail() {
    echo "KCLIENT-FAIL: $*"
    if [ -n "$CTL" ]; then
        echo "$*" >"$CTL/fail"
        dmesg >"$CTL/dmesg.txt"
    fi
    off
}
now() { read -r u rest </proc/uptime; echo "$u"; }
m9p() { mount -t 9p -o "trans=virtio,version=9p2000.L,msize=262144,$1" "$2" "$3"; }

while read -r m; do
    [ -n "$m" ] || continue
    insmod "/lib/modules/$m.ko" || fail "insmod $m failed (see the kernel messages above)"
done </etc/kclient-modules

m9p cache=none kcctl /ctl || fail "9p mount of the control folder (tag kcctl) failed"
CTL=/ctl
. /ctl/config || fail "cannot read /ctl/config"
m9p "ro,cache=$ROOT_CACHE" "$ROOT_TAG" /host || fail "9p mount of the host root (tag $ROOT_TAG) failed"
[ -x /host/bin/bash ] || fail "the host root seen over 9p has no /bin/bash"
mount -t proc proc /host/proc || fail "cannot mount /proc in the host root"
mount -t sysfs sysfs /host/sys || fail "cannot mount /sys in the host root"
mount -t devtmpfs devtmpfs /host/dev || fail "cannot mount /dev in the host root"
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts /host/dev/pts
mount -t tmpfs -o mode=1777 shm /host/dev/shm
mount -t tmpfs -o mode=0755 run /host/run || fail "cannot mount a tmpfs on /run"
mkdir -p "/host$OUT" 2>/dev/null
m9p cache=mmap kcout "/host$OUT" || fail "9p mount of OUT ($OUT, tag kcout) failed"
mkdir -p "/host$SCRATCH" 2>/dev/null
mount -t tmpfs -o "mode=1777$SCRATCH_OPTS" scratch "/host$SCRATCH" ||
    fail "cannot mount the scratch tmpfs on $SCRATCH"
mkdir -p "/host$SCRATCH/home" "/host$SCRATCH/tmp" /host/run/kclient
cp /ctl/launch.sh /host/run/kclient/launch.sh || fail "cannot copy launch.sh"

ip link set lo up
ip link set eth0 up || fail "no network interface eth0 (virtio-net)"
ip addr add "$GUEST_IP/24" dev eth0 || fail "cannot set the address of eth0"
ip route add default via "$SERVER_IP" || fail "cannot add the default route"
i=0
while [ "$(cat /sys/class/net/eth0/carrier 2>/dev/null)" != 1 ] && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
hostname kclient

up=$(now)
echo "up $up" >/ctl/times
echo "KCLIENT-UP uptime=${up}s kernel=$(uname -r) script=$SCRIPT"
chroot /host /bin/bash /run/kclient/launch.sh &
spid=$!
(
    sleep "$TIMEOUT"
    echo "KCLIENT-TIMEOUT: the guest script ran past $TIMEOUT s; processes and blocked tasks follow"
    echo "$TIMEOUT" >/ctl/timeout
    ps -o pid,stat,args | grep -v ' \[[^]]*\]$'
    dmesg -n 8
    echo w >/proc/sysrq-trigger
    sleep 2
    dmesg >/ctl/dmesg.txt
    off
) &
wpid=$!
wait "$spid"
rc=$?
kill "$wpid" 2>/dev/null
end=$(now)
echo "$rc" >/ctl/rc.tmp && mv /ctl/rc.tmp /ctl/rc
echo "end $end" >>/ctl/times
echo "KCLIENT-RC=$rc uptime=${end}s"
dmesg >/ctl/dmesg.txt
off
INIT

# ---------------------------------------------------------------------------------------
# setup

pkg_installed() { [[ $(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null) == installed ]]; }

install_packages() {
    local p missing=()
    for p in "${PACKAGES[@]}"; do pkg_installed "$p" || missing+=("$p"); done
    ((${#missing[@]})) || return 0
    msg "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >&2; then
        apt-get update -q >&2
        apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
    fi
}

# The linux-image-*-amd64 package that linux-image-amd64 depends on.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '$1 ~ /^\|?Depends:$/ && $2 ~ /^linux-image-.*-amd64$/ && !p {print $2; p=1}'
}

# decompress_module FILE: the module's ELF on stdout.
decompress_module() {
    case $1 in
    *.ko) cat -- "$1" ;;
    *.ko.xz) xz -dc -- "$1" ;;
    *.ko.zst) zstd -qdc -- "$1" ;;
    *.ko.gz) gzip -dc -- "$1" ;;
    *) die "unknown module format: $1" ;;
    esac
}

declare -A MOD_PATH=() MOD_STATE=()
MOD_ORDER=()

mod_visit() {
    local m=$1 d deps
    [[ ${MOD_STATE[$m]:-} == "done" ]] && return 0
    [[ ${MOD_STATE[$m]:-} == active ]] && die "module dependency cycle at $m"
    [[ -n ${MOD_PATH[$m]:-} ]] || die "module $m not found in the kernel package"
    MOD_STATE[$m]=active
    deps=$(decompress_module "${MOD_PATH[$m]}" | tr '\0' '\n' |
        awk -F= '$1 == "depends" && !p {print $2; p=1}')
    for d in ${deps//,/ }; do mod_visit "$d"; done
    MOD_STATE[$m]="done"
    MOD_ORDER+=("$m")
}

wanted_modules() { echo "${WANTED_MODULES[*]}${KCLIENT_EXTRA_MODULES:+ $KCLIENT_EXTRA_MODULES}"; }

# extract_kernel DEB KDIR: vmlinuz, config and the needed modules (decompressed) into KDIR.
extract_kernel() {
    local deb=$1 kdir=$2 kver=$3 tmp moddir f b m builtin
    tmp=$(mktemp -d "${kdir%/*}/.extract.XXXXXX")
    dpkg-deb -x "$deb" "$tmp/root"
    if [[ ! -f $tmp/root/boot/vmlinuz-$kver ]]; then # e.g. a -unsigned package
        f=$(find "$tmp/root/boot" -maxdepth 1 -name 'vmlinuz-*' -print -quit)
        [[ -n $f ]] && kver=${f##*/vmlinuz-}
    fi
    moddir=
    for f in "$tmp/root/lib/modules/$kver" "$tmp/root/usr/lib/modules/$kver"; do
        [[ -d $f/kernel ]] && moddir=$f
    done
    [[ -n $moddir ]] || die "no lib/modules/$kver in $deb"
    [[ -f $tmp/root/boot/vmlinuz-$kver ]] || die "no boot/vmlinuz-$kver in $deb"
    while IFS= read -r -d '' f; do
        b=${f##*/}
        b=${b%%.ko*}
        MOD_PATH[${b//-/_}]=$f
    done < <(find "$moddir/kernel" -name '*.ko*' -print0)
    builtin=$(sed 's|.*/||; s|\.ko$||; s|-|_|g' "$moddir/modules.builtin" 2>/dev/null || true)
    for m in $(wanted_modules); do
        if [[ -z ${MOD_PATH[$m]:-} ]] && grep -qx "$m" <<<"$builtin"; then
            msg "module $m is built into this kernel"
            continue
        fi
        mod_visit "$m"
    done
    rm -rf "$kdir.new"
    mkdir -p "$kdir.new/modules"
    for m in "${MOD_ORDER[@]}"; do
        decompress_module "${MOD_PATH[$m]}" >"$kdir.new/modules/$m.ko"
    done
    printf '%s\n' "${MOD_ORDER[@]}" >"$kdir.new/modules.order"
    wanted_modules >"$kdir.new/wanted"
    cp "$tmp/root/boot/vmlinuz-$kver" "$kdir.new/vmlinuz"
    cp "$tmp/root/boot/config-$kver" "$kdir.new/config" 2>/dev/null || true
    if grep -qx 'CONFIG_PVH=y' "$kdir.new/config" 2>/dev/null; then
        extract_vmlinux "$kdir.new/vmlinuz" "$kdir.new/vmlinux" ||
            msg "no uncompressed kernel: booting the compressed one (slower)"
    fi
    rm -rf "$tmp" "$kdir"
    mv "$kdir.new" "$kdir"
}

# extract_vmlinux BZIMAGE OUT: the uncompressed ELF kernel inside a bzImage. QEMU boots
# it straight through its PVH entry, which skips the firmware and the decompressor
# (about 4 s less under TCG).
extract_vmlinux() {
    local img=$1 out=$2 magic tool off
    for magic in $'\xfd7zXZ:xz -dc' $'\x1f\x8b\x08:gzip -dc' $'\x28\xb5\x2f\xfd:zstd -qdc'; do
        tool=${magic#*:}
        command -v "${tool%% *}" >/dev/null || continue
        while IFS=: read -r off _; do
            tail -c "+$((off + 1))" "$img" | $tool >"$out" 2>/dev/null || true
            if [[ $(head -c 4 "$out" 2>/dev/null | od -An -tx1 | tr -d ' ') == 7f454c46 ]]; then
                return 0
            fi
        done < <(LC_ALL=C grep -obUa "${magic%%:*}" "$img" 2>/dev/null || true)
    done
    rm -f "$out"
    return 1
}

initramfs_stamp() {
    { printf '%s\n' "$INIT_SCRIPT"; cat "$1/modules.order"; } | sha256sum | cut -d' ' -f1
}

# build_initramfs KDIR: KDIR/initramfs.cpio (uncompressed: unpacks faster) from busybox, the init and the modules.
build_initramfs() {
    local kdir=$1 st
    st=$(mktemp -d "$kdir/.initramfs.XXXXXX")
    mkdir -p "$st"/{bin,dev,proc,sys,ctl,host,etc,lib/modules}
    cp /bin/busybox "$st/bin/busybox"
    printf '%s\n' "$INIT_SCRIPT" >"$st/init"
    chmod 0755 "$st/init" "$st/bin/busybox"
    cp "$kdir"/modules/*.ko "$st/lib/modules/"
    cp "$kdir/modules.order" "$st/etc/kclient-modules"
    mknod -m 0600 "$st/dev/console" c 5 1 2>/dev/null || true
    mknod -m 0666 "$st/dev/null" c 1 3 2>/dev/null || true
    (cd "$st" && find . -mindepth 1 -print0 | LC_ALL=C sort -z |
        cpio --null -o -H newc --owner=0:0 --quiet) >"$kdir/initramfs.cpio.new"
    mv "$kdir/initramfs.cpio.new" "$kdir/initramfs.cpio"
    initramfs_stamp "$kdir" >"$kdir/initramfs.stamp"
    rm -rf "$st"
}

cmd_setup() {
    (($# <= 1)) || usage_error "setup takes at most one argument (CACHE_DIR)"
    local cache=${1:-${KCLIENT_CACHE:-$DEFAULT_CACHE}} pkg="" kver deb kdir d tmp
    need_root
    mkdir -p "$cache"
    cache=$(cd "$cache" && pwd -P)
    exec 9>"$cache/.lock"
    flock 9
    install_packages
    command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 missing after install"
    if [[ ! -x /bin/busybox ]] || ldd /bin/busybox >/dev/null 2>&1; then
        die "/bin/busybox is not the static busybox (package busybox-static)"
    fi
    mkdir -p "$cache/debs" "$cache/kernels"
    rm -rf "$cache"/kernels/.extract.* "$cache"/kernels/*.new "$cache"/debs/.dl.*

    if [[ -n ${KCLIENT_KERNEL_DEB:-} ]]; then
        deb=$(cd "$(dirname "$KCLIENT_KERNEL_DEB")" && pwd -P)/$(basename "$KCLIENT_KERNEL_DEB")
        pkg=$(dpkg-deb -f "$deb" Package)
    else
        pkg=$(kernel_package)
        if [[ -z $pkg ]]; then
            msg "apt knows no linux-image-amd64; running apt-get update"
            apt-get update -q >&2 || true
            pkg=$(kernel_package)
        fi
        if [[ -z $pkg ]]; then
            [[ -e $cache/current/vmlinuz ]] || die "cannot resolve linux-image-amd64"
            msg "cannot resolve linux-image-amd64; keeping the cached kernel"
        fi
    fi
    if [[ -n $pkg ]]; then
        kver=${pkg#linux-image-}
        kdir=$cache/kernels/$kver
        if [[ ! -s $kdir/vmlinuz || ! -s $kdir/modules.order ||
            $(cat "$kdir/wanted" 2>/dev/null) != "$(wanted_modules)" ]]; then
            if [[ -z ${KCLIENT_KERNEL_DEB:-} ]]; then
                deb=$(find "$cache/debs" -maxdepth 1 -name "${pkg}_*_amd64.deb" | sort | tail -n1)
                if [[ -z $deb ]]; then
                    msg "downloading $pkg (apt-get download)"
                    tmp=$(mktemp -d "$cache/debs/.dl.XXXXXX")
                    chmod 0755 "$tmp"
                    chown _apt "$tmp" 2>/dev/null || true
                    if ! (cd "$tmp" && apt-get download -q "$pkg" >&2); then
                        apt-get update -q >&2
                        (cd "$tmp" && apt-get download -q "$pkg" >&2)
                    fi
                    mv "$tmp"/*.deb "$cache/debs/"
                    rmdir "$tmp"
                    deb=$(find "$cache/debs" -maxdepth 1 -name "${pkg}_*_amd64.deb" | sort | tail -n1)
                fi
            fi
            msg "extracting $(basename "$deb")"
            extract_kernel "$deb" "$kdir" "$kver"
            basename "$deb" >"$kdir/package"
        fi
        ln -sfn "kernels/$kver" "$cache/current"
        # Keep only the current kernel and its package.
        for d in "$cache"/kernels/*; do
            [[ $d == "$kdir" ]] || rm -rf -- "$d"
        done
        if [[ -z ${KCLIENT_KERNEL_DEB:-} ]]; then
            find "$cache/debs" -maxdepth 1 -name '*.deb' ! -name "${pkg}_*" -delete
        fi
    fi
    kdir=$(cd "$cache/current" && pwd -P)
    if [[ ! -s $kdir/initramfs.cpio || $(cat "$kdir/initramfs.stamp" 2>/dev/null) != \
        "$(initramfs_stamp "$kdir")" ]]; then
        msg "building the initramfs"
        build_initramfs "$kdir"
    fi
    msg "kernel $(cat "$kdir/package" 2>/dev/null || basename "$kdir"), modules: $(tr '\n' ' ' <"$kdir/modules.order")"
    echo "$cache"
}

# ---------------------------------------------------------------------------------------
# run

shq() { printf "'%s'" "${1//\'/\'\\\'\'}"; } # quote for busybox sh
qemu_escape() { printf '%s' "${1//,/,,}"; }  # commas in QEMU option values

# pid_is PID PREFIX: the PID is alive and its comm starts with PREFIX
pid_is() {
    local comm
    [[ $1 =~ ^[0-9]+$ ]] || return 1
    comm=$(cat "/proc/$1/comm" 2>/dev/null) || return 1
    [[ $comm == "$2"* ]]
}

stop_pid() {
    local pid=$1 name=$2 i
    pid_is "$pid" "$name" || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < 100; i++)); do
        pid_is "$pid" "$name" || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

RUNDIR=
TPID=

last_lines() {
    if [[ -s $1 ]]; then tail -n 15 "$1" | sed 's/^/    /' >&2; else echo "    (no console output)" >&2; fi
}
run_cleanup() {
    local qpid
    if [[ -n $TPID ]]; then # interrupted while QEMU runs: stop timeout, then QEMU
        qpid=$(cat "$RUNDIR/qemu.pid" 2>/dev/null || true)
        stop_pid "$TPID" timeout
        stop_pid "$qpid" qemu-system
    fi
    if [[ -n $RUNDIR && -d $RUNDIR && ${KCLIENT_KEEP:-0} != 1 ]]; then
        rm -rf -- "$RUNDIR"
    elif [[ -n $RUNDIR ]]; then
        msg "kept the run folder $RUNDIR"
    fi
}

check_netns() {
    local others flags
    others=$(awk -F: 'NR > 2 {gsub(/ /, "", $1); if ($1 != "lo") print $1}' /proc/net/dev)
    if [[ -n $others && ${KCLIENT_ALLOW_NET:-0} != 1 ]]; then
        die "this network namespace has interfaces besides lo (${others//$'\n'/ }); run inside" \
            "a private one (unshare -n, ip netns exec) or set KCLIENT_ALLOW_NET=1"
    fi
    if command -v ip >/dev/null; then
        flags=$(ip -o link show lo 2>/dev/null || true)
        [[ $flags == *"<"*UP*">"* ]] || die "loopback is down in this namespace: ip link set lo up"
    fi
    # A hint only: the guest script may use other ports.
    if ! awk 'NR > 1 && $4 == "0A" && ($2 ~ /^(0100007F|00000000):0801$/ ||
              $2 ~ /^0+(FFFF0000)?(0100007F|00000000)?:0801$/) {f=1} END {exit !f}' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null; then
        msg "warning: nothing listens on TCP 127.0.0.1:2049 in this network namespace"
    fi
}

cmd_run() {
    local script="" out="" timeout=600 mem=2048 smp=2 loglevel=6
    local cache=${KCLIENT_CACHE:-$DEFAULT_CACHE} kdir kv name
    local -a genv=() args=()
    while (($#)); do
        case $1 in
        --out | --timeout | --mem | --smp | --cache | --env | --loglevel)
            (($# >= 2)) || usage_error "$1 needs a value"
            case $1 in
            --out) out=$2 ;;
            --timeout) timeout=$2 ;;
            --mem) mem=$2 ;;
            --smp) smp=$2 ;;
            --cache) cache=$2 ;;
            --loglevel) loglevel=$2 ;;
            --env)
                kv=$2
                name=${kv%%=*}
                [[ $name =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]] || usage_error "bad --env $kv"
                if [[ $kv != *=* ]]; then
                    [[ -n ${!name+x} ]] || usage_error "--env $name: not set here"
                    kv="$name=${!name}"
                fi
                genv+=("$kv")
                ;;
            esac
            shift 2
            ;;
        --)
            shift
            args=("$@")
            break
            ;;
        -h | --help)
            usage
            exit 0
            ;;
        -*) usage_error "unknown option $1" ;;
        *)
            [[ -z $script ]] || usage_error "unexpected argument '$1' (script arguments go after --)"
            script=$1
            shift
            ;;
        esac
    done
    [[ -n $script ]] || usage_error "run needs GUEST_SCRIPT"
    local v
    for v in timeout mem smp; do
        [[ ${!v} =~ ^[1-9][0-9]*$ ]] || usage_error "--$v must be a positive integer"
    done
    [[ $loglevel =~ ^[0-8]$ ]] || usage_error "--loglevel must be 0 to 8"
    [[ -f $script && -r $script ]] || usage_error "no readable guest script $script"
    script=$(cd "$(dirname "$script")" && pwd -P)/$(basename "$script")
    [[ -d $cache/current ]] || die "no kernel in $cache: run '$0 setup $cache' (outside the namespace) first"
    kdir=$(cd "$cache/current" && pwd -P)
    for f in vmlinuz modules.order wanted; do
        [[ -s $kdir/$f ]] || die "incomplete cache $kdir (no $f): run '$0 setup $cache' again"
    done
    local m
    for m in "${WANTED_MODULES[@]}"; do
        [[ " $(cat "$kdir/wanted") " == *" $m "* ]] ||
            die "the cache $kdir lacks module $m: run '$0 setup $cache' again"
    done
    if [[ ! -s $kdir/initramfs.cpio || $(cat "$kdir/initramfs.stamp" 2>/dev/null) != \
        "$(initramfs_stamp "$kdir")" ]]; then
        msg "the initramfs is missing or older than this script: rebuilding it"
        (flock 9 && build_initramfs "$kdir") 9>"$cache/.lock"
    fi
    check_netns

    trap run_cleanup EXIT
    trap 'msg "interrupted"; exit 130' INT
    trap 'msg "terminated"; exit 143' TERM HUP
    RUNDIR=$(mktemp -d "${TMPDIR:-/tmp}/kclient-run.XXXXXX")
    RUNDIR=$(cd "$RUNDIR" && pwd -P)
    mkdir "$RUNDIR/ctl" "$RUNDIR/scratch"
    local out_given=$out
    if [[ -z $out ]]; then
        out=$RUNDIR/out
    fi
    mkdir -p "$out"
    out=$(cd "$out" && pwd -P)
    local scratch=$RUNDIR/scratch

    # What the chroot runs: the script with a clean environment.
    genv=("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
        "HOME=$scratch/home" "TMPDIR=$scratch/tmp" "LANG=C.UTF-8" "TERM=dumb"
        "USER=root" "LOGNAME=root" "SHELL=/bin/bash" "NFS_SERVER=$SERVER_IP"
        "OUT=$out" "SCRATCH=$scratch" "KCLIENT_GUEST=1" "${genv[@]}")
    {
        echo '#!/bin/bash'
        printf 'if [[ ! -r %q ]]; then\n' "$script"
        printf '    echo "kernel-client guest:" %q "is not visible in the guest (below /run, /dev, /proc or /sys?)" >&2\n' "$script"
        echo '    exit 127'
        echo 'fi'
        printf 'cd -- %q 2>/dev/null || cd /\n' "$PWD"
        printf 'exec /usr/bin/env -i'
        printf ' %q' "${genv[@]}"
        printf ' /bin/bash --'
        printf ' %q' "$script" "${args[@]}"
        echo
    } >"$RUNDIR/ctl/launch.sh"
    local root_tag=kcroot
    [[ ${KCLIENT_FAULT:-} == 9p ]] && root_tag=kcroot-broken
    {
        echo "OUT=$(shq "$out")"
        echo "SCRATCH=$(shq "$scratch")"
        echo "SCRIPT=$(shq "$script")"
        echo "TIMEOUT=$timeout"
        echo "ROOT_TAG=$root_tag"
        echo "ROOT_CACHE=${KCLIENT_ROOT_CACHE:-none}"
        echo "SCRATCH_OPTS=${KCLIENT_SCRATCH_SIZE:+,size=$KCLIENT_SCRATCH_SIZE}"
        echo "GUEST_IP=$GUEST_IP"
        echo "SERVER_IP=$SERVER_IP"
    } >"$RUNDIR/ctl/config"

    local accel=tcg cpu=${KCLIENT_CPU:-qemu64} kernel=$kdir/vmlinuz
    [[ -s $kdir/vmlinux ]] && kernel=$kdir/vmlinux
    if [[ ${KCLIENT_ACCEL:-tcg} == kvm ]]; then accel=kvm cpu=host; fi
    local cmdline="console=ttyS0 loglevel=$loglevel panic=-1 oops=panic mitigations=off"
    cmdline+=" printk.devkmsg=on"
    # shellcheck disable=SC2054 # commas inside QEMU option values
    local -a q=(qemu-system-x86_64 -nodefaults -no-user-config -machine "pc,accel=$accel"
        -cpu "$cpu" -smp "$smp" -m "$mem" -display none -no-reboot
        -pidfile "$RUNDIR/qemu.pid"
        -chardev "stdio,id=con0,signal=off,logfile=$(qemu_escape "$RUNDIR/console.log")"
        -serial chardev:con0
        -kernel "$kernel" -initrd "$kdir/initramfs.cpio" -append "$cmdline"
        -netdev "user,id=n0,net=192.0.2.0/24,host=$SERVER_IP,dns=192.0.2.3,dhcpstart=$GUEST_IP,ipv6=off,restrict=off"
        -device virtio-net-pci,netdev=n0,romfile=
        -fsdev "local,id=fsroot,path=/,security_model=none,readonly=on,multidevs=remap"
        -device virtio-9p-pci,fsdev=fsroot,mount_tag=kcroot
        -fsdev "local,id=fsout,path=$(qemu_escape "$out"),security_model=none,multidevs=remap"
        -device virtio-9p-pci,fsdev=fsout,mount_tag=kcout
        -fsdev "local,id=fsctl,path=$(qemu_escape "$RUNDIR/ctl"),security_model=none"
        -device virtio-9p-pci,fsdev=fsctl,mount_tag=kcctl)
    # shellcheck disable=SC2206 # extra QEMU arguments, split on spaces on purpose
    [[ -n ${KCLIENT_QEMU_ARGS:-} ]] && q+=(${KCLIENT_QEMU_ARGS})

    local t0 t1 qrc=0 rc
    t0=$(date +%s.%N)
    timeout -k 10 "$((timeout + BOOT_MARGIN))" "${q[@]}" </dev/null &
    TPID=$!
    wait "$TPID" || qrc=$?
    TPID=
    t1=$(date +%s.%N)
    local ctl=$RUNDIR/ctl con=$RUNDIR/console.txt
    tr -d '\r' 2>/dev/null <"$RUNDIR/console.log" >"$con" || : >"$con"
    [[ -s $ctl/dmesg.txt ]] && cp "$ctl/dmesg.txt" "$out/kclient-dmesg.txt"
    local up end
    up=$(awk '$1 == "up" {print $2}' "$ctl/times" 2>/dev/null || true)
    end=$(awk '$1 == "end" {print $2}' "$ctl/times" 2>/dev/null || true)

    if [[ -f $ctl/rc ]] || grep -q '^KCLIENT-RC=' "$con"; then
        # The file on the control share; the console line when the share failed.
        rc=$(cat "$ctl/rc" 2>/dev/null || sed -n 's/^KCLIENT-RC=\([0-9]*\) .*/\1/p' "$con" | tail -n1)
        [[ $rc =~ ^[0-9]+$ ]] || die "guest reported a bad status '$rc'"
        msg "$(awk -v rc="$rc" -v up="${up:-0}" -v end="${end:-0}" -v t0="$t0" -v t1="$t1" \
            'BEGIN {printf "guest script exit status %d (guest up after %.1f s, script %.1f s, total %.1f s)", rc, up, end - up, t1 - t0}')"
        exit "$rc"
    fi
    if [[ -f $ctl/timeout ]]; then
        msg "TIMEOUT: the guest script ran past $timeout s (a hang?); the guest's blocked" \
            "tasks are in the console output above${out_given:+ and in $out/kclient-dmesg.txt}"
        exit 124
    fi
    local why
    if [[ -f $ctl/fail ]] || grep -q '^KCLIENT-FAIL:' "$con"; then
        why=$(cat "$ctl/fail" 2>/dev/null || sed -n '/^KCLIENT-FAIL: /{s///p;q}' "$con")
        die "the guest could not run the script: $why"
    fi
    if grep -q 'Kernel panic - not syncing' "$con"; then
        why=$(grep -m1 -E 'BUG:|Oops:|general protection|Kernel panic - not syncing' "$con" |
            sed 's/^\[ *[0-9.]*\] //')
        die "GUEST KERNEL PANIC: $why (console output above)"
    fi
    if ((qrc == 124 || qrc == 137)); then
        msg "TIMEOUT: the guest did not finish within $((timeout + BOOT_MARGIN)) s" \
            "(hung before or while starting the script?); QEMU was killed. Last console lines:"
        last_lines "$con"
        exit 124
    fi
    msg "the guest stopped without reporting a status (QEMU exit status $qrc). Last console lines:"
    last_lines "$con"
    exit 125
}

# ---------------------------------------------------------------------------------------

case ${1:-} in
setup)
    shift
    cmd_setup "$@"
    ;;
run)
    shift
    cmd_run "$@"
    ;;
help | -h | --help) usage ;;
*) usage_error "unknown command '${1:-}' (setup, run, help)" ;;
esac
