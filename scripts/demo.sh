#!/bin/sh
# make demo: lays out the sample installation and runs the tool on it.
#
#   sh scripts/demo.sh BUILD_DIR
#
# demo/                       (recreated on every run)
#   files/korvantis.ini       configuration, values enciphered
#   files/plomvarde.db        the sample installation (plomvarde-sample)
#   run/terminal/             working directory: ../../files/korvantis.ini
#                             resolves from here; the download files land here
#
# Each run prints its command, its messages (Windows-1252, shown as UTF-8),
# its exit status and the download file: fixed-width files one record per
# line between bars, IDSTAMM files line by line.
# Exits 0 when every command could be run (whatever the tool answered), 1
# when a program is missing or the installation cannot be laid out.

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case $BUILD in
  /*) ;;
  *) BUILD=$ROOT/$BUILD ;;
esac
DEMO=$ROOT/demo
WORK=$DEMO/run/terminal

for prog in plomvarde plomvarde-ini plomvarde-sample; do
  if [ ! -x "$BUILD/$prog" ]; then
    echo "demo: $BUILD/$prog is missing (build first: make build)" >&2
    exit 1
  fi
done
for cmd in iconv fold; do
  if ! command -v "$cmd" >/dev/null 2>&1; then
    echo "demo: the command $cmd is missing" >&2
    exit 1
  fi
done

rm -rf "$DEMO"
mkdir -p "$DEMO/files" "$WORK" || exit 1

echo "== Sample installation in $DEMO"
"$BUILD/plomvarde-sample" "$DEMO/files/plomvarde.db" || exit 1
(cd "$WORK" &&
  "$BUILD/plomvarde-ini" write ../../files/korvantis.ini LOGIN=sa PASS=geheim \
    SQLSERVER=sqlite:../../files/plomvarde.db SCHEMA=ZrSystem.) || exit 1
echo "files/korvantis.ini:"
sed 's/^/  /' "$DEMO/files/korvantis.ini"
echo

# The record width of a fixed-width download function; 0 for line files.
width() {
  case $1 in
    VQDNL17P) echo 85 ;;
    VQDNL31P) echo 48 ;;
    VQDNL18P) echo 173 ;;
    VQDNL60P) echo 45 ;;
    *) echo 0 ;;
  esac
}

# A ruler of the given width: a digit every column, the tens above.
ruler() {
  awk -v w="$1" 'BEGIN {
    t = ""; u = "";
    for (i = 1; i <= w; i++) {
      t = t ((i % 10 == 0) ? int(i / 10) % 10 : " ");
      u = u (i % 10);
    }
    print " " t; print " " u;
  }'
}

# Shows a download file: fixed-width records split by bytes before the
# conversion (an umlaut is one byte in the file), line files as they are.
show_file() {
  file=$1
  w=$2
  if [ ! -f "$file" ]; then
    echo "  (no file $file)"
    return
  fi
  size=$(wc -c <"$file" | tr -d ' ')
  if [ "$w" -gt 0 ]; then
    records=$((size / w))
    rest=$((size % w))
    echo "-- $file: $size bytes, $records records of $w characters$([ "$rest" -ne 0 ] && echo ", $rest bytes left over")"
    [ "$size" -eq 0 ] && return
    ruler "$w"
    fold -b -w "$w" "$file" | iconv -c -f WINDOWS-1252 -t UTF-8 | sed 's/^/|/; s/$/|/'
    echo
  else
    lines=$(tr -cd '\n' <"$file" | wc -c | tr -d ' ')
    crlf=$(tr -cd '\r' <"$file" | wc -c | tr -d ' ')
    echo "-- $file: $size bytes, $lines lines ($crlf ending in CR LF, shown without the CR)"
    [ "$size" -eq 0 ] && return
    tr -d '\r' <"$file" | iconv -c -f WINDOWS-1252 -t UTF-8
  fi
}

run() {
  fn=$1
  term=$2
  file=$3
  printf '%s\n' "== demo/run/terminal\$ plomvarde $fn $term $file 1"
  (cd "$WORK" && "$BUILD/plomvarde" "$fn" "$term" "$file" 1) >"$DEMO/output.txt" 2>&1
  status=$?
  iconv -c -f WINDOWS-1252 -t UTF-8 <"$DEMO/output.txt" | sed 's/^/   /'
  [ -n "$(tail -c 1 "$DEMO/output.txt")" ] && echo
  echo "-- exit status $status"
  show_file "$WORK/$file" "$(width "$fn")"
  echo
}

run VQDNL17P TERM12 TERM12.17P
run VQDNL31P TERM12 TERM12.31P
run VQDNL18P TERM12 TERM12.18P
run VQDNL60P TERM12 TERM12.60P
run IDSTAMM TERM12 TERM12.IDS
run VQDNL60P TERM03 TERM03.60P
run VQDNL18P TERM03 TERM03.18P
run VQDNL17P TERM00 TERM00.17P

# One badge's records field by field, then what a change in the database
# changes in the file, then why another badge is left out.
if [ -x "$BUILD/plomvarde-show" ]; then
  echo "== demo/run/terminal\$ plomvarde-show --badge 1002 TERM12.60P"
  (cd "$WORK" && "$BUILD/plomvarde-show" --badge 1002 TERM12.60P) | sed 's/^/   /'
  echo
  if command -v sqlite3 >/dev/null 2>&1; then
    echo "== Badge 1002 gets access class 5; VQDNL60P once more, compared with the file before"
    sqlite3 "$DEMO/files/plomvarde.db" \
      "UPDATE \"ZrSystem.Zrt301Asw\" SET AswBkl = '5' WHERE AswNum = '1002';" || exit 1
    (cd "$WORK" && "$BUILD/plomvarde" VQDNL60P TERM12 TERM12.60P.new 1) >/dev/null 2>&1
    echo "== demo/run/terminal\$ plomvarde-show --diff TERM12.60P TERM12.60P.new"
    (cd "$WORK" && "$BUILD/plomvarde-show" --diff TERM12.60P TERM12.60P.new) | sed 's/^/   /'
    echo
  fi
fi

# Why a badge is left out: badge 1006 is refused on TERM12 in VQDNL31P.
if [ -x "$BUILD/plomvarde-explain" ]; then
  echo "== demo/run/terminal\$ plomvarde-explain VQDNL31P TERM12 1006"
  (cd "$WORK" && "$BUILD/plomvarde-explain" VQDNL31P TERM12 1006) | sed 's/^/   /'
  echo
fi

rm -f "$DEMO/output.txt"
echo "Download files and installation: $DEMO"
exit 0
