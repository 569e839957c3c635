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
seed() {  # seed DAY VEHICLES RECORDS, unless the day already holds that many rows
  local have
  have=$($db psql -At -c "select count(*) from carloc_hst_lst where cre_day = '$1'")
  [ "$have" = "$3" ] || $db seed --day "$1" --vehicles "$2" --records "$3"
}
seed $small 2000 1087000
seed $large 10000 5435000
# Reference: psql copying the same statement's result to /dev/null.
for day in $small $large; do
  t0=$(date +%s.%N)
  $db psql -q -c "\\copy (select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from CARLOC_HST_LST where area_cd in ('00001','00003') and cre_day = '$day' order by area_cd,car_no,cre_dt) to '/dev/null' csv"
  t1=$(date +%s.%N)
  awk -v d=$day -v a="$t0" -v b="$t1" 'BEGIN { printf "psql reference %s: %.1f s\n", d, b - a }'
done
out=$("$build/bin/bench_db_read" "DSN=dbidc;UID=$ZELVIK_SANDBOX_UID;PWD=$ZELVIK_SANDBOX_PWD" \
        $small $large)
echo "$out"
echo "$out" | awk -v s=$small -v l=$large '
  $1 == s { rs = $2; ps = $6 } $1 == l { rl = $2; pl = $6 }
  END { printf "rows ratio %.2f, peak RSS ratio %.3f (%d kB -> %d kB)\n", rl / rs, pl / ps, ps, pl }'
