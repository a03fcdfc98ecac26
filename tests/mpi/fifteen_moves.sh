#!/usr/bin/env bash
# A 15-move full-cube search on 3 ranks, each limited to a memory in which
# one process cannot hold the search: tessel alone with that limit runs
# out of memory, tessel-mpi prints what tessel prints without a limit.
#
#   fifteen_moves.sh TESSEL TESSEL_MPI
set -uo pipefail
tessel=$1 tessel_mpi=$2
limit=1536M
input="R U F' L2 D B' R2 U' F D2 L' B U2 R' F2 set d 15 solve"

mpirun_args=(-np 3 --oversubscribe)
[ "$(id -u)" = 0 ] && mpirun_args+=(--allow-run-as-root)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The error is tessel's output, on standard output.
echo "$input" | "$tessel" --silent --max-memory "$limit" >"$work/alone_limited" 2>"$work/alone_err"
status=$?
if [ "$status" != 1 ] || ! grep -qx 'ERROR: not enough memory' "$work/alone_limited"; then
  echo "FAIL: tessel alone with --max-memory $limit: status $status, expected 1 out of memory"
  head -n 5 "$work/alone_limited" "$work/alone_err"
  exit 1
fi

echo "$input" | "$tessel" --silent >"$work/expected"
echo "$input" | mpirun "${mpirun_args[@]}" "$tessel_mpi" --silent --max-memory "$limit" \
  >"$work/out" 2>"$work/err"
status=$?
if [ "$status" != 0 ] || ! cmp -s "$work/expected" "$work/out"; then
  echo "FAIL: tessel-mpi on 3 ranks with --max-memory $limit: status $status"
  diff "$work/expected" "$work/out" | head -n 10
  head -n 5 "$work/err"
  exit 1
fi
[ -s "$work/out" ] || { echo "FAIL: no sequence found"; exit 1; }
echo "15 moves on 3 ranks of $limit each: $(wc -l <"$work/out") line(s), as tessel alone without a limit"
