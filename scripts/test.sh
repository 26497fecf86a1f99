#!/usr/bin/env bash
# Installs every missing Debian package, then configures, builds and runs all tests three times: in
# the normal build, under AddressSanitizer with UBSan and under ThreadSanitizer; then builds the
# libFuzzer targets and runs each for a fixed number of runs. Safe to run again, from any directory.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

source "$root/scripts/install-packages.sh"

build_and_test() {
    local dir="$1"; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

install_missing_packages
build_and_test "$root/build"
build_and_test "$root/build-asan" -DZEVA_ASAN=ON -DZEVA_BUILD_BENCH=OFF
build_and_test "$root/build-tsan" -DZEVA_TSAN=ON -DZEVA_BUILD_BENCH=OFF
bash "$root/scripts/fuzz.sh"
