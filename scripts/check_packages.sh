#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh) and checks them without installing anything
# into the system: each .deb is unpacked into a throw-away root and must hold its files; the
# Qt-free package must not depend on Qt; the systemd units must pass `systemd-analyze verify`
# (their programs taken from the unpacked root); the man pages must render without a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir="$PWD"
out="$root_dir/build/packages"
scripts/package.sh "$out" >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "check_packages: FAIL: $*" >&2; exit 1; }

deb() { ls "$out"/"$1"_*.deb 2>/dev/null | head -n 1; }
expect_files() {  # expect_files <package> <path>...
  local pkg=$1; shift
  local file; file=$(deb "$pkg")
  [ -n "$file" ] || fail "no package $pkg in $out"
  dpkg-deb -x "$file" "$WORK/root"
  for f in "$@"; do [ -e "$WORK/root/$f" ] || fail "$pkg lacks /$f"; done
  echo "$pkg: $(dpkg-deb -f "$file" Depends)"
}

expect_files kestavo usr/bin/kestavo usr/bin/kestavo-detect usr/share/kestavo/English.txt \
  usr/share/kestavo/Russian.txt usr/share/doc/kestavo/configuration.md \
  usr/share/man/man1/kestavo.1 usr/share/man/man1/kestavo-detect.1 usr/lib/systemd/system/kestavo.service \
  usr/lib/sysusers.d/kestavo.conf
compgen -G "$WORK/root/usr/lib/*/kestavo/netlocate.so" >/dev/null || [ -e "$WORK/root/usr/lib/kestavo/netlocate.so" ] \
  || fail "kestavo lacks the server access library netlocate.so"
# The manual the window's Help opens, in both languages, with the pictures it shows, and every
# file the source ships under docs/manual installed.
for lang in en ru; do
  expect_files kestavo usr/share/kestavo/manual/$lang/manual.md usr/share/kestavo/screenshot-$lang.png \
    usr/share/kestavo/channel-dialog-$lang.png >/dev/null
done
for f in $(cd docs && find manual -type f); do
  cmp -s "docs/$f" "$WORK/root/usr/share/kestavo/$f" || fail "kestavo lacks /usr/share/kestavo/$f as shipped"
done
depends=$(dpkg-deb -f "$(deb kestavo)" Depends)
echo "$depends" | grep -q libasound2 || fail "kestavo does not depend on ALSA: $depends"
echo "$depends" | grep -qi qt && fail "kestavo depends on Qt: $depends"
dpkg-deb -e "$(deb kestavo)" "$WORK/control"
sh -n "$WORK/control/postinst" || fail "kestavo's postinst is not a valid shell script"
expect_files kestavo-desktop usr/bin/kestavo-desktop usr/share/applications/kestavo-desktop.desktop
dpkg-deb -f "$(deb kestavo-desktop)" Depends | grep -q "kestavo (=" || fail "kestavo-desktop does not need kestavo"
dpkg-deb -f "$(deb kestavo-desktop)" Depends | grep -q libqt6widgets6 || fail "kestavo-desktop does not need Qt"
# The unpacked programs answer.
"$WORK/root/usr/bin/kestavo" --version | grep -q "^kestavo " || fail "the packaged kestavo does not run"
"$WORK/root/usr/bin/kestavo-detect" --version | grep -q "^kestavo-detect " || fail "the packaged kestavo-detect does not run"
# The unpacked recorder finds its installed language tables: a short batch over its
# demo line (no sound card, no lines) copies them into a fresh program folder.
run=$WORK/run; mkdir -p "$run/lines"
env KESTAVO_HOME="$run/home" XDG_CONFIG_HOME="$run/cfg" XDG_RUNTIME_DIR="$run" XDG_DATA_HOME="$run/data" \
    KESTAVO_LINES="$run/lines" KESTAVO_ALSA=off KESTAVO_LINES_PACE=fast \
    timeout 120 "$WORK/root/usr/bin/kestavo" --headless --until-lines-end >"$run/out.txt" 2>&1 \
  || { cat "$run/out.txt" >&2; fail "the packaged kestavo did not run its demo line"; }
for f in English.txt Russian.txt; do
  cmp -s "$WORK/root/usr/share/kestavo/$f" "$run/home/$f" || fail "the packaged kestavo did not install its $f"
done
if [ -n "$(deb kestavo-server)" ]; then
  expect_files kestavo-server usr/bin/kestavo-server usr/share/man/man8/kestavo-server.8 \
    usr/lib/systemd/system/kestavo-server.service
fi

# Units: verified as installed, with their programs pointing into the unpacked root (so that
# the check runs in a container without the packages installed and without systemd running).
mkdir -p "$WORK/units"
for unit in packaging/kestavo.service packaging/kestavo-server.service; do
  name=$(basename "$unit")
  exec_line=$(grep '^ExecStart=' "$unit")
  program=${exec_line#ExecStart=}; program=${program%% *}
  if [ ! -x "$WORK/root$program" ]; then  # a program still to come: a stand-in of that name
    mkdir -p "$WORK/stand-in"; printf '#!/bin/sh\n' >"$WORK/stand-in/$(basename "$program")"
    chmod +x "$WORK/stand-in/$(basename "$program")"
    sed "s|^ExecStart=$program|ExecStart=$WORK/stand-in/$(basename "$program")|" "$unit" >"$WORK/units/$name"
  else
    sed "s|^ExecStart=$program|ExecStart=$WORK/root$program|" "$unit" >"$WORK/units/$name"
  fi
  if ! SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$WORK/units/$name" >"$WORK/verify.txt" 2>&1 \
     || grep -v "^$" "$WORK/verify.txt" | grep -q .; then
    cat "$WORK/verify.txt" >&2
    fail "systemd-analyze verify $name"
  fi
  echo "$name: verified"
done

# Man pages, as packaged (and those of programs still to come from the source): rendered at a
# fixed width, no pager; any troff or man warning fails.
for page in "$WORK"/root/usr/share/man/man*/* docs/man/*.[18]; do
  MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$page" >"$WORK/page.txt" 2>"$WORK/warnings.txt" \
    || fail "man -l $page"
  [ ! -s "$WORK/warnings.txt" ] || { cat "$WORK/warnings.txt" >&2; fail "$page renders with warnings"; }
  [ "$(wc -l <"$WORK/page.txt")" -gt 10 ] || fail "$page renders almost empty"
done
echo "check_packages: packages, units and man pages as expected"
