#!/usr/bin/env bash
# Runs the built program as an operator would, on a virtual display; with "wine" as the third
# argument, the Windows program under wine in a Chinese locale. Beside a copy of the sample
# database that also holds values other programs stored, it types an entry and saves with Ctrl+S,
# and sqlite3 must then find exactly that entry added and every other byte as it was. Under wine it
# types again and answers No at the close prompt. A second copy, with no database, must show the
# notice and end with a failure status once it is dismissed, having created nothing.
set -euo pipefail
export LC_ALL=C.UTF-8  # the titles are Chinese: xdotool must read them as UTF-8 whatever the caller's locale
program=$1 sample=$2 wine=${3:-}
work=$(mktemp -d)
trap 'kill ${app:-} ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

# A display of our own (Xvfb picks a free number), unless wine is to use the one it was given.
if [ -z "$wine" ] || [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n 1 "$work/display")
fi
if [ -n "$wine" ]; then
  # Wine shows Chinese only in a Chinese locale, made here into the test's own folder.
  localedef -i zh_CN -f UTF-8 "$work/zh_CN.UTF-8" 2>/dev/null || [ -d "$work/zh_CN.UTF-8" ]
  export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/wine}
fi

start() {  # starts a copy of the program in the folder $1
  cp "$program" "$work/$1/"
  if [ -n "$wine" ]; then
    (cd "$work/$1" && LOCPATH=$work LC_ALL=zh_CN.UTF-8 wine "$(basename "$program")") &
  else
    "$work/$1/$(basename "$program")" &
  fi
  app=$!
}
# Waits for a visible window titled exactly $1 and puts the pointer on it: with no window
# manager, keys go to the window under the pointer.
window() {
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1) || true
    [ -n "$id" ] && { xdotool mousemove --window "$id" 100 40; sleep 0.3; return; }
    sleep 0.1
  done
  fail "no window titled '$1'"
}
ended() {  # waits for the program to end, with status as its exit status
  for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  status=0
  wait "$app" || status=$?
  app=
}

mkdir "$work/with" "$work/without"
db=$work/with/tarvello.db
sqlite3 "$db" < "$sample"
sqlite3 "$db" "insert into zorvrobot (ask, answer) values (cast(x'C4E3BAC3' as text), x'00FF80'),
  (cast(x'EDA080' as text), 'a' || char(13) || 'b' || char(10) || 'c')"
stored="select hex(ask) || '|' || hex(answer) from zorvrobot order by id"
expected=$(sqlite3 "$db" "$stored; select hex('e2e question') || '|' || hex('e2e answer')")

start with
window Velmora
xdotool click 1 key ctrl+End Return type --delay 30 "e2e question###e2e answer"
window "Velmora\\* "
xdotool key ctrl+s
window "Velmora\\(保存成功\\)"
[ "$(sqlite3 "$db" "$stored")" = "$expected" ] || fail "the save did not add exactly the typed entry"
if [ -n "$wine" ]; then
  xdotool type x
  window "Velmora\\* "
  xdotool key alt+F4
  window Velmora  # the prompt
  xdotool key n
  ended
  [ "$status" = 0 ] || fail "closing ended with status $status"
  [ "$(sqlite3 "$db" "$stored")" = "$expected" ] || fail "No at the close prompt saved"
fi
kill "$app" 2>/dev/null || true

start without
window 提示
xdotool key Return
ended
[ "$status" != 0 ] || fail "the run without a database ended with status 0"
[ ! -e "$work/without/tarvello.db" ] || fail "a database file was created"
echo "end to end: save${wine:+, close prompt} and missing-database runs behaved"
