#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the line to run.
set -e
PKGS="cmake make g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev unixodbc-dev unixodbc libsqliteodbc tdsodbc nlohmann-json3-dev"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $missing >/dev/null
else
  echo "Missing packages:$missing"
  echo "Run: sudo apt-get install -y$missing"
  exit 1
fi
