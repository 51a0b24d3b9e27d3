#!/usr/bin/env bash
# The Windows programs, tested under Wine (64-bit, no display needed):
#   1. builds them (scripts/build-windows.sh) and runs the test suites under Wine;
#   2. every program names only Windows' own DLLs (statically linked);
#   3. the sample and a generated 3,000-page document converted by ctl2mdb.exe
#      give the Linux ctl2mdb's database byte for byte, the same messages and
#      exit status, and the same tables in mdbtools and mdb-reader;
#   4. a document in a folder with a Japanese name and a space converts; an
#      output another program holds open is refused and left as it was;
#   5. the installer installs silently into a fresh Wine prefix, the installed
#      ctl2mdb.exe converts the sample, and the uninstaller leaves nothing behind.
# The Linux programs come from LINUX_BUILD (build/, made by scripts/test.sh).
#
#   bash scripts/test-windows.sh [WINDOWS_BUILD [LINUX_BUILD]]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
win=$(realpath -m "${1:-build-windows}")
linux=$(realpath -m "${2:-build}")
started=$(date +%s)

bash scripts/build-windows.sh "$win"
run="$win/wine-run.sh"  # runs a program under Wine in the build's own prefix
unset DISPLAY WAYLAND_DISPLAY

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# A Unix path as a Windows program sees it (drive Z: is the root).
winpath() {
  local p
  p=$(realpath -m "$1")
  echo "Z:${p//\//\\}"
}

# 1. The test suites, cross-built, under Wine (CTest's cross-compiling emulator).
# A test that fails is run once more on its own: now and then Wine's server
# drops a client that starts as it shuts down ("wine client error: recvmsg:
# Connection reset by peer"), which says nothing of the program. A test that
# fails twice fails the run.
"$run" --init
ctest --test-dir "$win" --output-on-failure -j "$(nproc)" ||
  ctest --test-dir "$win" --output-on-failure --rerun-failed ||
  fail "test suites under Wine"

# 2. Statically linked: only the system's own DLLs.
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|ws2_32|bcrypt|ntdll|uxtheme|dwmapi|imm32|version|winmm|userenv)\.dll$'
for exe in ctl2mdb jet-check jet-compact zirirav-convert; do
  [ -f "$win/$exe.exe" ] || { [ "$exe" = zirirav-convert ] && continue; fail "$exe.exe was not built"; continue; }
  dlls=$(x86_64-w64-mingw32-objdump -p "$win/$exe.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  others=$(echo "$dlls" | grep -v -E "$allowed" || true)
  [ -z "$others" ] || fail "$exe.exe needs DLLs that are not Windows' own: $others"
  x86_64-w64-mingw32-objdump -f "$win/$exe.exe" | grep -q 'pei-x86-64' || fail "$exe.exe is not 64-bit"
done
for f in KP.dbd zirirav-convert-*-win64.zip zirirav-convert-*-win64-setup.exe; do
  compgen -G "$win/$f" >/dev/null || fail "$f was not made"
done
cmp -s "$win/KP.dbd" "$linux/KP.dbd" || fail "KP.dbd differs from the Linux build's"

work=$(mktemp -d "${TMPDIR:-/tmp}/kp-windows-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The same database, tables and messages from both programs. compare NAME
# DOCUMENT: converts DOCUMENT with each; the outputs are NAME-linux.mdb and
# NAME-windows.mdb in $work.
same_in_readers() {
  local a=$1 b=$2 name=$3
  if command -v mdb-tables >/dev/null; then
    for t in $(mdb-tables -1 "$a"); do
      cmp -s <(mdb-export "$a" "$t") <(mdb-export "$b" "$t") || fail "$name: table $t differs in mdbtools"
    done
  fi
  if command -v node >/dev/null && [ -d tests/js/node_modules/mdb-reader ]; then
    cmp -s <(node tests/js/mdb_dump.mjs "$a" --system) <(node tests/js/mdb_dump.mjs "$b" --system) ||
      fail "$name: tables differ in mdb-reader"
  fi
}
compare() {
  local name=$1 doc=$2 lrc=0 wrc=0
  "$linux/ctl2mdb" "$doc" "$work/$name-linux.mdb" 2>"$work/$name-linux.err" || lrc=$?
  "$run" "$win/ctl2mdb.exe" "$(winpath "$doc")" "$(winpath "$work/$name-windows.mdb")" \
    2>"$work/$name-windows.err" </dev/null || wrc=$?
  [ "$lrc" = 0 ] || fail "$name: the Linux ctl2mdb failed ($lrc)"
  [ "$wrc" = "$lrc" ] || fail "$name: exit status $wrc under Wine, $lrc on Linux: $(cat "$work/$name-windows.err")"
  cmp -s "$work/$name-linux.err" "$work/$name-windows.err" || fail "$name: the messages differ"
  cmp -s "$work/$name-linux.mdb" "$work/$name-windows.mdb" || fail "$name: the databases differ"
  same_in_readers "$work/$name-linux.mdb" "$work/$name-windows.mdb" "$name"
}

# 3. The sample and a generated 3,000-page document.
compare sample "$root/samples/kp-sample"
"$linux/make-sample" --pages 3000 "$work/doc3000" >/dev/null
compare pages3000 "$work/doc3000"
list_lin=$("$linux/ctl2mdb" --list "$root/samples/kp-sample")
list_win=$("$run" "$win/ctl2mdb.exe" --list "$(winpath "$root/samples/kp-sample")" </dev/null)
[ "$list_lin" = "$list_win" ] || fail "ctl2mdb --list prints other text under Wine"

# 4. A folder with a Japanese name and a space, for the document and the output.
jp="$work/資料 フォルダ"
mkdir -p "$jp"
cp -r "$root/samples/kp-sample" "$jp/見本 文書"
"$run" "$win/ctl2mdb.exe" "$(winpath "$jp/見本 文書/DEFAULT.CTL")" "$(winpath "$jp/出力 結果.mdb")" \
  2>"$work/jp.err" </dev/null || fail "a Japanese folder name with a space: $(cat "$work/jp.err")"
cmp -s "$jp/出力 結果.mdb" "$work/sample-linux.mdb" || fail "a Japanese folder name with a space: other database"

# An output another program holds open without delete sharing (as Access does).
held="$work/held.mdb"
printf 'the database another program has open\n' >"$held"
cp "$held" "$work/held.before"
"$run" "$win/hold-open.exe" "$(winpath "$held")" "$(winpath "$work/ready")" "$(winpath "$work/release")" \
  </dev/null &
holder=$!
for _ in $(seq 600); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || fail "hold-open did not start"
hrc=0
"$run" "$win/ctl2mdb.exe" "$(winpath "$root/samples/kp-sample")" "$(winpath "$held")" \
  2>"$work/held.err" </dev/null || hrc=$?
touch "$work/release"
wait "$holder" || true
[ "$hrc" = 1 ] || fail "an output held open: exit status $hrc, not 1"
grep -q '^保存に失敗しました。$' "$work/held.err" || fail "an output held open: no save failure: $(cat "$work/held.err")"
cmp -s "$held" "$work/held.before" || fail "an output held open was changed"

# 5. The installer, in a fresh prefix: silent install for the current user,
# the installed converter, silent uninstall.
setup=$(ls "$win"/zirirav-convert-*-win64-setup.exe)
export WINEPREFIX="$work/prefix"
"$run" --init
listing() { (cd "$WINEPREFIX" && find drive_c -path 'drive_c/windows' -prune -o -print | LC_ALL=C sort; \
  grep -i -c 'zirirav' system.reg user.reg || true); }
listing >"$work/prefix.before"
"$run" "$(winpath "$setup")" /S </dev/null || fail "the silent install failed"
"$run" --server -w
appdir=$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -type d -path '*/AppData/Local/Programs/ZIriRAV Convert' | head -1)
if [ -z "$appdir" ]; then
  fail "the installer put nothing into the user's programs folder"
else
  for f in ctl2mdb.exe jet-check.exe jet-compact.exe KP.dbd README.txt uninstall.exe; do
    [ -f "$appdir/$f" ] || fail "the installer left out $f"
  done
  if [ -f "$win/zirirav-convert.exe" ]; then
    [ -f "$appdir/zirirav-convert.exe" ] || fail "the installer left out zirirav-convert.exe"
    find "$WINEPREFIX/drive_c/users" -name 'ZIriRAV Convert.lnk' | grep -q 'Start Menu' ||
      fail "no Start-menu entry"
    grep -q 'ZIriRAVConvert.ControlFile' "$WINEPREFIX/user.reg" || fail "no \"Open with\" for DEFAULT.CTL"
  fi
  "$run" "$(winpath "$appdir/ctl2mdb.exe")" "$(winpath "$root/samples/kp-sample")" \
    "$(winpath "$work/installed.mdb")" 2>"$work/installed.err" </dev/null ||
    fail "the installed ctl2mdb.exe failed: $(cat "$work/installed.err")"
  cmp -s "$work/installed.mdb" "$work/sample-linux.mdb" || fail "the installed ctl2mdb.exe wrote another database"
  "$run" "$(winpath "$appdir/uninstall.exe")" /S </dev/null || fail "the silent uninstall failed"
  "$run" --server -w
  # The uninstaller runs from a copy of itself in the temporary folder
  # (~nsu*.tmp), which Windows removes at the next start; it is not compared.
  listing | grep -v '/Temp/~nsu' >"$work/prefix.after"
  grep -v '/Temp/~nsu' "$work/prefix.before" >"$work/prefix.before.cmp" || true
  diff "$work/prefix.before.cmp" "$work/prefix.after" >"$work/prefix.diff" ||
    fail "the uninstaller left something behind: $(cat "$work/prefix.diff")"
fi
"$run" --server -k || true
unset WINEPREFIX

echo "Windows tests: $(( $(date +%s) - started )) s, $failures failed"
[ "$failures" = 0 ]
