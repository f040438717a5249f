#!/bin/sh
# make bench: sample installations of 10,000 and 100,000 badges, every
# download function on the 12-reader terminal.
set -e
BUILD=${1:-build}
exec "$BUILD/plomvarde-bench" --work "$BUILD/bench-work" --sizes "${BENCH_SIZES:-10000,100000}" --terminal TERM12
