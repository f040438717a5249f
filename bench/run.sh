#!/bin/sh
# make bench: sample installations of 10,000 and 100,000 badges, every
# download function on the 12-reader terminal; then the site case (the five
# functions on two 12-reader terminals, batch against separate runs).
set -e
BUILD=${1:-build}
"$BUILD/plomvarde-bench" --work "$BUILD/bench-work" --sizes "${BENCH_SIZES:-10000,100000}" --terminal TERM12
# The site case: 10 runs as one plomvarde-batch and as 10 separate processes.
echo
exec "$BUILD/plomvarde-bench" --work "$BUILD/bench-work" --site "${BENCH_SITE_BADGES:-100000}" --rounds "${BENCH_SITE_ROUNDS:-2}"
