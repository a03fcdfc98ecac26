#!/usr/bin/env bash
# Builds the benchmarks (Release, into build-bench/) and runs the fixed jobs,
# each in its own process so that peak memory is per job, then prints a table.
#
#   bash bench/run.sh                 all jobs: J12 J13 J14 J14M JOLL J2P JBATCH LEVELS
#   bash bench/run.sh J15 J16         the deep jobs (about 21 GiB each)
#   bash bench/run.sh J13 LEVELS      just these
#   bash bench/run.sh micro           the Google Benchmark micro-benchmarks
#   bash bench/run.sh mpi [JOB...]    J13 J14 (or the jobs named) with tessel and
#                                     with tessel-mpi on 2 ranks: bench/mpi.sh
#
# Options: -v   details of J2P (each scramble), JBATCH (each case) and LEVELS
#               (each level)
#          -n   no build: use what build-bench/ holds
#          -t N build and join large levels on N threads (default: one per core)
#          -k K make children with kernel K: portable, avx2 or avx512 (default:
#               the fastest this processor runs)
#          -h   this text
# Environment: TESSEL_BENCH_DIR (build directory), TESSEL_BENCH_JOBS (make
# parallelism, default 2).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSEL_BENCH_DIR:-$root/build-bench}
parallel=${TESSEL_BENCH_JOBS:-2}
all_jobs=(J12 J13 J14 J14M JOLL J2P JBATCH LEVELS)

usage() { sed -n '2,21s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; }

verbose=()
threads=()
kernel=()
do_build=1
jobs=()
expect_threads=0
expect_kernel=0
if [ "${1:-}" = mpi ]; then
  shift
  exec bash "$(dirname "${BASH_SOURCE[0]}")/mpi.sh" "$@"
fi
for arg in "$@"; do
  if [ $expect_threads = 1 ]; then
    case $arg in
      ''|*[!0-9]*) echo "run.sh: -t needs a number of threads" >&2; exit 2 ;;
    esac
    threads=(--threads "$arg"); expect_threads=0; continue
  fi
  if [ $expect_kernel = 1 ]; then
    kernel=(--kernel "$arg"); expect_kernel=0; continue
  fi
  case $arg in
    -v) verbose=(-v) ;;
    -t) expect_threads=1 ;;
    -k) expect_kernel=1 ;;
    -n) do_build=0 ;;
    -h|--help) usage; exit 0 ;;
    J12|J13|J14|J14M|J15|J16|JOLL|J2P|JBATCH|LEVELS|micro) jobs+=("$arg") ;;
    *) echo "run.sh: unknown job or option '$arg'" >&2; usage >&2; exit 2 ;;
  esac
done
[ $expect_threads = 0 ] || { echo "run.sh: -t needs a number of threads" >&2; exit 2; }
[ $expect_kernel = 0 ] || { echo "run.sh: -k needs a kernel: portable, avx2 or avx512" >&2; exit 2; }
[ ${#jobs[@]} -gt 0 ] || jobs=("${all_jobs[@]}")

if [ $do_build = 1 ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_BENCH=ON \
    -DTESSEL_BUILD_TESTS=OFF -DTESSEL_BUILD_PICTURES=OFF >/dev/null
  cmake --build "$build" -j "$parallel" --target tessel_jobs tessel_micro >/dev/null
fi
job_bin=$build/bench/tessel_jobs
micro_bin=$build/bench/tessel_micro

printf '# %s, %s cores, load average %s\n' "$(date '+%F %T')" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"

# One row per job line: "JOB key=value ...".
row() {
  awk '{
    job = $1; extra = ""
    for (i = 2; i <= NF; ++i) {
      split($i, kv, "=")
      if (kv[1] ~ /^(wall_s|cpu_s|peak_mib|stored|bytes_per_entry|gen_per_s|lines|digest)$/) v[kv[1]] = kv[2]
      else extra = extra (extra == "" ? "" : " ") $i
    }
    printf "%-7s %8s %8s %9s %11s %8s %10s %7s  %-16s  %s\n", job, v["wall_s"], v["cpu_s"], v["peak_mib"],
           v["stored"], v["bytes_per_entry"], v["gen_per_s"], v["lines"], v["digest"], extra
  }'
}

status=0
header_done=0
for job in "${jobs[@]}"; do
  if [ "$job" = micro ]; then
    "$micro_bin" || status=1
    continue
  fi
  if [ $header_done = 0 ]; then
    printf '%-7s %8s %8s %9s %11s %8s %10s %7s  %-16s  %s\n' job wall_s cpu_s peak_MiB stored B/entry \
      gen/s lines digest extra
    header_done=1
  fi
  if line=$("$job_bin" "$job" "${verbose[@]}" "${threads[@]}" "${kernel[@]}"); then
    printf '%s\n' "$line" | row
  else
    rc=$?
    printf '%-7s FAILED (exit status %d)\n' "$job" "$rc"
    status=1
  fi
done
exit $status
