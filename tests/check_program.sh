#!/usr/bin/env bash
# velmora-check.exe under wine, as an operator runs it from its own folder: with no Access driver
# here it runs the cases through the SQLite stand-in, says plainly which cases it could not run,
# writes the same report beside itself (UTF-8 with a byte order mark, for Notepad), exits 0 as
# nothing failed, and leaves nothing in its temporary folder.
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/wine}
mkdir -p "$work/app" "$work/temp"
cp "$program" "$work/app/"
temp=$(winepath -w "$work/temp")
status=0
wine cmd /c "set TEMP=$temp&& set TMP=$temp&& $(winepath -w "$work/app/velmora-check.exe")" >"$work/shown.txt" 2>&1 || status=$?
report=$work/app/velmora-check.txt
[ "$status" = 0 ] || fail "velmora-check exited with $status: $(cat "$work/shown.txt")"
[ "$(head -c 3 "$report" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "the report has no byte order mark"
[ "$(tail -c +4 "$report")" = "$(cat "$work/shown.txt")" ] || fail "the report written differs from the one shown"
grep -q '^Jet 4、Jet 3、ACE：未安装 Access 驱动，跳过以下各项' "$report" || fail "no word of the missing Access driver"
grep -q '^  通过  往返' "$report" || fail "the stand-in's cases did not run"
! grep -q '^  失败' "$report" || fail "a case failed: $(grep '^  失败' "$report")"
grep -q '^共 [0-9]* 项：通过 [0-9]*，失败 0，跳过 [0-9]*。' "$report" || fail "no summary"
[ -z "$(ls -A "$work/temp")" ] || fail "left in the temporary folder: $(ls -A "$work/temp")"
