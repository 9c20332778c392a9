#!/usr/bin/env bash
# End-to-end runs of the recorder program, headless, on file-backed lines (no sound card):
#   1. a ten-minute stereo line in fast pace with --until-lines-end: every recording appears with
#      the name real time would give it, in a few seconds;
#   2. a 30-second stereo line at real-time pace: the recordings appear, named by the wall clock
#      at the same offsets, and SIGTERM ends the program in order within 2 s, files complete;
#   3. an 18-second line whose output is a pipe that closes after the first line, with a SIGHUP
#      on top: the program records on and ends in order on SIGTERM;
#   4. a line removed in the middle of a call and put back: stderr names the device, its reason
#      and its channels both times, the call's file is complete, and the call goes on in a new file.
# Expected names come from block arithmetic: a channel sees sound in blocks of 16384 samples
# (16384 / 11025 s), and a level trigger with a 1 s start delay fires in the block holding
# onset + 1 s; the recording is named by the local time at the end of that block. Each burst is
# placed so that onset + 1 s sits in the middle of its block.
# Usage: headless_e2e.sh <path of the kestavo program>
set -euo pipefail
KESTAVO=${1:?usage: headless_e2e.sh <kestavo>}
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# write_line <file> <seconds> "<left bursts k:len ...>" "<right bursts k:len ...>"
write_line() {
  python3 - "$@" <<'PY'
import math, struct, sys
path, seconds, left, right = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
rate, block = 11025, 16384 / 11025
n = int(seconds * rate)
def side(pattern, freq):
    s = [((i % 5) - 2) for i in range(n)]          # faint hiss
    for item in pattern.split():
        k, length = item.split(":")
        onset = (int(k) + 0.5) * block - 1.0            # onset + 1 s = middle of block k
        for i in range(int(onset * rate), min(n, int((onset + float(length)) * rate))):
            s[i] = int(round(12000 * math.sin(2 * math.pi * freq * i / rate)))
    return s
l, r = side(left, 440.0), side(right, 700.0)
data = b"".join(struct.pack("<hh", a, b) for a, b in zip(l, r))
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", len(data)) + data)
PY
}

# expected_names <epoch of the line's start> <prefix> <channel> "<bursts k:len ...>"
expected_names() {
  python3 - "$@" <<'PY'
import sys, time
start, prefix, channel, pattern = float(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
for item in pattern.split():
    k = int(item.split(":")[0])
    t = time.localtime(start + (k + 1) * 16384 // 11025 + ((k + 1) * 16384 % 11025) / 11025)
    print(time.strftime(f"{prefix}%d_%m_%Y %H_%M_%S_{channel}.wav", t))
PY
}

# check_wavs <folder>: every WAV's header sizes agree with its length.
check_wavs() {
  python3 - "$1" <<'PY'
import os, struct, sys
for name in sorted(os.listdir(sys.argv[1])):
    p = os.path.join(sys.argv[1], name)
    b = open(p, "rb").read()
    riff, data = struct.unpack("<I", b[4:8])[0], struct.unpack("<I", b[40:44])[0]
    if data != len(b) - 44 or riff != data + 36 or data == 0:
        sys.exit(f"incomplete WAV {p}: riff {riff} data {data} length {len(b)}")
PY
}

configure() {  # configure <home> <config home>
  mkdir -p "$2/kestavo" "$1"
  printf '%s\r\n' "[MAIN]" "DIRS_D=0" "AUTO=0" \
    "[Channels1]" "CompressMode1=0" "auto1=1" "POROG1=-30" "zad_rec1=1" "zad_stop1=3" "Min_Time1=5" "PREFIX1=L_" "AON1=0" "Pulse1=0" \
    "[Channels2]" "CompressMode2=0" "auto2=1" "POROG2=-30" "zad_rec2=1" "zad_stop2=3" "Min_Time2=5" "PREFIX2=R_" "AON2=0" "Pulse2=0" \
    > "$2/kestavo/tevra4.ini"
}

run_env() {  # run_env <dir> <command...>
  local d=$1; shift
  env KESTAVO_HOME="$d/home" XDG_CONFIG_HOME="$d/cfg" XDG_RUNTIME_DIR="$d/run" XDG_DATA_HOME="$d/data" \
      KESTAVO_LINES="$d/lines" KESTAVO_ALSA=off "$@"
}

# ---- 1. fast pace, ten minutes
D=$TMP/fast; mkdir -p "$D/lines" "$D/run"
LEFT="40:20 200:20"; RIGHT="120:15 350:25"
write_line "$D/lines/exchange.wav" 600 "$LEFT" "$RIGHT"
configure "$D/home" "$D/cfg"
START=2026-12-05T16:00:00
SECONDS=0
run_env "$D" KESTAVO_LINES_PACE=fast KESTAVO_LINES_START=$START "$KESTAVO" --headless --until-lines-end > "$D/out.txt" 2>&1 \
  || { cat "$D/out.txt"; fail "fast run exited with an error"; }
took=$SECONDS
epoch=$(python3 -c "import time; print(time.mktime(time.strptime('$START', '%Y-%m-%dT%H:%M:%S')))")
for ch in 1 2; do
  if [ $ch = 1 ]; then pattern=$LEFT; prefix=L_; else pattern=$RIGHT; prefix=R_; fi
  want=$(expected_names "$epoch" $prefix $ch "$pattern")
  got=$(ls "$D/home/SOUND/$ch" 2>/dev/null | sort)
  [ "$got" = "$want" ] || { cat "$D/out.txt"; fail "fast channel $ch: got [$got], want [$want]"; }
  check_wavs "$D/home/SOUND/$ch" || fail "fast channel $ch files"
done
[ "$took" -le 60 ] || fail "fast run took ${took}s"
grep -q "stopped" "$D/out.txt" || fail "fast run did not shut down in order"
echo "fast pace: 10 min of line in ${took}s, names as expected"

# ---- 2. real time, 30 s, SIGTERM
D=$TMP/real; mkdir -p "$D/lines" "$D/run"
LEFT="5:8"; RIGHT="9:6"
write_line "$D/lines/exchange.wav" 30 "$LEFT" "$RIGHT"
configure "$D/home" "$D/cfg"
begin=$(date +%s.%N)
env KESTAVO_HOME="$D/home" XDG_CONFIG_HOME="$D/cfg" XDG_RUNTIME_DIR="$D/run" XDG_DATA_HOME="$D/data" \
    KESTAVO_LINES="$D/lines" KESTAVO_ALSA=off "$KESTAVO" --headless > "$D/out.txt" 2>&1 &
pid=$!  # the program itself (env replaces itself), so the signal reaches it
sleep 26
# A second instance refuses to start.
if run_env "$D" "$KESTAVO" --headless > "$D/second.txt" 2>&1; then fail "a second instance started"; fi
grep -q "One instance of programm is already working" "$D/second.txt" || fail "second instance message"
t0=$(date +%s.%N)
kill -TERM $pid
wait $pid || fail "real-time run exited with an error"
t1=$(date +%s.%N)
python3 -c "import sys; sys.exit(0 if $t1 - $t0 < 2.0 else 1)" || fail "SIGTERM took longer than 2 s"
for ch in 1 2; do
  if [ $ch = 1 ]; then pattern=$LEFT; prefix=L_; else pattern=$RIGHT; prefix=R_; fi
  got=$(ls "$D/home/SOUND/$ch" 2>/dev/null | sort)
  [ "$(echo "$got" | wc -l)" = 1 ] || { cat "$D/out.txt"; fail "real-time channel $ch: [$got]"; }
  # Named by the wall clock at the end of the trigger's block (start-up takes a moment: 0..2 s later).
  ok=0
  for delay in 0 1 2; do
    want=$(expected_names "$(python3 -c "print($begin + $delay)")" $prefix $ch "$pattern")
    [ "$got" = "$want" ] && ok=1
  done
  [ $ok = 1 ] || { cat "$D/out.txt"; fail "real-time channel $ch: got [$got], want about [$want]"; }
  check_wavs "$D/home/SOUND/$ch" || fail "real-time channel $ch files"
done
grep -q "stopped" "$D/out.txt" || fail "real-time run did not shut down in order"
echo "real time: recordings as expected, SIGTERM honoured"

# ---- 3. a closed output and SIGHUP never stop the recording
D=$TMP/pipe; mkdir -p "$D/lines" "$D/run"
write_line "$D/lines/exchange.wav" 18 "3:4" "3:4"
configure "$D/home" "$D/cfg"
mkfifo "$D/out.fifo"
env KESTAVO_HOME="$D/home" XDG_CONFIG_HOME="$D/cfg" XDG_RUNTIME_DIR="$D/run" XDG_DATA_HOME="$D/data" \
    KESTAVO_LINES="$D/lines" KESTAVO_ALSA=off "$KESTAVO" --headless > "$D/out.fifo" 2> "$D/err.txt" &
pid=$!
head -n 1 < "$D/out.fifo" > "$D/head.txt"  # takes the first line and closes the pipe
kill -HUP $pid
sleep 15  # the calls start at about 5 s and end at about 13 s, all into a closed output
kill -0 $pid 2>/dev/null || { cat "$D/err.txt"; fail "the program ended when its output closed or on SIGHUP"; }
kill -TERM $pid
wait $pid || fail "the program with a closed output exited with an error"
for ch in 1 2; do
  [ "$(ls "$D/home/SOUND/$ch" | wc -l)" = 1 ] || fail "closed output: channel $ch recorded [$(ls "$D/home/SOUND/$ch")]"
  check_wavs "$D/home/SOUND/$ch" || fail "closed output: channel $ch files"
done
echo "closed output and SIGHUP: recording went on"

# ---- 4. a line removed while it plays, and put back
D=$TMP/lost; mkdir -p "$D/lines" "$D/run"
write_line "$D/lines/exchange.wav" 60 "0:55" ""
configure "$D/home" "$D/cfg"
env KESTAVO_HOME="$D/home" XDG_CONFIG_HOME="$D/cfg" XDG_RUNTIME_DIR="$D/run" XDG_DATA_HOME="$D/data" \
    KESTAVO_LINES="$D/lines" KESTAVO_ALSA=off "$KESTAVO" --headless > "$D/out.txt" 2> "$D/err.txt" &
pid=$!
wait_for() {  # wait_for <file> <text> <seconds>
  for _ in $(seq $(( $3 * 10 ))); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  cat "$D/out.txt" "$D/err.txt"; return 1
}
wait_for "$D/out.txt" "channel 1  recording (level)" 10 || fail "removed line: the call did not start"
sleep 6  # longer than the minimum time
mv "$D/lines/exchange.wav" "$D/exchange.away"
wait_for "$D/err.txt" "error: device 0 exchange.wav lost: No such file or directory; channels 1, 2 stopped" 5 \
  || fail "removed line: no loss on stderr"
wait_for "$D/out.txt" "channel 1  stopped (device lost)" 2 || fail "removed line: the call's end not reported"
mv "$D/exchange.away" "$D/lines/exchange.wav"
wait_for "$D/err.txt" "info: device 0 exchange.wav back; channels 1, 2 capture again" 6 \
  || fail "line put back: no return on stderr"
wait_for "$D/out.txt" "channel 1  recording (device back)" 2 || fail "line put back: the call did not go on"
sleep 3  # the line's first blocks reach the new file
kill -TERM $pid
wait $pid || fail "the program with a removed line exited with an error"
[ "$(ls "$D/home/SOUND/1" | wc -l)" = 2 ] || fail "removed line: channel 1 recorded [$(ls "$D/home/SOUND/1")]"
check_wavs "$D/home/SOUND/1" || fail "removed line: channel 1 files"
echo "removed line: the loss and the return reported, files complete"
