#!/usr/bin/env bash
# Runs velmora.exe under wine on a virtual display in a Chinese locale, as an operator would: types
# a new entry, saves with Ctrl+S and checks the file with sqlite3, types again and answers No at the
# close prompt; then starts a copy without a database and checks that it shows the notice, creates
# nothing and ends once it is dismissed. Uses $WINEPREFIX and $DISPLAY when they are set.
set -euo pipefail
# Window titles are Chinese: the program writes them, and xdotool reads them, in a UTF-8 locale
# whatever the caller's.
export LC_ALL=C.UTF-8
velmora=$1
sample=$(dirname "$0")/../scripts/sample.sql

work=$(mktemp -d)
source "$(dirname "$0")/display.sh"
cleanup() {
  kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Wine shows Chinese only in a Chinese locale; made here, into a folder of the test's own.
localedef -i zh_CN -f UTF-8 "$work/zh_CN.UTF-8" 2>/dev/null || [ -d "$work/zh_CN.UTF-8" ]
chinese_wine() { LOCPATH=$work LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$@"; }
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/wine}
start_display


# Waits for the program to end and sets status to its exit status.
wait_end() {
  for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app" 2>/dev/null; then echo "the run did not end" >&2; exit 1; fi
  status=0
  wait "$app" || status=$?
  app=
}

mkdir "$work/with" "$work/without"
cp "$velmora" "$work/with/velmora.exe"
cp "$velmora" "$work/without/velmora.exe"
sqlite3 "$work/with/tarvello.db" < "$sample"
rows_before=$(sqlite3 "$work/with/tarvello.db" "select count(*) from zorvrobot")

(cd "$work/with" && chinese_wine velmora.exe) &
app=$!
window=$(wait_window "Velmora")
xdotool mousemove --window "$window" 200 100 click 1
sleep 0.5
xdotool key ctrl+End Return
xdotool type --delay 30 "e2e question###e2e answer"
wait_window "Velmora\\* " >/dev/null
xdotool key ctrl+s
wait_window "Velmora\\(保存成功\\)" >/dev/null

rows_after=$(sqlite3 "$work/with/tarvello.db" "select count(*) from zorvrobot")
last=$(sqlite3 "$work/with/tarvello.db" "select ask || '|' || answer from zorvrobot order by id desc limit 1")
[ "$rows_after" -eq $((rows_before + 1)) ] || { echo "expected $((rows_before + 1)) rows, got $rows_after"; exit 1; }
[ "$last" = "e2e question|e2e answer" ] || { echo "last row is '$last'"; exit 1; }

# Unsaved typing, then closing: the prompt (titled Velmora, like the window) and No.
xdotool type --delay 30 "x"
wait_window "Velmora\\* " >/dev/null
xdotool key alt+F4
prompt=$(wait_window "Velmora")
# Keys go to the window under the pointer: there is no window manager to give the prompt focus.
xdotool mousemove --window "$prompt" 20 20
sleep 0.5
xdotool key n
wait_end
[ "$status" = 0 ] || { echo "closing ended with status $status"; exit 1; }
[ "$(sqlite3 "$work/with/tarvello.db" "select count(*) from zorvrobot")" -eq "$rows_after" ] ||
  { echo "No at the close prompt saved"; exit 1; }

(cd "$work/without" && chinese_wine velmora.exe) &
app=$!
notice=$(wait_window "提示")
xdotool mousemove --window "$notice" 20 20
sleep 0.5
xdotool key Return
wait_end
[ "$status" != 0 ] || { echo "expected a non-zero exit status"; exit 1; }
[ ! -e "$work/without/tarvello.db" ] || { echo "a database file was created"; exit 1; }
echo "end-to-end under wine: save, close prompt and missing-database runs behaved"
