#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed number of runs with a fixed
# seed over its checked-in corpus. Exit status is non-zero if any target crashed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZEVA_FUZZ_BUILD:-$root/build-fuzz}"
runs="${ZEVA_FUZZ_RUNS:-20000}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DZEVA_FUZZ=ON
cmake --build "$build" -j "$(nproc)"

artifacts="$build/fuzz/artifacts"
mkdir -p "$artifacts"
shopt -s nullglob
targets=("$build"/fuzz/bin/*_fuzz)
if ((${#targets[@]} == 0)); then
    echo "fuzz: no targets"
    exit 0
fi
passed=0 failed=0
for bin in "${targets[@]}"; do
    name="$(basename "$bin" _fuzz)"
    corpus="$root/fuzz/corpus/$name"
    scratch="$(mktemp -d)"
    seeds=()
    [[ -d "$corpus" ]] && seeds=("$corpus")
    # The scratch folder comes first, so new inputs land there and the checked-in corpus stays.
    if "$bin" -runs="$runs" -seed=1 -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$artifacts/$name-" "$scratch" "${seeds[@]}" >"$build/fuzz/$name.log" 2>&1; then
        echo "fuzz: $name ok ($runs runs)"
        passed=$((passed + 1))
    else
        echo "fuzz: $name FAILED, see $build/fuzz/$name.log and $artifacts"
        tail -n 40 "$build/fuzz/$name.log"
        failed=$((failed + 1))
    fi
    rm -rf "$scratch"
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
