#!/usr/bin/env bash
# Builds the Debian package from build/, installs it, and as a user without
# root converts the sample with the installed ctl2mdb and exports it from the
# installed window program under Xvfb (tests/gui/drive_window.sh). Both
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
         /usr/bin/jet-compact /usr/share/man/man1/jet-compact.1.gz \
         /usr/share/man/man1/zirirav-convert.1.gz \
         /usr/share/metainfo/invalid.zirirav_convert.zirirav_convert.metainfo.xml; do
  [ -f "$f" ] || fail "$f not installed"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/zirirav-convert.desktop || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net /usr/share/metainfo/invalid.zirirav_convert.zirirav_convert.metainfo.xml \
    >/dev/null || fail "AppStream metadata"
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
cleanup() {
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

# The window, driven by mouse and keys on a virtual display as the window test
# does it, but the installed program as that user.
cp "$src/tests/gui/drive_window.sh" "$work/drive_window.sh"
as_user bash "$work/drive_window.sh" /usr/bin "$work/doc/DEFAULT.CTL" "$work/gui" >"$work/gui.log" 2>&1 ||
  fail "the window: $(tail -5 "$work/gui.log")"
# Compacted, it is the same bytes as ctl2mdb's output (an uncompacted one differs).
cmp -s "$work/gui/window.MDB" "$work/cli/sample.mdb" || fail "the window's output is not compacted"
as_user /usr/bin/jet-check --strict "$work/gui/window.MDB" || fail "jet-check on the window's output"
left=$(ls -A "$work/gui" | grep -v -e '\.png$' -e '^window\.MDB$' -e '^cli\.MDB$' -e '^program\.log$' || true)
[ -z "$left" ] || fail "the window left files: $left"
[ ! -e /usr/bin/WorkDB.tmp ] || fail "a work file in /usr/bin"

apt_get remove --purge zirirav-convert >/dev/null
for f in $files; do
  [ ! -e "$f" ] || fail "$f left after removal"
done
[ ! -e /usr/share/zirirav-convert ] || fail "/usr/share/zirirav-convert left after removal"
echo "package test: installed, converted as $user (command line and window), removed: ok"
