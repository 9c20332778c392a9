#!/usr/bin/env bash
# One site end to end: a kestavo-server and two recorder processes on file-backed lines (fast
# pace) that carry a caller ID and dialled digits. Both recorders report to one catalogue through
# netlocate.so and upload to the one server. Then the catalogue holds one row per recording with
# its recorder, label, identifiers and duration, every row is marked uploaded, and each received
# file is byte-equal to the file the same recorder makes of the same line without a server.
# Usage: site_e2e.sh <kestavo> <kestavo-server> <netlocate.so> sqlite|postgresql
set -euo pipefail
KESTAVO=${1:?usage}; SERVER=${2:?usage}; LIBRARY=${3:?usage}; KIND=${4:-sqlite}
TMP=$(mktemp -d /tmp/kestavo-site-XXXXXX)
chmod 755 "$TMP"
PG_BIN=""; PG_DATA=""; SERVER_PID=""
cleanup() {
  [ -n "$SERVER_PID" ] && kill -TERM "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null || true
  if [ -n "$PG_DATA" ]; then runuser -u postgres -- "$PG_BIN/pg_ctl" -D "$PG_DATA" -m immediate stop >/dev/null 2>&1 || true; fi
  [ -n "${KEEP_TMP:-}" ] || rm -rf "$TMP"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$TMP"/*.log; do [ -f "$f" ] && { echo "== $f"; tail -20 "$f"; }; done; exit 1; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# A mono line: hiss; a tone that starts the recording; the caller ID cycle "H12345679H1" (number
# 765432) in 40 ms symbols; the digits 2468 in DTMF; more tone so the recording outlasts Min_Time.
write_line() {
  python3 - "$1" "$2" <<'PY'
import math, struct, sys
path, seed = sys.argv[1], int(sys.argv[2])
rate = 11025
s = [((i * 7 + seed) % 5 - 2) for i in range(rate * 30)]
def put(at_s, samples):
    a = int(at_s * rate)
    for i, v in enumerate(samples):
        s[a + i] = int(max(-32767, min(32767, s[a + i] + v)))
def tone(f, secs, amp):
    return [amp * math.sin(2 * math.pi * f * i / rate) for i in range(int(secs * rate))]
hz = [700, 900, 1100, 1300, 1500, 1700]
pairs = dict(zip("1234567890HP", [(0,1),(0,2),(1,2),(0,3),(1,3),(2,3),(0,4),(1,4),(2,4),(3,4),(2,5),(3,5)]))
def aon(symbols):
    out, n = [], 0
    for c in symbols:
        lo, hi = pairs[c]
        for _ in range(int(0.040 * rate)):
            t = n / rate
            out.append(3277 * (math.sin(2 * math.pi * hz[lo] * t) + math.sin(2 * math.pi * hz[hi] * t)))
            n += 1
    return out
keys = "123A456B789C*0#D"; rows = [697, 770, 852, 941]; cols = [1209, 1336, 1477, 1633]
def dtmf(digits):
    out = []
    for d in digits:
        k = keys.index(d)
        out += [5000 * (math.sin(2 * math.pi * rows[k // 4] * i / rate) + math.sin(2 * math.pi * cols[k % 4] * i / rate))
                for i in range(int(0.1 * rate))]
        out += [0] * int(0.1 * rate)
    return out
put(3.0, tone(440, 2.0, 8000))
put(5.3, aon("H12345679H1"))
put(6.5, dtmf("2468"))
put(8.0, tone(440, 6.0, 8000))
data = b"".join(struct.pack("<h", v) for v in s)
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) + b"data" + struct.pack("<I", len(data)) + data)
PY
}

# configure <dir> <user> [server name] [catalogue]: a recorder folder, its line and configuration.
configure() {
  local d=$1 user=$2 name=${3:-} port=${4:-}
  mkdir -p "$d/home" "$d/cfg/kestavo" "$d/run" "$d/lines"
  cp "$TMP/line.wav" "$d/lines/line.wav"
  local server=()
  if [ -n "$name" ]; then
    cp "$LIBRARY" "$d/home/netlocate.so"
    server=("[SERVER]" "NAME=$name" "PORT=$port" "USER=$user" "[SEVRER]" "ENABLED=1")
  fi
  printf '%s\r\n' "[MAIN]" "DIRS_D=0" "AUTO=0" "${server[@]}" \
    "[Channels1]" "CompressMode1=0" "auto1=1" "POROG1=-40" "zad_rec1=1" "zad_stop1=3" "Min_Time1=5" "PREFIX1=$user" \
    "AON1=1" "DTMF1=1" "Pulse1=0" > "$d/cfg/kestavo/tevra4.ini"
}
run_recorder() {  # run_recorder <dir>
  local d=$1
  env KESTAVO_HOME="$d/home" XDG_CONFIG_HOME="$d/cfg" XDG_RUNTIME_DIR="$d/run" XDG_DATA_HOME="$d/data" \
      KESTAVO_LINES="$d/lines" KESTAVO_ALSA=off KESTAVO_LINES_PACE=fast KESTAVO_LINES_START=2026-12-05T16:00:00 \
      KESTAVO_UPLOAD_PORT="$UPLOAD_PORT" KESTAVO_SEARCH_PORT=0 \
      "$KESTAVO" --headless --until-lines-end > "$d.log" 2>&1
}

write_line "$TMP/line.wav" 1

# ---- the catalogue
if [ "$KIND" = postgresql ]; then
  # PostgreSQL refuses to run as root: the cluster runs as the postgres user, which needs root to become.
  if [ "$(id -u)" != 0 ] || ! id postgres >/dev/null 2>&1 || ! ls -d /usr/lib/postgresql/*/bin >/dev/null 2>&1; then
    echo "SKIP: a PostgreSQL cluster needs root and the postgres user"; exit 77
  fi
  PG_BIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
  PG_DATA=$TMP/pgdata; PG_SOCK=$TMP/pgsock; PG_PORT=$(free_port)
  mkdir -p "$PG_DATA" "$PG_SOCK"; chown postgres "$PG_DATA" "$PG_SOCK"
  runuser -u postgres -- "$PG_BIN/initdb" -D "$PG_DATA" -A trust -U kestavo > "$TMP/initdb.log" 2>&1 || fail "initdb"
  runuser -u postgres -- "$PG_BIN/pg_ctl" -D "$PG_DATA" -l "$PG_SOCK/postgres.log" -w \
      -o "-k $PG_SOCK -p $PG_PORT -c listen_addresses=''" start > /dev/null || fail "postgres start"
  runuser -u postgres -- "$PG_BIN/createdb" -h "$PG_SOCK" -p "$PG_PORT" -U kestavo site || fail "createdb"
  CATALOGUE="host=$PG_SOCK port=$PG_PORT user=kestavo dbname=site"
  query() { runuser -u postgres -- psql -h "$PG_SOCK" -p "$PG_PORT" -U kestavo -d site -At -F'|' -c "$1"; }
else
  CATALOGUE="sqlite:$TMP/store/catalogue.sqlite"
  query() { python3 -c 'import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); [print("|".join(map(str,r))) for r in c.execute(sys.argv[2])]' "$TMP/store/catalogue.sqlite" "$1"; }
fi

# ---- the server
UPLOAD_PORT=$(free_port)
"$SERVER" --listen "127.0.0.1:$UPLOAD_PORT" --store "$TMP/store" --catalogue "$CATALOGUE" --search-port 0 --http 127.0.0.1:0 \
    > "$TMP/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do grep -q "uploads on port" "$TMP/server.log" && break; sleep 0.1; done
grep -q "uploads on port $UPLOAD_PORT" "$TMP/server.log" || fail "server did not start"

# ---- two recorders with the server, and the same two without it for the reference files
configure "$TMP/deskA" deskA "site@127.0.0.1" "$CATALOGUE"
configure "$TMP/deskB" deskB "site@127.0.0.1" "$CATALOGUE"
configure "$TMP/refA" deskA
run_recorder "$TMP/deskA" & a=$!
run_recorder "$TMP/deskB" & b=$!
wait $a || fail "recorder A failed"
wait $b || fail "recorder B failed"
run_recorder "$TMP/refA" || fail "reference recorder failed"

# ---- what the server has
for _ in $(seq 100); do [ "$(ls "$TMP/store" | grep -c '\.wav$')" -ge 2 ] && break; sleep 0.1; done
ref=$(ls "$TMP/refA/home/SOUND/1"/*.wav | head -1)
[ -f "$ref" ] || fail "no reference recording"
received=$(ls "$TMP/store" | grep '\.wav$' | sort)
[ "$(echo "$received" | wc -l)" = 2 ] || fail "server has [$received]"
while IFS= read -r f; do
  cmp -s "$TMP/store/$f" "$ref" || fail "$f differs from the recording made without the server"
done <<< "$received"
for d in deskA deskB; do
  [ -z "$(ls "$TMP/$d/home/TEMP")" ] || fail "$d kept [$(ls "$TMP/$d/home/TEMP")] in TEMP"
  [ ! -s "$TMP/$d/home/upload.queue" ] || fail "$d still has queued uploads"
done

rows=$(query "SELECT recorder, channel, file, state, duration FROM recordings ORDER BY recorder")
[ "$(echo "$rows" | wc -l)" = 2 ] || fail "catalogue rows: [$rows]"
for d in deskA deskB; do
  row=$(echo "$rows" | grep "^$d|") || fail "no row of $d: [$rows]"
  IFS='|' read -r _ channel file state duration <<< "$row"
  [ "$channel" = 1 ] && [ "$state" = uploaded ] || fail "row of $d: [$row]"
  echo "$received" | grep -qxF "$file" || fail "row of $d names [$file], the server has [$received]"
  [[ "$duration" =~ ^0:00:[0-9][0-9]$ ]] && [ "${duration#0:00:}" -ge 5 ] || fail "duration of $d: [$duration]"
  # The numbers the recorder detected, as its log shows them: the caller ID 765432 of the line, and the digits.
  grep -q "detected caller ID 765432" "$TMP/$d.log" || fail "$d did not detect the caller ID"
  want=$(sed -n 's/.*detected caller ID \([0-9]*\).*/aon:\1/p; s/.*detected DTMF \([0-9*#A-D]*\).*/digits:\1/p' "$TMP/$d.log" | tr '\n' ' ')
  ids=$(query "SELECT kind || ':' || text FROM identifiers WHERE recorder = '$d' ORDER BY key" | tr '\n' ' ')
  [ "$ids" = "$want" ] || fail "identifiers of $d: [$ids], the recorder detected [$want]"
done
label=$(query "SELECT DISTINCT label FROM recordings")
[ "$label" = "$(hostname | cut -c1-15 | xargs) 1" ] || fail "label [$label]"

# ---- the web page in a real browser: search by number, channel and date, and the players' files
WEB_PORT=$(sed -n 's/.*web page on port \([0-9]*\).*/\1/p' "$TMP/server.log")
[ -n "$WEB_PORT" ] && [ "$WEB_PORT" != 0 ] || fail "no web page port"
browse() {  # browse <url>: the page as chromium builds it
  chromium --headless --no-sandbox --disable-gpu --user-data-dir="$TMP/chromium" --dump-dom "$1" 2> "$TMP/chromium.log"
}
# The catalogue's start times are the library's clock (the wall clock), not the lines' fast clock.
today=$(date +%F)
page=$(browse "http://127.0.0.1:$WEB_PORT/?number=5432&channel=1&date=$today")
[ "$(grep -o 'class="recording"' <<< "$page" | wc -l)" = 2 ] || fail "search by number, channel and date: [$page]"
grep -q 'id="count">2 found' <<< "$page" || fail "count: [$page]"
src=$(grep -o '<audio[^>]*src="[^"]*"' <<< "$page" | head -1 | sed 's/.*src="//; s/"$//')
[ -n "$src" ] || fail "no player on the page"
curl -sf "http://127.0.0.1:$WEB_PORT$src" -o "$TMP/played.wav" || fail "the player's file $src"
cmp -s "$TMP/played.wav" "$ref" || fail "the player's file differs from the recording"
for q in "number=999" "channel=2" "date=2001-01-01"; do
  page=$(browse "http://127.0.0.1:$WEB_PORT/?$q")
  grep -q 'id="count">0 found' <<< "$page" || fail "search $q found something: [$page]"
done
echo "site with $KIND: 2 recorders, 2 rows, 2 byte-equal files, the web page finds them and serves their players the received bytes"
