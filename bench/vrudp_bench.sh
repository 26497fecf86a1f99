#!/usr/bin/env bash
# The reliable-UDP benchmark, by hand (never by the tests), as root:
#   bench/vrudp_bench.sh BUILD_DIR [MiB per transfer, 64] [connects per loss rate, 1000] [loss % ..., 0 1 5]
# For each loss on the 20 Mbit/s, 10 ms path of netpath/: a UDP echo's round trip checked against
# the setting, then bulk transfers of 1 and 8 KiB messages over TCP and reliable UDP, then connects.
# Each transfer line gives the bytes on the wire per delivered byte and the loss the counters saw.
set -euo pipefail
build="$(cd "$1" && pwd)"
mib=${2:-64}
connects=${3:-1000}
shift $(($# < 3 ? $# : 3))
losses=("$@")
[ ${#losses[@]} -gt 0 ] || losses=(0 1 5)
bench="$build/bench/vrudp_bench"
bytes=$((mib * 1048576))
. "$(dirname "${BASH_SOURCE[0]}")/netpath/netpath-lib.sh"
trap netpath_down EXIT
trap 'exit 130' INT TERM
port=41000

wait_ready() {
    for _ in $(seq 200); do grep -q ready "$1" 2>/dev/null && return 0; sleep 0.05; done
    echo "receiver did not start" >&2
    return 1
}

check_path() {
    port=$((port + 1))
    ip netns exec "$NP_RCV" "$bench" udp-echo "$NP_RCV_ADDR" $port 30 > "$NP_TMP/echo.out" &
    local echo_pid=$!
    wait_ready "$NP_TMP/echo.out"
    local rtt
    rtt=$(ip netns exec "$NP_SND" "$bench" udp-rtt "$NP_RCV_ADDR" $port 200 | awk '/^result/ { print $NF }')
    kill $echo_pid 2>/dev/null || true
    wait $echo_pid 2>/dev/null || true
    awk -v r="$rtt" -v d=$((2 * NP_DELAY_MS)) 'BEGIN { printf "check: udp echo rtt %.3f ms (setting %d ms) %s\n", r, d, (r - d < 1 && d - r < 1) ? "ok" : "OFF" }'
}

transfer() {  # proto msg loss
    port=$((port + 1))
    local c0 c1
    c0=$(netpath_counters)
    ip netns exec "$NP_RCV" "$bench" "$1-recv" "$NP_RCV_ADDR" $port $bytes 1800 > "$NP_TMP/recv.out" 2>&1 &
    local recv_pid=$!
    wait_ready "$NP_TMP/recv.out"
    ip netns exec "$NP_SND" "$bench" "$1-send" "$NP_RCV_ADDR" $port $bytes "$2" > "$NP_TMP/send.out" 2>&1 || true
    wait $recv_pid || true
    c1=$(netpath_counters)
    local result sender
    result=$(grep -h '^result' "$NP_TMP/recv.out" || echo "result none")
    sender=$(grep -h '^sender' "$NP_TMP/send.out" | awk '{ print $4 }')
    echo "$result" | awk -v proto="$1" -v msg="$2" -v loss="$3" -v c0="$c0" -v c1="$c1" -v scpu="$sender" -v want=$bytes '
        { for (i = 1; i < NF; i++) f[$i] = $(i + 1) }
        END { split(c0, a); split(c1, z); entered = z[1] - a[1]; drop = z[2] - a[2]; wire = z[3] - a[3]
              got = f["bytes"] + 0; measured = entered ? 100 * drop / entered : 0
              printf "transfer loss %s%% %s msg %s: %s of %s bytes, in order %s, %.2f s, goodput %.3f MB/s, wire/delivered %.3f, cpu ms/MB recv %s send %s, measured loss %.2f%%%s\n",
                     loss, proto, msg, got, want, f["in_order"], f["seconds"], f["goodput_MBps"], got ? wire / got : 0,
                     f["cpu_ms_per_MB"], scpu, measured,
                     (loss == 0 ? drop == 0 : (measured > loss * 0.9 && measured < loss * 1.1)) ? "" : " (loss OFF the setting)" }'
}

connect_run() {  # loss
    port=$((port + 1))
    ip netns exec "$NP_RCV" "$bench" rudp-listen "$NP_RCV_ADDR" $port 1800 > "$NP_TMP/listen.out" 2>&1 &
    local listen_pid=$!
    wait_ready "$NP_TMP/listen.out"
    ip netns exec "$NP_SND" "$bench" rudp-connects "$NP_RCV_ADDR" $port "$connects" | sed -n "s/^result /connects loss $1%: /p"
    kill $listen_pid 2>/dev/null || true
    wait $listen_pid 2>/dev/null || true
}

for loss in "${losses[@]}"; do
    netpath_up "$build/bench/netpath_tun_relay" "$loss"
    echo "path: tbf $NP_RATE each way, delay $NP_DELAY, loss $loss % by nftables numgen; $mib MiB per transfer; $connects connects"
    check_path
    for msg in 1024 8192; do
        transfer tcp $msg "$loss"
        transfer rudp $msg "$loss"
    done
    connect_run "$loss"
done
