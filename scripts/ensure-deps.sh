#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the line to run.
#   scripts/ensure-deps.sh           the Linux build and its tests
#   scripts/ensure-deps.sh windows   the Windows cross build and Wine to run it
#   scripts/ensure-deps.sh package   what the .deb needs: dpkg-shlibdeps, lintian
set -e
NO_RECOMMENDS=""
PKGS="cmake make g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev unixodbc-dev unixodbc libsqliteodbc tdsodbc nlohmann-json3-dev"
if [ "$1" = windows ]; then
  # wine64 runs the programs, wine gives the "wine" command; Wine's odbc32
  # hands the calls to the host's unixODBC and its SQLite driver.
  PKGS="cmake make g++-mingw-w64-x86-64-posix googletest nlohmann-json3-dev wine64 wine unixodbc libsqliteodbc sqlite3"
  NO_RECOMMENDS=--no-install-recommends
fi
if [ "$1" = package ]; then
  PKGS="dpkg-dev file lintian"
fi
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $NO_RECOMMENDS $missing >/dev/null
else
  echo "Missing packages:$missing"
  echo "Run: sudo apt-get install -y$missing"
  exit 1
fi
