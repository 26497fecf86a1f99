#!/usr/bin/env bash
# The installed tree as a host uses it: cmake --install into a scratch prefix, the example
# sdk/examples/find_devices.c built against it with pkg-config and with find_package(ZEVA), and
# both programs run in a test namespace, where they must list three simulated devices.
#   install-test.sh BUILD_DIR [EXTRA_C_FLAGS]   (the sanitizer flags of the build, if any)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }

# In the host namespace (netns-run.sh): the devices in the peer, then each program in turn.
inside() {
    local work="$1"; shift
    local log="$work/devsim.jsonl"
    ip netns exec "${ZEVA_NETNS_PEERS%% *}" "$root/tools/devsim/devsim" --devices 3 --log "$log" &
    sim=$!
    trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
    for _ in $(seq 500); do
        grep -qs '"event": "ready"' "$log" && break
        sleep 0.02
    done
    grep -qs '"event": "ready"' "$log" || fail "devsim did not get ready"
    for program in "$@"; do
        local dir out
        dir="$(mktemp -d "$work/run.XXXX")"
        (cd "$dir" && "$program" 2 >out 2>err) || fail "$program exited with $?: $(cat "$dir/err")"
        out="$(cat "$dir/out")"
        for n in 0 1 2; do
            grep -Eq "^02-d5-00-00-00-0$n +10\.99\.1\.10$n +DS-SIM000$n-00000000000$n +online$" <<<"$out" ||
                fail "$program did not list device $n:"$'\n'"$out"
        done
        grep -qx "3 devices" <<<"$out" || fail "$program counted wrong:"$'\n'"$out"
        grep -q "yar tls index{[0-9]*}" "$dir/err" || fail "$program: no tls index line on stderr"
        compgen -G "$dir/sdklog/SdkLog_*_w.log" >/dev/null || fail "$program wrote no log into ./sdklog/"
    done
}

if [[ "${1:-}" == --inside ]]; then
    shift
    inside "$@"
    exit 0
fi

build="$1"
flags="${2:-}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/libZEVA.so lib/libZEVA.so.4 include/zeva/ZevaSdk.h lib/pkgconfig/zeva.pc lib/cmake/ZEVA/ZEVAConfig.cmake; do
    [[ -e "$prefix/$f" ]] || fail "$f not installed"
done
[[ "$(readlink "$prefix/lib/libZEVA.so")" == libZEVA.so.4 ]] || fail "libZEVA.so does not link to the SONAME"

# A prefix outside the system's search needs the run path of its lib/ (or LD_LIBRARY_PATH).
# shellcheck disable=SC2046,SC2086
cc -Wall -Wextra -Werror $flags "$root/sdk/examples/find_devices.c" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs zeva) -Wl,-rpath,"$prefix/lib" \
    -o "$tmp/find_devices-pc" || fail "pkg-config build"
# CMake gives the program the run path of the imported library itself.
cmake -S "$root/sdk/examples" -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="-Wall -Wextra -Werror $flags" >/dev/null || fail "find_package configure"
cmake --build "$tmp/cmake" >/dev/null || fail "find_package build"

# Discovery runs only in namespaces, which need root; netns-run.sh skips (77) without it.
"$root/tests/netns/netns-run.sh" -- bash "$0" --inside "$tmp" "$tmp/find_devices-pc" "$tmp/cmake/find_devices"
echo ok
