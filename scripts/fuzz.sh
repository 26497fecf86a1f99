#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed number of runs with a fixed
# seed over its checked-in corpus (at most ZEVA_FUZZ_SECONDS each), several targets at a time.
# Exit status is non-zero if any target crashed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZEVA_FUZZ_BUILD:-$root/build-fuzz}"
runs="${ZEVA_FUZZ_RUNS:-20000}"
seconds="${ZEVA_FUZZ_SECONDS:-30}"
jobs="${ZEVA_FUZZ_JOBS:-$(( $(nproc) / 2 > 0 ? $(nproc) / 2 : 1 ))}"

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

# One target: new inputs go to a scratch folder listed first, so the checked-in corpus stays.
run_one() {
    local bin="$1" name scratch seeds=()
    name="$(basename "$bin" _fuzz)"
    scratch="$(mktemp -d)"
    [[ -d "$root/fuzz/corpus/$name" ]] && seeds=("$root/fuzz/corpus/$name")
    if "$bin" -runs="$runs" -max_total_time="$seconds" -seed=1 -max_len=65536 -timeout=10 \
            -rss_limit_mb=2048 -artifact_prefix="$artifacts/$name-" "$scratch" "${seeds[@]}" \
            >"$build/fuzz/$name.log" 2>&1; then
        echo "fuzz: $name ok"
    else
        echo "fuzz: $name FAILED, see $build/fuzz/$name.log and $artifacts"
        tail -n 40 "$build/fuzz/$name.log"
        touch "$build/fuzz/$name.failed"
    fi
    rm -rf "$scratch"
}

rm -f "$build"/fuzz/*.failed
for bin in "${targets[@]}"; do
    while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
    run_one "$bin" &
done
wait
failed=("$build"/fuzz/*.failed)
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
