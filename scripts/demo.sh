#!/usr/bin/env bash
# The main job in one command: a simulated network of devices in one namespace, a host of
# libZEVA.so in another, joined by a veth pair. The host shows every device as found, one that
# moves to a free address, one that changes only its salt, and one that goes silent and is reported
# offline after three missed inquiries. No namespace is left afterwards.
#
# Installs the packages the demo needs (scripts/packages-demo.txt), configures build/ as the tests
# do when it is not configured yet, and always builds libZEVA.so and zeva-host (nothing to do when
# nothing changed). Exits 1 when no device was found, changed or reported offline, or when it is not
# root and there is no sudo to ask; 2 on a bad option; 130 on Ctrl-C.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=20
devices=40
all=""
build="$root/build"

# The schedule: an inquiry every 2 s; device 0 goes silent at 3 s, device 1 gets a new salt at 5 s,
# the last device moves at 3 s to the address after its own, which no device holds.
interval=2
silent_at=3
salt_at=5
move_at=3
# Offline is reported with the third inquiry after the last answer: up to 4 intervals after the
# silence, plus a second for the simulator's start and the report.
min_seconds=$((silent_at + 4 * interval + 1))
max_devices=150  # addresses 10.99.1.100 and up, and one free above them

usage() {
    cat <<EOT
usage: bash scripts/demo.sh [--seconds S] [--devices N] [--all] [--build-dir DIR]
  --seconds S      run S seconds (default 20, at least $min_seconds: the offline report needs them)
  --devices N      simulated devices (default 40, 3 to $max_devices: one moves, one changes its
                   salt, one goes offline)
  --all            list every new device (default: the first 20, then one line counts the rest)
  --build-dir DIR  build tree (default build/, configured as scripts/test.sh does)
  --help           this text
Runs as root (asks sudo otherwise). Ctrl-C stops it early and prints the summary.
EOT
}

refuse() { echo "demo.sh: $*" >&2; exit 2; }

inside() {
    local peer="${ZEVA_NETNS_PEERS%% *}" last=$((devices - 1))
    mkfifo "$work/reports"
    python3 -B "$root/scripts/demo_view.py" --interval "$interval" $all --summary "$work/summary" \
        --stop-file "$work/stop" <"$work/reports" &
    local view=$!
    "$build/tools/zeva-host/zeva-host" --json --interval "$interval" --seconds "$seconds" \
        --logdir "$work/sdklog" >"$work/reports" 2>"$work/host.err" &
    local host=$!
    # netns-run.sh stops this script with SIGTERM on Ctrl-C: the host stops and the view ends.
    trap 'kill -TERM "$host" 2>/dev/null || true' TERM
    for _ in $(seq 250); do
        ss -uan | grep -q '%h1:37020' && break
        sleep 0.02
    done
    ip netns exec "$peer" "$root/tools/devsim/devsim" --devices "$devices" --seconds "$((seconds + 1))" \
        --silent-after "$silent_at:0" --change-after "$salt_at:Salt:1" \
        --change-after "$move_at:IPv4Address:$last" --log "$work/devsim.jsonl" &
    local sim=$!
    while kill -0 "$host" 2>/dev/null; do
        wait "$host" || true
    done
    wait "$view" || true
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
}

while (($#)); do
    case "$1" in
        --seconds) [[ $# -ge 2 ]] || refuse "--seconds needs a value"; seconds="$2"; shift 2 ;;
        --devices) [[ $# -ge 2 ]] || refuse "--devices needs a value"; devices="$2"; shift 2 ;;
        --build-dir) [[ $# -ge 2 ]] || refuse "--build-dir needs a value"; build="$2"; shift 2 ;;
        --all) all="--all"; shift ;;
        --help) usage; exit 0 ;;
        --inside) work="$2"; seconds="$3"; devices="$4"; build="$5"; all="${6:-}"; inside; exit 0 ;;
        *) echo "demo.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] || refuse "--seconds takes whole seconds, not $seconds"
[[ "$devices" =~ ^[0-9]+$ ]] || refuse "--devices takes a number, not $devices"
((seconds >= min_seconds)) ||
    refuse "--seconds $seconds is too short: the silent device is reported offline only after three" \
           "missed inquiries, up to $((min_seconds - 1)) s after the start; use at least $min_seconds"
((devices >= 3)) ||
    refuse "--devices $devices is too few: one device goes offline, one changes its salt and one" \
           "moves, so the demo needs at least 3"
((devices <= max_devices)) ||
    refuse "--devices $devices is too many: the devices take 10.99.1.100 and up, and the moving" \
           "one needs a free address below .255; use at most $max_devices"

if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "demo.sh: must run as root: it makes network namespaces for the devices and the host." >&2
        echo "There is no sudo to ask; run it from a root shell." >&2
        exit 1
    fi
    exec sudo bash "$0" --seconds "$seconds" --devices "$devices" --build-dir "$build" $all
fi

echo "Checking the packages the demo needs (scripts/packages-demo.txt)..."
source "$root/scripts/install-packages.sh"
install_missing_packages "$root/scripts/packages-demo.txt"
# The same configuration as the tests' (benchmarks on): the demo never changes build/'s cache.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    echo "Configuring $build..."
    cmake -S "$root" -B "$build" -G Ninja
fi
echo "Building libZEVA.so and zeva-host in $build (the first time takes some minutes)..."
cmake --build "$build" --target ZEVA zeva-host

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "$devices simulated devices, an inquiry every $interval s, for $seconds s (Ctrl-C stops)."
echo "At $move_at s device $((devices - 1)) moves, at $silent_at s device 0 falls silent," \
     "at $salt_at s device 1 gets a new salt."
"$root/tests/netns/netns-run.sh" -- bash "$root/scripts/demo.sh" --inside "$work" "$seconds" "$devices" \
    "$build" $all &
runner=$!
# A background job ignores Ctrl-C, so it is passed on; the runner removes its namespaces. Stopping
# takes a few seconds (the host stops the SDK's threads, the namespaces go): say so at once, on a
# line of its own also when the view's status line stands on the terminal. The view writes no
# status line once the stop file holds a line; its lock keeps one being written before the words.
stopped=""
stopping() {
    {
        flock 9
        echo stopping >&9
        [[ -t 1 ]] && printf '\r\033[K'
        echo "Stopping..."
    } 9>>"$work/stop"
}
trap 'stopped=1; stopping; kill -TERM "$runner" 2>/dev/null || true' INT TERM
while kill -0 "$runner" 2>/dev/null; do
    wait "$runner" || true
done
trap - INT TERM

[[ -s "$work/summary" ]] || { echo "demo.sh: the host's view ended without a summary" >&2; exit 1; }
# One interpreter start for all the counts: where python3 is a wrapper (pyenv) each start costs.
read -r found changed moved salt offline back ran < <(python3 -c 'import json, sys
counts = json.load(open(sys.argv[1]))
print(*(counts[key] for key in sys.argv[2:]))' "$work/summary" found changed moved salt offline back seconds)
left="$(ip netns list | awk '{print $1}' | grep -c "^zt$runner-" || true)"
[[ -n "$stopped" ]] && echo "Stopped by Ctrl-C after $ran s."
echo "Found $found, changed $changed (moved $moved, salt $salt), offline $offline, back $back;" \
     "namespaces left: $left."
[[ -z "$stopped" ]] || exit 130
((found > 0 && changed > 0 && offline > 0 && left == 0))
