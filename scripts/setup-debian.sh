#!/bin/sh
# Installs the Debian packages Tessel needs, when they are missing.
#
# usage: sh scripts/setup-debian.sh [build|test|mpi|ci]
#   build  what builds tessel: cmake g++ make
#   mpi    build, plus Open MPI (tessel-mpi)
#   test   build, plus GoogleTest and GoogleMock, cpp-httplib and pkg-config
#          (tessel-pictures and its tests), Chromium and Python 3 (the
#          browser test of the pictures)                          (default)
#   ci     test, plus git (the clean-clone check), Google Benchmark, clang
#          with its sanitizer and fuzzer runtime and Open MPI (the later
#          stages of .ci/run)
#
# Does nothing when every package is installed. Otherwise runs apt-get update
# and apt-get install, as root or through sudo. Set TESSEL_SETUP_DRY_RUN=1 to
# print the packages it would install and stop there.
set -eu

want=${1:-test}
build_packages="cmake g++ make"
test_packages="$build_packages libgtest-dev libgmock-dev libcpp-httplib-dev pkg-config chromium python3"
mpi_packages="openmpi-bin libopenmpi-dev"
ci_packages="$test_packages git googletest libbenchmark-dev clang libclang-rt-14-dev $mpi_packages"
case $want in
  build) packages=$build_packages ;;
  test) packages=$test_packages ;;
  mpi) packages="$build_packages $mpi_packages" ;;
  ci) packages=$ci_packages ;;
  *)
    echo "usage: sh scripts/setup-debian.sh [build|test|mpi|ci]" >&2
    exit 2
    ;;
esac

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "setup-debian: not a Debian system; make sure these are installed: $packages" >&2
  exit 0
fi

missing=""
for p in $packages; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

if [ "${TESSEL_SETUP_DRY_RUN:-}" = 1 ]; then
  echo "setup-debian: would install$missing"
  exit 0
fi
echo "setup-debian: installing$missing"
if [ "$(id -u)" = 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "setup-debian: not root and no sudo; as root run:" >&2
  echo "  apt-get update && apt-get install -y$missing" >&2
  exit 1
fi
# $as_root and $missing are split into words on purpose.
# shellcheck disable=SC2086
$as_root apt-get update -qq
# shellcheck disable=SC2086
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
