#!/bin/sh
# The cursor and icons in resources/ are exactly what scripts/make-resources draws today, icotool
# reads every image of them, and windres compiles the resource script that names them.
set -eu
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$source_dir/scripts/make-resources" "$work"
for file in link.cur velmora.ico window.ico; do
  cmp "$source_dir/resources/$file" "$work/$file"
  icotool -l "$source_dir/resources/$file"
done
cd "$source_dir/resources"
x86_64-w64-mingw32-windres -i velmora.rc -o "$work/velmora.res"
