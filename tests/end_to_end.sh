#!/usr/bin/env bash
# The built program as an operator runs it, on a virtual display (with "wine", the Windows one in
# a Chinese locale), natively from a folder whose name is not UTF-8: an entry typed and saved with Ctrl+S must be the only change sqlite3 finds in
# a database that also holds values other programs stored; under wine, No at the close prompt
# saves nothing. Without a database, the notice ends the run with a failure and creates nothing.
set -euo pipefail
export LC_ALL=C.UTF-8  # the titles are Chinese: xdotool reads them as UTF-8 whatever the caller's locale
program=$1 sample=$2 wine=${3:-}
# A display of our own, unless wine is to use the one its server was started on.
if [ -z "${OWN_DISPLAY:-}" ] && { [ -z "$wine" ] || [ -z "${DISPLAY:-}" ]; }; then
  OWN_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi
work=$(mktemp -d)
trap 'kill ${app:-} 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
if [ -n "$wine" ]; then  # wine shows Chinese only in a Chinese locale, made here for the test alone
  localedef -i zh_CN -f UTF-8 "$work/zh_CN.UTF-8" 2>/dev/null || [ -d "$work/zh_CN.UTF-8" ]
  export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/wine}
fi
start() {  # starts a copy of the program in the folder $1
  mkdir -p "$work/$1" && cp "$program" "$work/$1/" && cd "$work/$1"
  if [ -n "$wine" ]; then LOCPATH=$work LC_ALL=zh_CN.UTF-8 wine "$(basename "$program")" & else "./$(basename "$program")" & fi
  app=$!
  cd - >/dev/null
}
window() {  # waits for a window titled $1 and points at it: with no window manager, keys go there
  timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" mousemove --window %1 100 40 >/dev/null ||
    fail "no window titled '$1'"
  sleep 0.3
}
ended() { status=0; wait "$app" || status=$?; app=; }  # waits for the program to end

# Natively, in a folder named in GBK bytes, as an unpacked Chinese archive gives.
with=with
[ -n "$wine" ] || with=$'with-\xc4\xe3\xba\xc3'
db=$work/$with/tarvello.db
mkdir "$work/$with" && sqlite3 "$db" < "$sample"
sqlite3 "$db" "insert into zorvrobot (ask, answer) values (cast(x'C4E3BAC3' as text), x'00FF80'),
  (cast(x'EDA080' as text), 'a' || char(13) || 'b' || char(10) || 'c')"
stored="select hex(ask) || '|' || hex(answer) from zorvrobot order by id"
expected=$(sqlite3 "$db" "$stored; select hex('e2e question') || '|' || hex('e2e answer')")
start "$with"
window Velmora
# Without a window manager only a click makes the Qt window active; the Win32 one takes the keys
# into its text box at once.
[ -n "$wine" ] || xdotool click 1
xdotool key ctrl+End Return type --delay 30 "e2e question###e2e answer"
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
