#!/usr/bin/env bash
# Builds the Debian package from build/, installs it, and as a user without
# root converts the sample with the installed ctl2mdb and exports it from the
# installed window program under Xvfb (openbox, keys sent by xdotool). Both
# outputs must be compacted and pass jet-check --strict. Then the package is
# removed and nothing of it may be left. Needs root (apt-get); skipped without.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "package test: needs root to install the package; skipped"
  exit 0
fi

# One package test at a time on this machine: they install the same package.
exec 9>/tmp/zirirav-convert-package-test.lock
flock 9

fail() { echo "package test: FAILED: $*" >&2; exit 1; }
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq "$@"; }

rm -f build/zirirav-convert_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/zirirav-convert_*.deb)
dpkg-deb -f "$deb" Depends | grep -q fonts-ipafont-gothic || fail "no font dependency"
if dpkg-deb -f "$deb" Depends | grep -q -- '-dev'; then fail "depends on a build package"; fi

apt_get install "./$deb" >/dev/null
files=$(dpkg -L zirirav-convert | while read -r f; do [ -f "$f" ] && echo "$f"; done)
for f in /usr/bin/zirirav-convert /usr/bin/ctl2mdb /usr/bin/jet-check \
         /usr/share/zirirav-convert/KP.dbd /usr/share/applications/zirirav-convert.desktop \
         /usr/share/icons/hicolor/16x16/apps/zirirav-convert.png \
         /usr/share/icons/hicolor/scalable/apps/zirirav-convert.svg \
         /usr/share/man/man1/ctl2mdb.1.gz /usr/share/man/man1/jet-check.1.gz \
         /usr/bin/jet-compact /usr/share/man/man1/jet-compact.1.gz; do
  [ -f "$f" ] || fail "$f not installed"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/zirirav-convert.desktop || fail "desktop entry"
fi
ctl2mdb --version | grep -q "ZIriRAV Convert" || fail "ctl2mdb --version"

user=kp-package-test
made_user=0
if ! id "$user" >/dev/null 2>&1; then
  useradd --create-home --shell /bin/bash "$user"
  made_user=1
fi
work=$(runuser -u "$user" -- mktemp -d /tmp/kp-package-XXXXXX)
chmod 755 "$work"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
  if dpkg-query -W -f='${Status}' zirirav-convert 2>/dev/null | grep -q "install ok installed"; then
    apt_get remove --purge zirirav-convert >/dev/null || true
  fi
  [ "$made_user" -eq 1 ] && userdel --remove "$user" 2>/dev/null || true
}
trap cleanup EXIT
as_user() { runuser -u "$user" -- env HOME="$work" "$@"; }

as_user cp -r "$src/samples/kp-sample" "$work/doc"
as_user mkdir "$work/cli" "$work/gui"

# The command line.
as_user /usr/bin/ctl2mdb "$work/doc" "$work/cli/sample.mdb" 2>"$work/cli.err" ||
  fail "ctl2mdb: $(cat "$work/cli.err")"
grep -q "最適化に成功しました。" "$work/cli.err" || fail "ctl2mdb did not compact"
as_user /usr/bin/jet-check --strict "$work/cli/sample.mdb" || fail "jet-check on ctl2mdb's output"
[ "$(ls -A "$work/cli")" = "sample.mdb" ] || fail "ctl2mdb left files: $(ls -A "$work/cli")"

# The window: load the sample, export it, dismiss the three messages.
Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp 8>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.2; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"
as_user env DISPLAY="$DISPLAY" openbox >/dev/null 2>&1 &
as_user env DISPLAY="$DISPLAY" /usr/bin/zirirav-convert 2>"$work/gui.err" &
app_pid=$!

# Windows come and go while xdotool walks the tree, which can make one search
# fail: every wait polls.
find_window() {  # prints the first visible window named $1 within $2 seconds
  for _ in $(seq $(($2 * 5))); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  return 1
}
main=$(find_window '^ZIriRAV Convert Version 1\.0$' 120) ||
  fail "the main window did not show: $(cat "$work/gui.err")"
wait_active_not() {  # waits until the active window is another than $1
  for _ in $(seq 300); do
    w=$(xdotool getactivewindow 2>/dev/null || true)
    [ -n "$w" ] && [ "$w" != "$1" ] && { sleep 0.5; return 0; }
    sleep 0.2
  done
  fail "no new window after $2"
}
wait_message() {  # waits for a message box, presses OK, waits until it is gone
  box=$(find_window '^ZIriRAV Convert$' 120) || fail "no message after $1"
  sleep 0.5
  xdotool windowactivate --sync "$box" key Return 2>/dev/null || true
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^ZIriRAV Convert$' 2>/dev/null | grep -qx "$box" || return 0
    sleep 0.2
  done
  fail "the message after $1 stayed"
}
xdotool windowactivate --sync "$main"
sleep 0.5
xdotool key space                                   # KPファイル読込
wait_active_not "$main" "the load button"
xdotool type --delay 10 "$work/doc/DEFAULT.CTL"
xdotool key Return
wait_message "the load"
xdotool windowactivate --sync "$main"
xdotool key shift+Tab space                         # from the page list to MDB出力
wait_active_not "$main" "the export button"
xdotool type --delay 10 "$work/gui/sample.mdb"
xdotool key Return
wait_message "the save"
wait_message "the compaction"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""

[ -f "$work/gui/sample.mdb" ] || fail "the window wrote no database"
# The compacted output is the same bytes as ctl2mdb's (an uncompacted one differs).
cmp -s "$work/gui/sample.mdb" "$work/cli/sample.mdb" || fail "the window's output is not compacted"
as_user /usr/bin/jet-check --strict "$work/gui/sample.mdb" || fail "jet-check on the window's output"
[ "$(ls -A "$work/gui")" = "sample.mdb" ] || fail "the window left files: $(ls -A "$work/gui")"
[ ! -e /usr/bin/WorkDB.tmp ] || fail "a work file in /usr/bin"

apt_get remove --purge zirirav-convert >/dev/null
for f in $files; do
  [ ! -e "$f" ] || fail "$f left after removal"
done
[ ! -e /usr/share/zirirav-convert ] || fail "/usr/share/zirirav-convert left after removal"
echo "package test: installed, converted as $user (command line and window), removed: ok"
