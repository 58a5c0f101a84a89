#!/usr/bin/env bash
# Runs two builds of the programs on the same inputs and compares what they
# print (standard output, standard error, exit status, tables) byte for
# byte: a check that a change of the inside changed nothing outside.
#
# usage: scripts/compare_builds.sh OLD_BUILD_DIR NEW_BUILD_DIR DATA_DIR
#
# DATA_DIR holds db.fa and models.hmm and *.prf (build/test/scan_bench
# --keep DATA_DIR writes them: 20,000 records, 8 models).
set -uo pipefail
old=$(realpath "$1") new=$(realpath "$2") data=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 runs=0

# Runs one command line with each build's program; "PROGRAM" in the
# arguments is the program's path.
compare() {
  local program=$1
  shift
  for side in old new; do
    local dir=${!side} args=()
    for a in "$@"; do args+=("${a//TABLE/$work/$side.tbl}"); done
    rm -f "$work/$side.tbl"
    (cd "$work" && "$dir/$program" "${args[@]}" >"$work/$side.out" 2>"$work/$side.err" </dev/null)
    echo $? >"$work/$side.status"
    [ -e "$work/$side.tbl" ] || : >"$work/$side.tbl"
  done
  runs=$((runs + 1))
  for part in out err status tbl; do
    if ! cmp -s "$work/old.$part" "$work/new.$part"; then
      echo "DIFFERENT ($part): $program $*"
      diff "$work/old.$part" "$work/new.$part" | head -5
      failures=$((failures + 1))
      return
    fi
  done
}

db=$data/db.fa
gzip -c "$db" >"$work/db.fa.gz"
for mode in glocal local global; do
  for extra in "" "--alignments" "--bits" "--no-filter" "--no-bias-correction" "-Z 1000000" \
               "--min-score 20 -E 1" "--max-domains 1" "--threads 1" "--tblout TABLE"; do
    # shellcheck disable=SC2086
    compare tormid-scan --quiet --mode "$mode" $extra "$data/models.hmm" "$db"
  done
  compare tormid-scan --quiet --mode "$mode" --tblout TABLE "$data"/family1*.prf "$work/db.fa.gz"
done
compare tormid-scan --quiet --open 5 --extend 2 "$data/models.hmm" "$db"
head -c 3000000 "$db" >"$work/part.fa"
compare tormid-scan --quiet --mode local "$data/models.hmm" - <"$work/part.fa"
printf 'PRF_GAP_OPEN_PENALTY 9\nPRF_DELETION_PENALTY 2\nSEQ_GAP_OPEN_PENALTY 7\nSEQ_DELETION_PENALTY 1\nPRF_FREE_BEG YES\nPRF_FREE_END YES\nSEQ_FREE_BEG NO\nSEQ_FREE_END YES\nSHOW_ALIGNMENT YES\n' >"$work/mixed.params"
compare tormid-scan --quiet --params "$work/mixed.params" "$data/family100.prf" "$data/family400.prf" "$work/part.fa"
# Errors.
compare tormid-scan --quiet "$data/models.hmm" "$work/missing.fa"
compare tormid-scan --quiet "$work/missing.hmm" "$db"
compare tormid-scan --quiet "$db" "$db"
compare tormid-scan --quiet --params "$db" "$data/models.hmm" "$db"
compare tormid-scan --quiet --mode local "$data/models.hmm" "$work"
compare tormid-scan --quiet --tblout "$work/no/such/dir/t.tsv" "$data/family100.prf" "$work/part.fa"
compare tormid-scan --help
compare tormid-scan --bogus
compare tormid-prf hmm "$data/models.hmm" --name family220
compare tormid-prf hmm "$work/missing.hmm"
compare tormid-prf params local
compare tormid "$work/part.fa" "$data/family140.prf" "$work/mixed.params"
compare tormid "$work/missing.fa" "$data/family140.prf" "$work/mixed.params"
compare tormid "$work/part.fa" "$db" "$work/mixed.params"
compare tormid "$work/part.fa" "$data/family140.prf" "$db"
echo "$runs command lines compared, $failures different"
[ "$failures" -eq 0 ]
