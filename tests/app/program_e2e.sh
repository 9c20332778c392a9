#!/usr/bin/env bash
# The programs' command line and the recorder's records for integrators, end to end:
#   1. --version, --help's exit codes, and refusals (an unknown option, a single-dash word) with
#      exit code 2 and one line on stderr, for kestavo and kestavo-detect;
#   2. --list-devices without any input says so and how to give file-backed lines;
#   3. a fast-paced batch run of a file-backed line with two dialled calls and --events: the JSON
#      events name exactly the recordings made, with their lengths and the numbers dialled, and
#      the headless recorder writes no desktop autostart entry even when a start-up switch asks
#      for autostart;
#   4. the same run on a terminal shows its progress and ends with a summary; without a terminal
#      (run 3) neither appears;
#   5. with --events - the standard output holds the same events and nothing else.
# Usage: program_e2e.sh <kestavo> <kestavo-detect> <version>
set -euo pipefail
KESTAVO=${1:?usage: program_e2e.sh <kestavo> <kestavo-detect> <version>}
DETECT=${2:?}
VERSION=${3:?}
TMP=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# ---- 1. command line
for prog in "$KESTAVO" "$DETECT"; do
  name=$(basename "$prog")
  [ "$("$prog" --version)" = "$name $VERSION" ] || fail "$name --version: $("$prog" --version)"
  "$prog" --help | grep -q "^Exit codes:" || fail "$name --help lists no exit codes"
  for bad in -V --no-such-option -x; do
    set +e
    "$prog" $bad >"$TMP/out" 2>"$TMP/err" </dev/null
    rc=$?
    set -e
    [ $rc = 2 ] || fail "$name $bad exited with $rc, not 2"
    [ "$(wc -l <"$TMP/err")" = 1 ] || fail "$name $bad: not one line on stderr: $(cat "$TMP/err")"
    grep -q -- "$bad" "$TMP/err" || fail "$name $bad: the refusal does not name it: $(cat "$TMP/err")"
    [ ! -s "$TMP/out" ] || fail "$name $bad printed on stdout"
  done
done
echo "command line: --version, exit codes, refusals as expected"

run_env() {  # run_env <dir> <command...>
  local d=$1; shift
  env KESTAVO_HOME="$d/home" XDG_CONFIG_HOME="$d/cfg" XDG_RUNTIME_DIR="$d/run" XDG_DATA_HOME="$d/data" \
      KESTAVO_LINES="$d/lines" KESTAVO_ALSA=off "$@"
}

# ---- 2. no input at all
D=$TMP/none; mkdir -p "$D/lines" "$D/run"
run_env "$D" "$KESTAVO" --list-devices >"$D/out.txt" || fail "--list-devices failed"
grep -q "No sound input" "$D/out.txt" || fail "--list-devices: $(cat "$D/out.txt")"
grep -q "KESTAVO_LINES" "$D/out.txt" || fail "--list-devices does not say how to give lines"
echo "list devices: says there is no input and how to give lines"

# write_line <file> <python>: a mono 11025 Hz telephone line made by the given calls of quiet(s),
# dial(keys), pulses(digit counts) and talk(s), written as a 16-bit WAV file.
LINE_PY=$(cat <<'PY'
import math, struct, sys
rate = 11025
keys = {"1": (697, 1209), "2": (697, 1336), "3": (697, 1477), "4": (770, 1209), "5": (770, 1336),
        "6": (770, 1477), "7": (852, 1209), "8": (852, 1336), "9": (852, 1477), "0": (941, 1336)}
s = []
def quiet(sec): s.extend([(i % 5) - 2 for i in range(int(sec * rate))])
def dial(number):  # 80 ms of each key's tone pair at -10 dBFS, 80 ms apart
    for k in number:
        lo, hi = keys[k]
        s.extend(int(round(32767 * 0.158 * (math.sin(2 * math.pi * lo * i / rate) + math.sin(2 * math.pi * hi * i / rate))))
                 for i in range(int(0.08 * rate)))
        quiet(0.08)
def pulses(counts):  # loop-disconnect dialling: a relay click at each break and make, 60 ms break, 40 ms make
    quiet(0.2)
    for c in counts:
        at = len(s); quiet(c * 0.1 + 0.6)
        for p in range(c):
            for t in (at + int((p * 0.1) * rate), at + int((p * 0.1 + 0.06) * rate)):
                for n in range(40):
                    s[t + n] += int(round(16384 * math.exp(-n / 6.0) * math.cos(2 * math.pi * 4000 * n / rate)))
def talk(sec): s.extend(int(round(12000 * math.sin(2 * math.pi * 440 * i / rate))) for i in range(int(sec * rate)))
exec(sys.argv[2])
data = b"".join(struct.pack("<h", v) for v in s)
with open(sys.argv[1], "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) + b"data" + struct.pack("<I", len(data)) + data)
PY
)
write_line() { python3 -c "$LINE_PY" "$1" "$2"; }

# ---- 3. events of a batch run
D=$TMP/events; mkdir -p "$D/lines" "$D/run" "$D/cfg/kestavo" "$D/home"
write_line "$D/lines/exchange.wav" 'quiet(10); dial("4951234"); talk(15); quiet(40); dial("2468"); talk(10); quiet(30)'
printf '%s\r\n' "[MAIN]" "DIRS_D=0" "AUTO=1" \
  "[Channels1]" "CompressMode1=0" "auto1=1" "POROG1=-30" "zad_rec1=1" "zad_stop1=3" "Min_Time1=5" "PREFIX1=L_" \
  "AON1=0" "Pulse1=0" "DTMF1=1" "PulseREC1=0" > "$D/cfg/kestavo/tevra4.ini"
# The later runs start from this configuration, not from the one the first run saved (which names
# the first run's recording folder).
cp -r "$D/cfg" "$TMP/cfg.start"
run_env "$D" KESTAVO_LINES_PACE=fast KESTAVO_LINES_START=2026-12-05T16:00:00 \
  "$KESTAVO" -start --headless --until-lines-end --events "$D/events.jsonl" >"$D/out.txt" 2>&1 \
  || { cat "$D/out.txt"; fail "batch run exited with an error"; }
python3 - "$D/events.jsonl" "$D/home/SOUND/1" <<'PY' || { cat "$D/out.txt" "$D/events.jsonl"; fail "events"; }
import json, os, struct, sys
events = [json.loads(l) for l in open(sys.argv[1])]
folder = sys.argv[2]
files = sorted(os.path.join(folder, n) for n in os.listdir(folder))
kept = [e for e in events if e["event"] == "stopped" and e["outcome"] == "kept"]
assert sorted(e["path"] for e in kept) == files, (kept, files)
started = [e for e in events if e["event"] == "started"]
assert len(started) == len(kept) == 2, events
for e in kept:
    b = open(e["path"], "rb").read()
    byte_rate, data = struct.unpack("<I", b[28:32])[0], struct.unpack("<I", b[40:44])[0]
    assert abs(e["duration"] - data / byte_rate) < 0.0015, (e, data / byte_rate)
numbers = [e["text"] for e in events if e["event"] == "detected" and e["kind"] == "dtmf"]
assert numbers == ["4951234", "2468"], numbers
# Each number is in the name of the recording it was dialled in.
for number, e in zip(numbers, sorted(kept, key=lambda e: e["time"])):
    assert number in os.path.basename(e["path"]), (number, e["path"])
assert not [e for e in events if e["event"] == "fault"], events
PY
[ ! -e "$D/cfg/autostart" ] || fail "the headless recorder wrote an autostart entry: $(ls -R "$D/cfg/autostart")"
echo "events: the recordings made, their lengths and numbers; no autostart entry"

# ---- 4. progress and summary on a terminal only
! grep -q "% done\|recording(s) made" "$D/out.txt" || fail "progress or summary without a terminal"
D2=$TMP/terminal; mkdir -p "$D2/run" "$D2/home"; cp -r "$D/lines" "$D2/"; cp -r "$TMP/cfg.start" "$D2/cfg"
total=$(python3 -c "import json; print('%.1f' % sum(e['duration'] for e in map(json.loads, open('$D/events.jsonl')) if e['event'] == 'stopped'))")
cmd=$(printf '%q ' env KESTAVO_HOME="$D2/home" XDG_CONFIG_HOME="$D2/cfg" XDG_RUNTIME_DIR="$D2/run" \
  XDG_DATA_HOME="$D2/data" KESTAVO_LINES="$D2/lines" KESTAVO_ALSA=off KESTAVO_LINES_PACE=fast \
  KESTAVO_LINES_START=2026-12-05T16:00:00 "$KESTAVO" --headless --until-lines-end)
script -qfec "$cmd" /dev/null </dev/null >"$D2/tty.txt" 2>&1 || { cat "$D2/tty.txt"; fail "batch run on a terminal"; }
grep -q "% done, [0-9.]*x real time, [0-9]*:[0-9][0-9]:[0-9][0-9] left" "$D2/tty.txt" \
  || { cat "$D2/tty.txt"; fail "no progress on a terminal"; }
grep -q "2 recording(s) made, $total s recorded, 2 number(s) detected" "$D2/tty.txt" \
  || { cat "$D2/tty.txt"; fail "summary: want 2 recordings, $total s, 2 numbers"; }
echo "terminal: progress and summary"

# ---- 5. events on standard output
D3=$TMP/stdout; mkdir -p "$D3/run" "$D3/home"; cp -r "$D/lines" "$D3/"; cp -r "$TMP/cfg.start" "$D3/cfg"
run_env "$D3" KESTAVO_LINES_PACE=fast KESTAVO_LINES_START=2026-12-05T16:00:00 \
  "$KESTAVO" --headless --until-lines-end --events - >"$D3/out.jsonl" 2>"$D3/err.txt" \
  || { cat "$D3/err.txt"; fail "batch run with --events - exited with an error"; }
python3 - "$D/events.jsonl" "$D3/out.jsonl" "$D" "$D3" <<'PY' || fail "--events -: standard output is not the same events"
import json, sys
first, second = ([json.loads(l) for l in open(p)] for p in sys.argv[1:3])
for e in second:
    if e.get("path"): e["path"] = e["path"].replace(sys.argv[4], sys.argv[3])
assert first == second, (first, second)
PY
grep -q "channel 1  stopped" "$D3/err.txt" || fail "--events -: the activity lines went missing"
echo "events on standard output: only the events"

# ---- 6. sidecars: one beside each recording, its numbers and offsets as kestavo-detect finds them
# in that recording (within one detection block: 71 samples, 6.4 ms)
D6=$TMP/sidecar; mkdir -p "$D6/lines" "$D6/run" "$D6/cfg/kestavo" "$D6/home"
write_line "$D6/lines/exchange.wav" 'quiet(10); dial("4951"); talk(12); quiet(20); talk(2); pulses([2, 7]); talk(4); quiet(20)'
printf '%s\r\n' "[MAIN]" "DIRS_D=0" "AUTO=0" "SIDECAR=1" \
  "[Channels1]" "CompressMode1=0" "auto1=1" "POROG1=-30" "zad_rec1=1" "zad_stop1=3" "Min_Time1=5" "PREFIX1=L_" \
  "AON1=0" "Pulse1=1" "DTMF1=1" "PulseREC1=0" > "$D6/cfg/kestavo/tevra4.ini"
run_env "$D6" KESTAVO_LINES_PACE=fast KESTAVO_LINES_START=2026-12-05T16:00:00 \
  "$KESTAVO" --headless --until-lines-end >"$D6/out.txt" 2>&1 || { cat "$D6/out.txt"; fail "sidecar run exited with an error"; }
for wav in "$D6"/home/SOUND/1/*.wav; do
  "$DETECT" "$wav" auto=0 DTMF=1 Pulse=1 PulseREC=0 AON=0 --start-at 0 >"$wav.detect" || fail "kestavo-detect $wav"
done
python3 - "$D6/home/SOUND/1" <<'PY' || { cat "$D6/out.txt"; ls -la "$D6/home/SOUND/1"; fail "sidecars"; }
import json, os, sys
folder = sys.argv[1]
names = sorted(os.listdir(folder))
wavs = [n for n in names if n.endswith(".wav")]
assert len(wavs) == 2 and sorted(n for n in names if not n.endswith(".detect")) == sorted(wavs + [w + ".json" for w in wavs]), names
found = []
for w in wavs:
    car = json.load(open(os.path.join(folder, w + ".json")))
    assert (car["channel"], car["prefix"], car["file"], car["trigger"], car["outcome"], car["fault"]) == \
        (1, "L_", w, "level", "kept", None), car
    want = [json.loads(l) for l in open(os.path.join(folder, w + ".detect"))]
    want = [(e["kind"], e["text"], e["sample"] / 11025) for e in want if e["kind"] in ("dtmf", "pulse")]
    got = [(d["detector"], d["text"], d["offset"]) for d in car["detections"]]
    assert [g[:2] for g in got] == [x[:2] for x in want], (w, got, want)
    for g, x in zip(got, want):
        assert abs(g[2] - x[2]) <= 72 / 11025, (w, g, x)
    found += [g[:2] for g in got]
assert found == [("dtmf", "4951"), ("pulse", "27")], found
PY
echo "sidecars: beside each recording, numbers and offsets as kestavo-detect finds them"
