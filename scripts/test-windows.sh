#!/bin/sh
# make test-windows: the Windows build under Wine.
#
#   sh scripts/test-windows.sh BUILD_DIR WINDOWS_BUILD_DIR
#
# 1. plomvarde-tests.exe: the suites that need no embedded database.
# 2. The WindowsBuild suite of the Linux test program: the .exe files on the
#    sample installation (laid out by the Linux plomvarde-sample), compared
#    with the golden files and the Linux build. Its two-minute lock test runs
#    beside the rest.
# Wine lives in WINDOWS_BUILD_DIR/wine; it reaches the SQLite ODBC driver
# through the host's unixODBC. Exits 0 when everything passed.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
abs() { case $1 in /*) echo "$1" ;; *) echo "$ROOT/$1" ;; esac; }
BUILD=$(abs "${1:-build}")
WINBUILD=$(abs "${2:-build-windows}")

export WINEPREFIX="$WINBUILD/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A UTF-8 host locale: Wine keeps file names in UTF-8 and gives the programs
# the code page 1252 (its default for an English locale).
export LC_ALL=C.UTF-8
unset DISPLAY
# Wine's odbc32 hands connections to the host's unixODBC, so the host's
# SQLite ODBC driver loads the collation module: the host's build of it.
export PLOMVARDE_COLLATION_MODULE="$BUILD/libplomvarde-collation.so"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-windows: setting up the Wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait || true
fi

status=0
echo "test-windows: portable suites (plomvarde-tests.exe)"
(cd "$WINBUILD" && wine ./plomvarde-tests.exe --gtest_brief=1) || status=1

echo "test-windows: Windows programs on the sample installation"
export PLOM_WINDOWS_BUILD="$WINBUILD"
LOG="$WINBUILD/lock-test.log"
"$BUILD/plomvarde-tests" --gtest_brief=1 \
  --gtest_filter='WindowsBuild.SecondRunOnAHeldFileExits75' >"$LOG" 2>&1 &
lock_test=$!
"$BUILD/plomvarde-tests" --gtest_brief=1 \
  --gtest_filter='WindowsBuild.*:-WindowsBuild.SecondRunOnAHeldFileExits75' || status=1
if wait $lock_test; then
  tail -n 2 "$LOG"
else
  cat "$LOG"
  status=1
fi
wineserver --kill 2>/dev/null || true
[ $status = 0 ] && echo "test-windows: all passed"
exit $status
