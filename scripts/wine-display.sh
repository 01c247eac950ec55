# Sourced by the scripts that run Windows programs under wine. Gives them a scratch directory
# $work with a fresh wine prefix in it, both gone when the script ends, and on_wine_display, which
# runs a command on a virtual display of its own. Wine's server and background services are
# started first: started by the command's first program, they would keep the command's output
# pipe open until they time out.
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

on_wine_display() {  # command and its arguments
  xvfb-run -a -s "-screen 0 1024x768x24 -noreset" \
    bash -c 'wineserver -p; wine cmd /c exit >/dev/null 2>&1; "$@"' bash "$@"
}

# Where scripts/build-windows --tests builds the tests: beside velmora.exe as 32-bit programs
# where this machine runs them, otherwise as 64-bit ones in a tree of their own.
windows_tests_dir() {
  if scripts/runs-32bit; then echo build-windows; else echo build-windows-tests; fi
}
