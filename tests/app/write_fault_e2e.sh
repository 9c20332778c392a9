#!/usr/bin/env bash
# End-to-end runs of the recorder program, headless, at real-time pace on a file-backed stereo
# line, while its recording folders misbehave:
#   1. the folders become unwritable 9 s in and writable again 20 s later: the left call's file is
#      open through it all; the right call begins meanwhile, its file cannot be created, stderr
#      names the path and the reason, and the file is made once the folder takes it;
#   2. the whole recording folder is deleted 9 s in, with the left call's file open in it: the file
#      is made again with everything it held, and the right call's folder is made again for it.
# In both, every call's file holds all of its sound — the recording is one unbroken piece of its
# side of the line, from before the call's onset to after its end — and the program exits 0.
# Sidecars are on: each call's sidecar lies beside its file, and the right call's in run 1 names
# the error its file met.
# The two runs go side by side, each with its own program folder.
# Usage: write_fault_e2e.sh <path of the kestavo program>
set -euo pipefail
KESTAVO=${1:?usage: write_fault_e2e.sh <kestavo>}
TMP=$(mktemp -d)
trap 'chmod -R u+rwX "$TMP" 2>/dev/null; rm -rf "$TMP"' EXIT
chmod 755 "$TMP"
fail() { echo "FAIL: $*" >&2; exit 1; }

# A folder's permissions mean nothing to root: there the program runs as nobody.
AS=()
if [ "$(id -u)" = 0 ]; then AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups); fi

# Calls as (onset s, length s): left 4..34 s, right 14..34 s; a hiss of random small values around them.
LINE_SECONDS=46
write_line() {
  python3 - "$1" "$LINE_SECONDS" <<'PY'
import math, random, struct, sys
path, seconds = sys.argv[1], float(sys.argv[2])
rate = 11025
n = int(seconds * rate)
rnd = random.Random(11)
def side(onset, length, freq):
    s = [rnd.randint(-3, 3) for _ in range(n)]
    for i in range(int(onset * rate), int((onset + length) * rate)):
        s[i] = int(round(12000 * math.sin(2 * math.pi * freq * i / rate)))
    return s
l, r = side(4, 30, 440.0), side(14, 20, 700.0)
data = b"".join(struct.pack("<hh", a, b) for a, b in zip(l, r))
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", len(data)) + data)
PY
}

# holds_call <line> <side 0|1> <onset s> <length s> <recording>: the recording is a piece of the
# side, whole samples in order, that begins before the onset and ends after the call.
holds_call() {
  python3 - "$@" <<'PY'
import struct, sys
line, side, onset, length, rec = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
rate = 11025
b = open(line, "rb").read()[44:]
samples = struct.unpack(f"<{len(b) // 2}h", b)[side::2]
whole = struct.pack(f"<{len(samples)}h", *samples)
r = open(rec, "rb").read()
data = struct.unpack("<I", r[40:44])[0]
if data != len(r) - 44 or struct.unpack("<I", r[4:8])[0] != data + 36:
    sys.exit(f"{rec}: the header's sizes do not match the file")
at = whole.find(r[44:])
while at >= 0 and at % 2:
    at = whole.find(r[44:], at + 1)
if at < 0:
    sys.exit(f"{rec}: {data // 2} samples that are not one piece of the line")
first, last = at // 2, at // 2 + data // 2
if first > onset * rate or last < (onset + length) * rate:
    sys.exit(f"{rec}: holds samples {first}..{last}, the call is {onset * rate:.0f}..{(onset + length) * rate:.0f}")
PY
}

start_run() {  # start_run <dir>: prepares the folders and starts the program; its PID in STARTED
  local d=$1
  mkdir -p "$d/lines" "$d/run" "$d/cfg/kestavo" "$d/home/SOUND/1" "$d/home/SOUND/2"
  write_line "$d/lines/exchange.wav"
  printf '%s\r\n' "[MAIN]" "DIRS_D=0" "AUTO=0" "SIDECAR=1" \
    "[Channels1]" "CompressMode1=0" "auto1=1" "POROG1=-30" "zad_rec1=1" "zad_stop1=3" "Min_Time1=5" "PREFIX1=L_" "AON1=0" "Pulse1=0" \
    "[Channels2]" "CompressMode2=0" "auto2=1" "POROG2=-30" "zad_rec2=1" "zad_stop2=3" "Min_Time2=5" "PREFIX2=R_" "AON2=0" "Pulse2=0" \
    > "$d/cfg/kestavo/tevra4.ini"
  chmod 700 "$d/run"
  [ ${#AS[@]} = 0 ] || chown -R nobody:nogroup "$d"
  env KESTAVO_HOME="$d/home" XDG_CONFIG_HOME="$d/cfg" XDG_RUNTIME_DIR="$d/run" XDG_DATA_HOME="$d/data" \
      KESTAVO_LINES="$d/lines" KESTAVO_ALSA=off "${AS[@]}" "$KESTAVO" --headless > "$d/out.txt" 2> "$d/err.txt" &
  STARTED=$!
}

check_run() {  # check_run <dir> <pid> <what>
  local d=$1 pid=$2 what=$3
  kill -TERM "$pid"
  wait "$pid" || { cat "$d/out.txt" "$d/err.txt"; fail "$what: the program exited with an error"; }
  for ch in 1 2; do
    local files; files=$(ls "$d/home/SOUND/$ch" 2>/dev/null)
    [ "$(echo "$files" | grep -c .)" = 2 ] && [ -e "$d/home/SOUND/$ch/$(echo "$files" | grep '\.wav$').json" ] \
      || { cat "$d/out.txt" "$d/err.txt"; fail "$what: channel $ch recorded [$files]"; }
  done
  holds_call "$d/lines/exchange.wav" 0 4 30 "$(ls "$d"/home/SOUND/1/*.wav)" || fail "$what: left call"
  holds_call "$d/lines/exchange.wav" 1 14 20 "$(ls "$d"/home/SOUND/2/*.wav)" || fail "$what: right call"
}

A=$TMP/unwritable; B=$TMP/deleted
start_run "$A"; pa=$STARTED
start_run "$B"; pb=$STARTED
sleep 9
chmod 555 "$A/home/SOUND/1" "$A/home/SOUND/2"
rm -rf "$B/home/SOUND"
sleep 20
chmod 755 "$A/home/SOUND/1" "$A/home/SOUND/2"
sleep $((LINE_SECONDS - 29 + 2))

check_run "$A" "$pa" "unwritable folder"
grep -q "channel 2  error: cannot write $A/home/SOUND/2/R_.*\.wav: Permission denied" "$A/err.txt" \
  || { cat "$A/err.txt"; fail "unwritable folder: no message naming the file and the reason"; }
grep -q "channel 2  writing $A/home/SOUND/2/R_.*\.wav again" "$A/err.txt" \
  || { cat "$A/err.txt"; fail "unwritable folder: no message when the file was written again"; }
grep -q '"fault": "Permission denied"' "$A"/home/SOUND/2/*.wav.json || fail "unwritable folder: the sidecar names no fault"
echo "unwritable folder: reported on stderr, both calls whole"

check_run "$B" "$pb" "deleted folder"
grep -q "channel 1  warning: $B/home/SOUND/1/L_.*\.wav was removed with its folder; made again" "$B/err.txt" \
  || { cat "$B/err.txt"; fail "deleted folder: no message naming the file made again"; }
echo "deleted folder: the open file made again, both calls whole"
