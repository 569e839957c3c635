#!/usr/bin/env bash
# Client memory while reading large results: seeds a day whose export statement returns about
# 1,000,000 rows (the reference) and one of about 5,000,000, reads both in one process of
# bench_db_read, and prints the peak resident memory of each read and their ratio (it must
# stay near 1: memory does not grow with the row count).
#   bench/db_read.sh [BUILD_DIR]   (default build; needs bench_db_read built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
db=scripts/dispatch-db
$db start
eval "$($db env)"
small=20250201
large=20250202
# About 92 of 100 generated rows fall in the areas 00001 and 00003 the statement selects.
$db seed --day $small --vehicles 2000 --records 1087000
$db seed --day $large --vehicles 10000 --records 5435000
out=$("$build/bin/bench_db_read" "DSN=dbidc;UID=$ZELVIK_SANDBOX_UID;PWD=$ZELVIK_SANDBOX_PWD" \
        $small $large)
echo "$out"
echo "$out" | awk -v s=$small -v l=$large '
  $1 == s { rs = $2; ps = $5 } $1 == l { rl = $2; pl = $5 }
  END { printf "rows ratio %.2f, peak RSS ratio %.3f (%d kB -> %d kB)\n", rl / rs, pl / ps, ps, pl }'
