#!/usr/bin/env bash
# Runs search jobs with tessel and with tessel-mpi on NP ranks (one machine),
# and prints for each: wall seconds, the peak memory of the largest rank,
# lines and the FNV-1a 64 digest of standard output with --silent (the
# digest that tessel_jobs prints for the job), and whether both outputs are
# the same; then, for each job, what went between the ranks: the bytes of
# every level shared (each rank builds a run of its buckets and sends it to
# the others) and of all gatherings, and the bytes moved (each byte once per
# rank it went to).
#
#   bash bench/mpi.sh [-n] [-np NP] [JOB...]     JOB: J12 J13 J14 J15 J16 (default J13 J14)
#
# TESSEL_MPI_HOLD_BOTH=1 in the environment goes to every rank (both last
# stored levels held in shares).
# -n: no build (use build-mpi/). Builds tessel and tessel-mpi (Release) into
# build-mpi/; needs Open MPI (sh scripts/setup-debian.sh mpi).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-mpi
np=2
do_build=1
jobs=()
while [ $# -gt 0 ]; do
  case $1 in
    -n) do_build=0 ;;
    -np) np=$2; shift ;;
    J12|J13|J14|J15|J16) jobs+=("$1") ;;
    *) sed -n '2,11s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
  esac
  shift
done
[ ${#jobs[@]} -gt 0 ] || jobs=(J13 J14)

if [ $do_build = 1 ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_MPI=ON \
    -DTESSEL_BUILD_TESTS=OFF -DTESSEL_BUILD_PICTURES=OFF >/dev/null
  cmake --build "$build" -j 2 --target tessel tessel-mpi >/dev/null
fi

input_of() {
  case $1 in
    J12) echo "L2 U F' R D2 B' L U' R2 F D' B set d 12 solve" ;;
    J13) echo "R U F' set d 13 solve" ;;
    J14) echo "F' D2 L U B' R2 D F L' U2 B D' R F2 set d 14 solve" ;;
    J15) echo "R U F' L2 D B' R2 U' F D2 L' B U2 R' F2 set d 15 solve" ;;
    J16) echo "D' R2 F U' L B2 D R' F2 U B' L2 D2 R U2 F' set d 16 solve" ;;
  esac
}

fnv() {
  python3 -c '
import sys
h = 0xcbf29ce484222325
for b in sys.stdin.buffer.read():
    h = ((h ^ b) * 0x100000001b3) & 0xffffffffffffffff
print("%016x" % h)'
}

mpirun_args=(-np "$np" --oversubscribe)
[ -n "${TESSEL_MPI_HOLD_BOTH:-}" ] && mpirun_args+=(-x TESSEL_MPI_HOLD_BOTH)
[ "$(id -u)" = 0 ] && mpirun_args+=(--allow-run-as-root)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run NAME COMMAND...: the command's standard output into $work/NAME.out,
# each process's peak memory (KiB) into $work/NAME.mem, one line each.
run() {
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$@" <"$work/in" >"$work/$name.out" 2>"$work/$name.err"
  end=$(date +%s.%N)
  echo "$start $end" >"$work/$name.time"
}

printf '# %s, %s cores, %s ranks\n' "$(date '+%F %T')" "$(nproc)" "$np"
printf '%-6s %-8s %9s %10s %8s  %-16s %s\n' job run wall_s peak_MiB lines digest same
for job in "${jobs[@]}"; do
  input_of "$job" >"$work/in"
  run one /usr/bin/time -f %M -a -o "$work/one.mem" "$build/tessel" --silent
  TESSEL_MPI_EXCHANGES=1 run ranks mpirun "${mpirun_args[@]}" -x TESSEL_MPI_EXCHANGES \
    /usr/bin/time -f %M -a -o "$work/ranks.mem" "$build/tessel-mpi" --silent
  same=no
  cmp -s "$work/one.out" "$work/ranks.out" && same=yes
  for name in one ranks; do
    read -r start end <"$work/$name.time"
    label=tessel
    [ $name = ranks ] && label="np=$np"
    printf '%-6s %-8s %9.3f %10.1f %8d  %-16s %s\n' "$job" "$label" \
      "$(echo "$end - $start" | bc)" "$(sort -n "$work/$name.mem" | tail -n 1 | awk '{print $1 / 1024}')" \
      "$(wc -l <"$work/$name.out")" "$(fnv <"$work/$name.out")" "$same"
    rm -f "$work/$name.mem"
  done
  grep '^tessel-mpi: ' "$work/ranks.err" | sed "s/^tessel-mpi: /#   $job np=$np /" || true
done
