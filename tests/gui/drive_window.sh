#!/usr/bin/env bash
# Drives the desktop program as a person does, on a virtual display with a
# window manager: mouse clicks at the controls' places, keys in the real
# file dialogs and message boxes. Loads a document, looks at a second page
# and every tab, exports it and closes the window; the database it wrote
# must read back equal to what the command-line converter writes. A press on
# one page row released on another shows the page of the row then selected.
#
#   drive_window.sh BUILD_DIR DOCUMENT/DEFAULT.CTL OUT_DIR [SCREENSHOT.png]
#
# Then it starts the program again with the DEFAULT.CTL on its command line,
# as a file manager does: the document is loaded without the open dialog.
# Screenshots of each step land in OUT_DIR. Exit 0 on success, 77 when the
# desktop tools are missing (a skip), 1 on any failure.
set -uo pipefail
build=$1 ctl=$2 out=$3 shot=${4:-}
for tool in Xvfb openbox xdotool import mdb-export; do
  command -v "$tool" >/dev/null || { echo "skip: $tool is not installed"; exit 77; }
done
program="$build/zirirav-convert"
[ -x "$program" ] || program="$build/ziriravconvert"
mkdir -p "$out"
rm -f "$out"/*.png "$out/window.MDB" "$out/cli.MDB"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; import -window root "$out/failure.png" 2>/dev/null; exit 1; }

# A free display.
for n in $(seq 70 99); do [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }; done
export DISPLAY=$display
Xvfb "$DISPLAY" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
sleep 0.5
"$program" >"$out/program.log" 2>&1 & app=$!; pids+=($app)

# Waits for a visible window named exactly $1 and gives it the keyboard.
wait_window() {
  local id
  for _ in $(seq 120); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
    if [ -n "$id" ]; then
      xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
      sleep 0.2
      echo "$id"
      return 0
    fi
    sleep 0.25
  done
  return 1
}
answer_message() {  # a message box with text $1: OK with the Return key
  wait_window "ZIriRAV Convert" >/dev/null || fail "no message box ($1)"
  xdotool key Return
  sleep 0.3
}
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.4; }
type_path() {  # in a file dialog titled $1
  wait_window "$1" >/dev/null || fail "no dialog '$1'"
  xdotool type --delay 2 "$2"
  xdotool key Return
}

main=$(wait_window "ZIriRAV Convert Version 1.0") || fail "the window did not open"
import -window root "$out/1-start.png"

# Load: the button in the first frame, the path typed into the open dialog.
click 94 32
type_path "開く" "$(realpath "$ctl")"
answer_message "読込に成功しました。"
sleep 0.3
import -window root "$out/2-loaded.png"
[ -n "$shot" ] && import -window "$main" "$shot"

# Whether the comment list's first row holds text: a dark pixel in its band.
first_comment_shown() {
  local min
  min=$(import -window "$main" -crop 500x10+200+398 +repage -colorspace Gray \
        -format "%[fx:int(255*minima)]" info: 2>/dev/null)
  [ "${min:-255}" -lt 128 ]
}

# The second page's row (two comments), then each tab in turn.
click 300 43
import -window root "$out/3-page2.png"
first_comment_shown || fail "page 2's comments are not shown"
# Pressed on the fourth row and released on the third: no click, but the
# selection moved, and the lists show the third page (no comments).
xdotool mousemove --window "$main" 300 71 mousedown 1 sleep 0.2 mousemove --window "$main" 300 64 \
  sleep 0.2 mousemove --window "$main" 300 57 sleep 0.2 mouseup 1
sleep 0.4
import -window root "$out/3-dragged-to-page3.png"
first_comment_shown && fail "after a drag to page 3 the lists still show another page"
for t in 1 2 3 0; do
  click $((188 + 72 + 144 * t)) 364
  import -window root "$out/4-tab$t.png"
done

# Export: the button in the second frame, the path typed into the save dialog.
click 94 100
type_path "名前を付けて保存" "$out/window.MDB"
answer_message "保存に成功しました。"
answer_message "最適化に成功しました。"
import -window root "$out/5-exported.png"

# Closing the window ends the program.
xdotool windowactivate --sync "$main" 2>/dev/null
xdotool key --window "$main" alt+F4
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the program did not end when its window closed"
# The window is gone before the keys' release reaches it: release them, or the
# next window starts with Alt+F4 held and closes at once.
xdotool keyup alt F4 2>/dev/null

[ -s "$out/window.MDB" ] || fail "no database was written"
"$build/ctl2mdb" "$ctl" "$out/cli.MDB" >/dev/null 2>&1 || fail "ctl2mdb failed"
"$build/jet-check" --strict "$out/window.MDB" >/dev/null || fail "jet-check --strict failed"
tables=$(mdb-tables -1 "$out/cli.MDB")
[ -n "$tables" ] || fail "no tables"
while IFS= read -r table; do
  diff <(mdb-export "$out/window.MDB" "$table") <(mdb-export "$out/cli.MDB" "$table") >/dev/null ||
    fail "table $table differs from the command line's"
done <<<"$tables"

# Started with the file: the load's message, then the export button works
# (it is disabled until a document is loaded); a cancelled save is a failure.
"$program" "$(realpath "$ctl")" >>"$out/program.log" 2>&1 & app=$!; pids+=($app)
main=$(wait_window "ZIriRAV Convert Version 1.0") || fail "the window did not open with a file"
answer_message "読込に成功しました。"
import -window root "$out/6-started-with-file.png"
click 94 100
wait_window "名前を付けて保存" >/dev/null || fail "no save dialog: the file named at start was not loaded"
xdotool key Escape
answer_message "保存に失敗しました。"
xdotool windowactivate --sync "$main" 2>/dev/null
xdotool key --window "$main" alt+F4
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the program started with a file did not end"
echo "ok: loaded, inspected, exported and closed through the window; $(echo "$tables" | wc -l) tables equal; a file named at start loaded"
