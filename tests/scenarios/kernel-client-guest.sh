#!/usr/bin/env bash
# Guest half of test_kernel_client.sh, run by tests/tools/kernel-client.sh inside the QEMU guest:
# mounts "/" and "/lst" with the Linux kernel's NFS v3 client and checks what a player does.
# Each check prints "ok   NAME" or "FAIL NAME" and lands in $OUT/results for the host to count.
# $EXPORT is the export folder as the guest sees it over 9p (read-only), $REFERENCE the host's
# ffprobe and ffmpeg outputs of the local media; $OUT/req and $OUT/ack carry requests to the host
# (changes on the server side).
set -u

results=$OUT/results
: >"$results"
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name" | tee -a "$results"
    else
        echo "FAIL $name" | tee -a "$results"
    fi
}
note() { echo "  $*"; }
equals() { [ "$1" = "$2" ] || { note "expected [$2], got [$1]"; return 1; }; }
same_frames() { # same_frames NFS LOCAL: the frame checksums (without comments) agree, and exist
    local got want
    got=$(grep -v '^#' "$1" 2>/dev/null) want=$(grep -v '^#' "$2")
    [ -n "$want" ] && [ "$got" = "$want" ] ||
        { note "$(wc -l <<<"$got") frame lines, expected $(wc -l <<<"$want")"; return 1; }
}
section() { echo "== $1 (guest script at ${SECONDS}s)"; }
no_output() { [ ! -s "$1" ] || { sed -n '1,5s/^/    /p' "$1"; return 1; }; }

# host ACTION: asks the host to do ACTION on the export folder and waits for it (60 s at most).
host() {
    mkdir -p "$OUT/req"
    : >"$OUT/req/$1"
    local i
    for ((i = 0; i < 300; i++)); do
        [ -e "$OUT/ack/$1" ] && return 0
        sleep 0.2
    done
    note "the host did not do $1"
    return 1
}

opts=vers=3,proto=tcp,nolock,port=2049,mountport=635
# The exports to mount (other paths only to try the script against another server by hand).
export_root=${MOUNT_ROOT:-/} export_list=${MOUNT_LIST:-/lst}
R=$SCRATCH/root   # "/"
L=$SCRATCH/lst    # "/lst"
A=$SCRATCH/fresh  # "/" again, without attribute caching
mkdir -p "$R" "$L" "$A" "$SCRATCH/work"
W=$SCRATCH/work
# A step that hangs on a hard mount ends with SIGKILL instead of the whole guest timing out.
limit() { timeout -k 5 "$@"; }

check "mount / over NFS v3 TCP" limit 30 mount -t nfs -o "$opts" "$NFS_SERVER:$export_root" "$R"
check "mount /lst over NFS v3 TCP" limit 30 mount -t nfs -o "$opts" "$NFS_SERVER:$export_list" "$L"
check "mount / with actimeo=0" limit 30 mount -t nfs -o "$opts,actimeo=0" "$NFS_SERVER:$export_root" "$A"
mountpoint -q "$R" || { echo "FAIL nothing mounted; giving up" | tee -a "$results"; exit 1; }
check "/lst lists the list folder's file" equals "$(limit 30 ls "$L")" in-the-list.txt

# --- fileids: never 0 ("?" in ls -i) -------------------------------------------------------
section fileids
no_question() { ! grep -q '^ *?' <<<"$1" || { note "$(grep '^ *?' <<<"$1" | head -3)"; return 1; }; }
check "ls -id of the root shows no ?" no_question "$(limit 30 ls -id "$R")"
check "ls -ia of the root shows no ?" no_question "$(limit 30 ls -ia "$R")"
check "ls -ia of /lst shows no ?" no_question "$(limit 30 ls -ia "$L")"

# --- a stream read while other files of its folder are removed and renamed -------------------
section stream
limit 30 ls -la "$R/play" >/dev/null # the siblings get known to the server before the stream
(
    limit 240 dd if="$R/play/stream.bin" bs=1M 2>"$W/stream.err"
    echo $? >"$W/stream.rc"
) | md5sum >"$W/stream.md5" &
reader=$!
sleep 2
running=no
kill -0 "$reader" 2>/dev/null && running=yes
removed=0 renamed=0
for f in "$R"/play/aa-*; do limit 20 rm -f "$f" && removed=$((removed + 1)); done
for f in "$R"/play/zz-*; do limit 20 mv "$f" "$f.renamed" && renamed=$((renamed + 1)); done
host remove-play-siblings
wait "$reader"
check "siblings changed while the stream was being read" equals "$running" yes
check "rm of 8 siblings during the stream" equals "$removed" 8
check "mv of 4 siblings during the stream" equals "$renamed" 4
note "$(grep 'bytes' "$W/stream.err")"
check "stream read ended without error" \
    equals "$(cat "$W/stream.rc")/$(grep -v -e records -e bytes "$W/stream.err")" 0/
check "256 MiB stream is byte-exact (md5 as in the export)" \
    equals "$(cut -d' ' -f1 "$W/stream.md5")" "$STREAM_MD5"
check "no 'fileid changed' in the guest's dmesg" eval '! dmesg | grep -q "fileid changed"'
dmesg | grep "fileid changed" | head -3 | sed 's/^/    /'
check "mv of the stream just read" limit 30 mv "$R/play/stream.bin" "$R/play/stream.moved"

# --- rm and mv of the file just read ---------------------------------------------------------
section just-read
limit 30 cat "$R/justread/move-me.bin" >/dev/null
check "mv of the file just read" limit 30 mv "$R/justread/move-me.bin" "$R/justread/moved.bin"
check "  ... and the export folder shows it moved" test -f "$EXPORT/justread/moved.bin" -a \
    ! -e "$EXPORT/justread/move-me.bin"
limit 30 cat "$R/justread/remove-me.bin" >/dev/null
check "rm of the file just read" limit 30 rm "$R/justread/remove-me.bin"
check "  ... and the export folder shows it gone" test ! -e "$EXPORT/justread/remove-me.bin"

# --- files deleted on the server side --------------------------------------------------------
section deleted-on-server
limit 60 ls -la "$A/gone" >/dev/null 2>&1 # the client now knows all 300 names
limit 60 ls -la "$R/gone" >/dev/null 2>&1
mtime_before=$(stat -c %Y "$A/gone")
host delete-on-server
# The client drops its cached listing when the folder's attributes change.
note "folder mtime through the mount: $mtime_before before, $(stat -c %Y "$A/gone") after; on disk $(stat -c %Y "$EXPORT/gone")"
for mnt in "$A" "$R"; do
    label=$([ "$mnt" = "$A" ] && echo "actimeo=0" || echo "default mount")
    limit 60 ls -la "$mnt/gone" >"$W/gone.out" 2>"$W/gone.err"
    echo "ls rc $?" >>"$W/gone.err"
    grep -v '^ls rc 0$' "$W/gone.err" >"$W/gone.errors"
    check "ls -la after server-side deletion: no error ($label)" no_output "$W/gone.errors"
    note "$(grep -cE 'Input/output error|Remote I/O error' "$W/gone.err") lines with an I/O error"
    [ "$mnt" = "$A" ] || continue
    check "ls -la lists the 100 files left ($label)" \
        equals "$(grep -c ' g0[0-9]*$' "$W/gone.out")" 100
    check "stat of a deleted file: No such file ($label)" \
        eval "! limit 30 stat '$mnt/gone/g0200' 2>&1 | grep -qv 'No such file'"
done

# --- media: ffprobe and a decode with seeks --------------------------------------------------
# Few processes: under TCG the start of ffmpeg (over 200 libraries) costs more than its work.
# The host made the references from the local files; decoded video is bit-exact on any CPU.
section media
M=$R/media
for clip in clip-index-at-end.mp4 clip.mkv; do
    check "ffprobe of $clip through the mount (as of the local file)" \
        equals "$(limit 90 ffprobe $PROBE_ARGS "$M/$clip" 2>&1)" "$(cat "$REFERENCE/$clip.probe")"
done
inputs=() outputs=() n=0
for clip in clip-index-at-end.mp4 clip.mkv; do
    for seek in $SEEKS; do
        inputs+=(-ss "$seek" -t 1 -i "$M/$clip")
        outputs+=(-map "$n:v" -f framemd5 "$W/$clip.seek-$seek")
        n=$((n + 1))
    done
done
for clip in clip-index-at-end.mp4 clip.mkv; do
    inputs+=(-i "$M/$clip")
    outputs+=(-map "$n" -f null -)
    n=$((n + 1))
done
limit 150 ffmpeg -nostdin -v error "${inputs[@]}" "${outputs[@]}" >"$W/ffmpeg.err" 2>&1
check "ffmpeg decodes both clips without an error" no_output "$W/ffmpeg.err"
for clip in clip-index-at-end.mp4 clip.mkv; do
    for seek in $SEEKS; do
        check "ffmpeg decode of $clip from ${seek}s: frames as of the local file" \
            same_frames "$W/$clip.seek-$seek" "$REFERENCE/$clip.seek-$seek"
    done
done
check "rm of the files ffmpeg just played" limit 30 rm "$M/clip-index-at-end.mp4" "$M/clip.mkv"

# --- 10,000 files in one folder --------------------------------------------------------------
section many
limit 120 ls -f "$R/many" >"$W/many.txt" 2>&1
check "10,000 files listed" equals "$(grep -c '^f[0-9]*$' "$W/many.txt")" 10000
check "  ... each once" equals "$(sort "$W/many.txt" | uniq -d | head -3)" ""

# --- names differing only in case are different files ----------------------------------------
section case
for name in Film.txt film.txt FILM.TXT; do
    check "case: $name reads its own content" equals "$(limit 30 cat "$R/case/$name" 2>&1)" "content of $name"
done
check "case: ls lists three names" equals "$(limit 30 ls "$R/case" | grep -ci '^film.txt$')" 3
echo "made by the client" >"$R/case/NEW.txt" 2>/dev/null
check "case: creating NEW.txt leaves new.txt alone" \
    equals "$(cat "$EXPORT/case/new.txt")/$(cat "$EXPORT/case/NEW.txt" 2>&1)" "old/made by the client"

# --- times set by the client -----------------------------------------------------------------
section times
limit 30 touch -m -d @981173106 "$R/times/touched.txt"
check "touch -d sets the given time (seen in the export folder)" \
    equals "$(stat -c %Y "$EXPORT/times/touched.txt")" 981173106

section end
umount "$R" "$L" "$A" 2>/dev/null
grep -q '^FAIL' "$results" && exit 1
exit 0
