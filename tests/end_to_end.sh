#!/usr/bin/env bash
# Runs the built program under Xvfb as an operator would: starts it on a sample database, types
# a new entry, saves with Ctrl+S and checks the file with sqlite3; then starts a copy without a
# database and checks that it shows the notice, creates nothing and ends once it is dismissed.
set -euo pipefail
# Window titles are Chinese: the program writes them, and xdotool reads them, in a UTF-8 locale
# whatever the caller's.
export LC_ALL=C.UTF-8
velmora=$1
sample=$2

work=$(mktemp -d)
source "$(dirname "$0")/display.sh"
cleanup() {
  kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

unset DISPLAY
start_display
unset QT_QPA_PLATFORM

mkdir "$work/with" "$work/without"
cp "$velmora" "$work/with/velmora"
cp "$velmora" "$work/without/velmora"
sqlite3 "$work/with/tarvello.db" < "$sample"
rows_before=$(sqlite3 "$work/with/tarvello.db" "select count(*) from zorvrobot")

"$work/with/velmora" &
app=$!
window=$(wait_window "Velmora")
xdotool windowfocus "$window" 2>/dev/null || true
sleep 1
xdotool key ctrl+End Return
xdotool type --delay 20 "e2e question###e2e answer"
wait_window "Velmora\\* " >/dev/null
xdotool key ctrl+s
wait_window "Velmora\\(保存成功\\)" >/dev/null

rows_after=$(sqlite3 "$work/with/tarvello.db" "select count(*) from zorvrobot")
last=$(sqlite3 "$work/with/tarvello.db" "select ask || '|' || answer from zorvrobot order by id desc limit 1")
[ "$rows_after" -eq $((rows_before + 1)) ] || { echo "expected $((rows_before + 1)) rows, got $rows_after"; exit 1; }
[ "$last" = "e2e question|e2e answer" ] || { echo "last row is '$last'"; exit 1; }
within=$(sqlite3 "$work/with/tarvello.db" "select answer from zorvrobot where ask = '订单号格式'")
[ "$within" = "订单号形如 VM###2026，请把完整号码发给我们" ] || { echo "answer with ### changed: $within"; exit 1; }
kill "$app"; wait "$app" 2>/dev/null || true
app=

"$work/without/velmora" &
app=$!
notice=$(wait_window "提示")
xdotool windowfocus "$notice" 2>/dev/null || true
  sleep 0.3
xdotool key Return
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then echo "the run did not end after the notice"; exit 1; fi
wait "$app" && { echo "expected a non-zero exit status"; exit 1; }
app=
[ ! -e "$work/without/tarvello.db" ] || { echo "a database file was created"; exit 1; }
if xdotool search --onlyvisible --name "^Velmora" >/dev/null 2>&1; then echo "the main window was shown"; exit 1; fi
echo "end-to-end: save and missing-database runs behaved"
