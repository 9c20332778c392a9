#!/usr/bin/env bash
# Soak run of the recorder program, headless, on one stereo file-backed line holding 24 hours of
# sound, played at fast pace from noon to noon so the day folders cross midnight.
#
# The line repeats a five-minute cycle: on the left side a 60 s tone burst, on the right side a
# 45 s burst, over a faint hiss, so each side records one call every five minutes (288 a side).
# Both channels record WAV files by level into day folders. While the program runs, its resident
# memory (VmRSS) is sampled every few seconds together with the program's clock (the last status
# line it printed), so memory can be read against hours of sound.
#
# The memory is sampled every 0.2 s of wall time: at fast pace an hour of sound takes about 1.5 s.
# Reports: blocks dropped per channel (from the program's summary at exit; must be 0), files made
# per channel and per day folder, and resident memory at 1 h of sound, at the end, and its peak
# after the first hour (it must stay flat). Not part of the test suite: it takes a while.
#
# Usage: bench/soak.sh <path of the kestavo program> [hours of sound, default 24] [work folder]
# The work folder (default: a new one under /tmp) keeps the line, the recordings and the logs; it
# needs about 4 GB for the 24-hour line and 0.7 GB for the recordings.
set -euo pipefail
KESTAVO=$(realpath "${1:?usage: soak.sh <kestavo> [hours] [work folder]}")
HOURS=${2:-24}
D=${3:-$(mktemp -d /tmp/kestavo-soak.XXXXXX)}
START=2026-01-01T12:00:00
SAMPLE_SECONDS=0.2  # fast pace plays hours of sound per second of wall time
rm -rf "$D/home" "$D/run" "$D/cfg"  # a run again in the same folder starts afresh but keeps the line
mkdir -p "$D/lines" "$D/run" "$D/cfg/kestavo" "$D/home"
echo "soak: $HOURS h of stereo sound in $D"

# ---- the line: one cycle built once, written again and again (kept when it is already there)
python3 - "$D/lines/soak.wav" "$HOURS" <<'PY'
import math, os, struct, sys
path, hours = sys.argv[1], float(sys.argv[2])
rate, cycle = 11025, 300                     # 11025 Hz, five minutes
n = rate * cycle
cycles = int(round(hours * 3600 / cycle))
if os.path.exists(path) and os.path.getsize(path) == 44 + 4 * n * cycles:
    print(f"line: {cycles} cycles, kept from an earlier run")
    sys.exit(0)
def side(onset, length, freq, seed):
    s = [((i * 7 + seed) % 9) - 4 for i in range(n)]   # faint hiss, about -70 dB
    for i in range(onset * rate, (onset + length) * rate):
        s[i] = int(round(12000 * math.sin(2 * math.pi * freq * i / rate)))
    return s
left, right = side(20, 60, 440.0, 0), side(150, 45, 700.0, 4)
block = b"".join(struct.pack("<hh", a, b) for a, b in zip(left, right))
data = len(block) * cycles
if data + 36 > 0xFFFFFFFF:
    sys.exit("a WAV file holds at most 4 GB: ask for fewer hours")
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", data))
    for _ in range(cycles):
        f.write(block)
print(f"line: {cycles} cycles, {data / 1e9:.2f} GB")
PY

printf '%s\r\n' "[MAIN]" "DIRS_D=1" "AUTO=0" \
  "[Channels1]" "CompressMode1=0" "auto1=1" "POROG1=-30" "zad_rec1=1" "zad_stop1=3" "Min_Time1=5" "PREFIX1=L" "AON1=0" "Pulse1=0" \
  "[Channels2]" "CompressMode2=0" "auto2=1" "POROG2=-30" "zad_rec2=1" "zad_stop2=3" "Min_Time2=5" "PREFIX2=R" "AON2=0" "Pulse2=0" \
  > "$D/cfg/kestavo/tevra4.ini"

# ---- the run, memory sampled beside it
SECONDS=0
env KESTAVO_HOME="$D/home" XDG_CONFIG_HOME="$D/cfg" XDG_RUNTIME_DIR="$D/run" XDG_DATA_HOME="$D/data" \
    KESTAVO_LINES="$D/lines" KESTAVO_ALSA=off KESTAVO_LINES_PACE=fast KESTAVO_LINES_START=$START \
    nice "$KESTAVO" --headless --until-lines-end > "$D/out.txt" 2> "$D/err.txt" &
pid=$!  # env and nice replace themselves, so this is the program
: > "$D/memory.txt"
while kill -0 $pid 2> /dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status 2> /dev/null || true)
  hwm=$(awk '/^VmHWM:/ {print $2}' /proc/$pid/status 2> /dev/null || true)
  now=$(grep -a "status:" "$D/out.txt" | tail -n 1 | cut -c1-19 || true)
  [ -n "$rss" ] && [ -n "$now" ] && echo "$now|$rss|$hwm" >> "$D/memory.txt"
  sleep $SAMPLE_SECONDS
done
status=0
wait $pid || status=$?
took=$SECONDS

# ---- the figures
python3 - "$D" "$START" "$status" "$took" <<'PY'
import os, re, sys, time
d, start, status, took = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
t0 = time.mktime(time.strptime(start, "%Y-%m-%dT%H:%M:%S"))
out = open(os.path.join(d, "out.txt"), errors="replace").read()
print(f"exit status {status}, {took} s of wall time")
dropped = re.findall(r"summary: channel (\d+)\s+blocks dropped (\d+)", out)
if not dropped:
    print("blocks dropped: the program printed no summary")
for ch, n in dropped:
    print(f"channel {ch}: blocks dropped {n}")
for ch in ("1", "2"):
    root = os.path.join(d, "home", "SOUND", ch)
    days = {}
    for folder, _, names in os.walk(root):
        wavs = [n for n in names if n.lower().endswith(".wav")]
        if wavs:
            days[os.path.relpath(folder, root)] = len(wavs)
    print(f"channel {ch}: {sum(days.values())} files made " + ", ".join(f"{k}: {v}" for k, v in sorted(days.items())))
stopped = len(re.findall(r"stopped \((level|maximum time|shutdown)\)", out))
print(f"recordings reported stopped: {stopped}")
rows = []
for line in open(os.path.join(d, "memory.txt")):
    stamp, rss, hwm = line.strip().split("|")
    hours = (time.mktime(time.strptime(stamp, "%Y-%m-%d %H:%M:%S")) - t0) / 3600
    rows.append((hours, int(rss), int(hwm or 0)))
if not rows:
    sys.exit("no memory samples")
after = [r for r in rows if r[0] >= 1.0]
first = after[0] if after else rows[-1]
print(f"memory samples: {len(rows)}, sound covered {rows[0][0]:.2f} h .. {rows[-1][0]:.2f} h")
print(f"VmRSS at {first[0]:.2f} h of sound: {first[1]} kB")
print(f"VmRSS at {rows[-1][0]:.2f} h of sound (last sample): {rows[-1][1]} kB")
if after:
    print(f"VmRSS after the first hour: min {min(r[1] for r in after)} kB, max {max(r[1] for r in after)} kB")
print(f"VmHWM (peak) at the last sample: {rows[-1][2]} kB")
err = open(os.path.join(d, "err.txt"), errors="replace").read().strip()
if err:
    print("stderr:\n" + err)
PY
