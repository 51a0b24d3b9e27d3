#!/usr/bin/env bash
# Drives the Windows program under Wine as a person does, on a virtual display
# with a window manager: mouse clicks at the controls' places (twips at the
# display's DPI), keys in the real file dialogs and message boxes. Loads a
# document, looks at a second page and every tab, exports it (both messages)
# and closes the window; the database it wrote must read back equal to what
# the command-line converter writes. Then the window at 144 DPI, started with
# the file: second page, screenshot, a cancelled save, close.
#
#   drive_window_win32.sh WINDOWS_BUILD_DIR DOCUMENT/DEFAULT.CTL OUT_DIR [SCREENSHOT.png]
#
# WINDOWS_BUILD_DIR holds zirirav-convert.exe, ctl2mdb.exe and KP.dbd. The
# database is compared with the Linux ctl2mdb's when KP_LINUX_BUILD names a
# build that has one, else with ctl2mdb.exe's. Screenshots of each step land
# in OUT_DIR. Exit 0 on success, 77 when a tool is missing (a skip), 1 on any
# failure.
#
# The Wine prefix (OUT_DIR/wine, kept between runs) is made to look like a
# Japanese Windows for this test alone: the IPA Gothic faces stand in for
# ＭＳ ゴシック and ＭＳ Ｐゴシック and back the system's dialog font. The
# program itself relies on none of it.
set -uo pipefail
build=$(realpath "$1") ctl=$(realpath "$2") out=$3 shot=${4:-}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || wine=$(command -v wine || true)
for tool in Xvfb openbox xdotool import mdb-export mdb-tables "$wine"; do
  command -v "$tool" >/dev/null || { echo "skip: $tool is not installed"; exit 77; }
done
ipa=/usr/share/fonts/opentype/ipafont-gothic
[ -f "$ipa/ipag.ttf" ] && [ -f "$ipa/ipagp.ttf" ] || { echo "skip: fonts-ipafont-gothic is not installed"; exit 77; }
[ -f "$build/zirirav-convert.exe" ] || { echo "FAIL: no $build/zirirav-convert.exe"; exit 1; }
mkdir -p "$out"
out=$(realpath "$out")
rm -f "$out"/*.png "$out/window.MDB" "$out/cli.MDB"
export WINEPREFIX="$out/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  WINEPREFIX="$out/wine" wineserver -k 2>/dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; import -window root "$out/failure.png" 2>/dev/null; exit 1; }

# The prefix, once: Japanese faces, then the dialog font backed by them.
if [ ! -f "$WINEPREFIX/.kp-ready" ]; then
  "$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot"
  wineserver -w
  ln -sf "$ipa/ipag.ttf" "$ipa/ipagp.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
  reg=$(mktemp --suffix=.reg)
  {
    printf '\xff\xfe'
    iconv -f UTF-8 -t UTF-16LE <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ ゴシック"="IPAGothic"
"ＭＳ Ｐゴシック"="IPAPGothic"
"MS Gothic"="IPAGothic"
"MS PGothic"="IPAPGothic"
"MS UI Gothic"="IPAPGothic"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"=hex(7):69,00,70,00,61,00,67,00,70,00,2e,00,74,00,74,00,66,00,2c,00,49,00,50,00,41,00,50,00,47,00,6f,00,74,00,68,00,69,00,63,00,00,00,00,00
EOF
  } >"$reg"
  "$wine" regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "$reg")" >/dev/null 2>&1 || fail "regedit"
  wineserver -w
  rm -f "$reg"
  touch "$WINEPREFIX/.kp-ready"
fi
set_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -w
}

# A free display, large enough for the window at 144 DPI.
for n in $(seq 70 99); do [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }; done
export DISPLAY=$display
Xvfb "$DISPLAY" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
sleep 0.5

wait_window() {  # a visible window whose whole name matches $1; given the keyboard
  local id
  for _ in $(seq 160); do
    id=$(xdotool search --onlyvisible --name "^($1)\$" 2>/dev/null | tail -1)
    if [ -n "$id" ]; then
      xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
      sleep 0.3
      echo "$id"
      return 0
    fi
    sleep 0.25
  done
  return 1
}
answer_message() {  # a message box ($1 says which): OK with the Return key
  wait_window "ZIriRAV Convert" >/dev/null || fail "no message box ($1)"
  xdotool key Return
  sleep 0.5
}
type_path() {  # into the file dialog whose title matches $1
  wait_window "$1" >/dev/null || fail "no dialog '$1'"
  xdotool type --delay 5 "$2"
  sleep 0.2
  xdotool key Return
}
px() { echo $((($1 * dpi + 720) / 1440)); }  # twips to pixels at $dpi
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.5; }
# Places in twips, from the window's design at its design size: the two
# buttons' centres, the tab row's middle, each tab's share of its width.
click_load() { click "$(px 1417)" "$(px 487)"; }
click_export() { click "$(px 1417)" "$(px 1507)"; }
click_page2() { click "$(px 4500)" "$(((43 * dpi + 48) / 96))"; }
click_tab() { local w=$((($(px 8670) - 4) / 4)); click $(($(px 2820) + 2 + w * $1 + w / 2)) "$(px 5462)"; }
start() {  # [the file to open with]
  "$wine" "$build/zirirav-convert.exe" "$@" >>"$out/program.log" 2>&1 & app=$!; pids+=($app)
  main=$(wait_window "ZIriRAV Convert Version 1.0") || fail "the window did not open at $dpi dpi"
  sleep 0.5
}
close_window() {
  xdotool windowactivate --sync "$main" 2>/dev/null
  xdotool key --window "$main" alt+F4
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "the program did not end when its window closed ($dpi dpi)"
  xdotool keyup alt F4 2>/dev/null
}
load() {
  click_load
  type_path "Open|開く" "$(winepath -w "$ctl")"
  answer_message "読込に成功しました。"
}

dpi=96
set_dpi $dpi
start
import -window root "$out/1-start.png"
load
import -window root "$out/2-loaded.png"
click_page2
import -window root "$out/3-page2.png"
[ -n "$shot" ] && import -window "$main" "$shot"
for t in 1 2 3 0; do
  click_tab $t
  import -window root "$out/4-tab$t.png"
done
click_export
type_path "Save As|名前を付けて保存" "$(winepath -w "$out/window.MDB")"
answer_message "保存に成功しました。"
answer_message "最適化に成功しました。"
import -window root "$out/5-exported.png"
close_window

# At 144 dpi, started with the file as "Open with" does: the load's message
# without the open dialog, then a cancelled save is a failure.
dpi=144
set_dpi $dpi
start "$(winepath -w "$ctl")"
answer_message "読込に成功しました。"
click_page2
import -window root "$out/6-page2-144dpi.png"
click_export
wait_window "Save As|名前を付けて保存" >/dev/null || fail "no save dialog: the file named at start was not loaded"
xdotool key Escape
answer_message "保存に失敗しました。"
close_window
set_dpi 96

[ -s "$out/window.MDB" ] || fail "no database was written"
linux=${KP_LINUX_BUILD:-}
if [ -n "$linux" ] && [ -x "$linux/ctl2mdb" ]; then
  "$linux/ctl2mdb" "$ctl" "$out/cli.MDB" >/dev/null 2>&1 || fail "ctl2mdb failed"
  [ -x "$linux/jet-check" ] && { "$linux/jet-check" --strict "$out/window.MDB" >/dev/null || fail "jet-check --strict failed"; }
else
  "$wine" "$build/ctl2mdb.exe" "$(winepath -w "$ctl")" "$(winepath -w "$out/cli.MDB")" >/dev/null 2>&1 ||
    fail "ctl2mdb.exe failed"
fi
tables=$(mdb-tables -1 "$out/cli.MDB")
[ -n "$tables" ] || fail "no tables"
while IFS= read -r table; do
  diff <(mdb-export "$out/window.MDB" "$table") <(mdb-export "$out/cli.MDB" "$table") >/dev/null ||
    fail "table $table differs from the command line's"
done <<<"$tables"
echo "ok: loaded, inspected, exported and closed through the Windows window at 96 and 144 dpi;" \
  "$(echo "$tables" | wc -l) tables equal to the command line's"
