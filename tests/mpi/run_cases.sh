#!/usr/bin/env bash
# Runs tessel-mpi on NP ranks over every transcript case and over the
# searches of searches.txt, and checks that standard output and the exit
# status are those of the transcript, or of tessel itself, byte for byte.
#
#   run_cases.sh TESSEL TESSEL_MPI NP TRANSCRIPTS_DIR SEARCHES_FILE
#
# mpirun takes about a second to end a run with a failing status, so a few
# runs go at once.
set -uo pipefail
tessel=$1 tessel_mpi=$2 np=$3 transcripts=$4 searches=$5
at_once=4

mpirun_args=(-np "$np" --oversubscribe)
# Open MPI refuses to start as root unless told, as in a container.
[ "$(id -u)" = 0 ] && mpirun_args+=(--allow-run-as-root)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check DIR NAME STATUS ARGS...: DIR holds in and expected.
check() {
  local dir=$1 name=$2 expected_status=$3
  shift 3
  mpirun "${mpirun_args[@]}" "$tessel_mpi" "$@" <"$dir/in" >"$dir/out" 2>"$dir/err"
  local status=$?
  if ! cmp -s "$dir/out" "$dir/expected" || [ "$status" != "$expected_status" ]; then
    {
      echo "FAIL $name on $np ranks: status $status, expected $expected_status"
      diff "$dir/expected" "$dir/out" | head -n 10
      head -n 5 "$dir/err"
    } >"$dir/failed"
  fi
}

cases=0
start() {  # NAME STATUS ARGS..., with $work/$cases/in and expected written
  local dir=$work/$cases
  cases=$((cases + 1))
  while [ "$(jobs -rp | wc -l)" -ge "$at_once" ]; do wait -n; done
  check "$dir" "$@" &
}

for input in "$transcripts"/*.in; do
  base=${input%.in}
  args=()
  [ -f "$base.args" ] && mapfile -t args <"$base.args"
  mkdir "$work/$cases"
  cp "$input" "$work/$cases/in"
  cp "$base.out" "$work/$cases/expected"
  start "$(basename "$base")" "$(cat "$base.status")" "${args[@]}"
done

# searches.txt: one search per line, the options, a '|', then the input.
while IFS= read -r line; do
  case $line in '' | '#'*) continue ;; esac
  read -r -a args <<<"${line%%|*}"
  mkdir "$work/$cases"
  printf '%s\n' "${line#*|}" >"$work/$cases/in"
  "$tessel" "${args[@]}" <"$work/$cases/in" >"$work/$cases/expected"
  start "'${line#*|}'" "$?" "${args[@]}"
done <"$searches"
wait

failures=$(find "$work" -name failed | wc -l)
find "$work" -name failed -exec cat {} +
echo "$cases cases on $np ranks, $failures failed"
[ "$failures" = 0 ]
