#!/usr/bin/env bash
# The main job in one command: a simulated network of devices in one namespace, a host of
# libZEVA.so in another, joined by a veth pair. The host shows every device as found, one that
# changes its address, one that changes only its salt, and one that goes silent and is reported
# offline after three missed inquiries. No namespace is left afterwards.
#
#   bash scripts/demo.sh [--seconds S] [--devices N] [--build-dir DIR]
#
# Installs missing packages and builds libZEVA.so and zeva-host when they are not built yet.
# Exits 1 when no device was found, changed or reported offline.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=20
devices=40
build="$root/build"

usage() { echo "usage: $0 [--seconds S] [--devices N] [--build-dir DIR]" >&2; exit 2; }

inside() {
    local peer="${ZEVA_NETNS_PEERS%% *}" last=$((devices - 1))
    local out="$work/host.txt"
    "$build/tools/zeva-host/zeva-host" --interval 2 --seconds "$seconds" --logdir "$work/sdklog" | tee "$out" &
    local host=$!
    for _ in $(seq 250); do
        ss -uan | grep -q '%h1:37020' && break
        sleep 0.02
    done
    # Device 0 moves to another address, device 1 gets a new salt, the last one goes silent.
    ip netns exec "$peer" "$root/tools/devsim/devsim" --devices "$devices" --seconds "$((seconds + 1))" \
        --change-after 3:IPv4Address:0 --change-after 5:Salt:1 --silent-after "3:$last" \
        --log "$work/devsim.jsonl" &
    local sim=$!
    wait "$host" || true
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
}

while (($#)); do
    case "$1" in
        --seconds) seconds="${2:?}"; shift 2 ;;
        --devices) devices="${2:?}"; shift 2 ;;
        --build-dir) build="${2:?}"; shift 2 ;;
        --inside) work="${2:?}"; seconds="$3"; devices="$4"; build="$5"; inside; exit 0 ;;
        *) usage ;;
    esac
done
[[ "$seconds" =~ ^[0-9]+$ && "$devices" =~ ^[0-9]+$ && "$devices" -ge 2 ]] || usage

if [[ $(id -u) -ne 0 ]]; then
    exec sudo bash "$0" --seconds "$seconds" --devices "$devices" --build-dir "$build"
fi

source "$root/scripts/install-packages.sh"
install_missing_packages
if [[ ! -x "$build/tools/zeva-host/zeva-host" || ! -e "$build/sdk/libZEVA.so" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DZEVA_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" --target ZEVA zeva-host
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "$devices simulated devices, inquiry every 2 s, for $seconds s (Ctrl-C stops)"
"$root/tests/netns/netns-run.sh" -- bash "$root/scripts/demo.sh" --inside "$work" "$seconds" "$devices" "$build" &
runner=$!
# A background job ignores Ctrl-C, so it is passed on; the runner removes its namespaces.
trap 'kill -TERM "$runner" 2>/dev/null || true' INT TERM
wait "$runner" || wait "$runner" || true
trap - INT TERM

count() { awk -v s="$1" '$1 == s' "$work/host.txt" | wc -l; }
found="$(count new)" changed="$(count changed)" offline="$(count offline)"
echo "found $found, changed $changed, offline $offline"
left="$(ip netns list | awk '{print $1}' | grep -c "^zt$runner-" || true)"
echo "namespaces left: $left"
((found > 0 && changed > 0 && offline > 0 && left == 0))
