#!/usr/bin/env bash
# The path of the reliable-UDP benchmark: sender, middle and receiver namespaces joined by veth
# pairs; tbf 20 Mbit/s on both egresses of the middle; a 10 ms one-way delay each way; random
# loss from nftables numgen drops in the middle's forward hook, which hit UDP and TCP alike; the
# same rules count the bytes that went onto the wire. The delay comes from netem where the kernel
# has it, else from delay_relay.py over two TUN devices in the middle (policy routing by incoming
# veth); the output names the mechanism. Before each loss rate the script measures a UDP echo's
# round trip; each transfer line gives the loss the counters saw.
# Every namespace is removed on any exit. Run by hand, as root:
#   netpath.sh VRUDP_BENCH [MiB per transfer, 64] [connects per loss rate, 1000] [loss % ..., 0 1 5]
set -euo pipefail
bench=$(realpath "$1")
mib=${2:-64}
connects=${3:-1000}
shift $(($# < 3 ? $# : 3))
losses=("$@")
[ ${#losses[@]} -gt 0 ] || losses=(0 1 5)
bytes=$((mib * 1048576))
delay_ms=10
tag=zvp$$
S=${tag}s M=${tag}m R=${tag}r
work=$(mktemp -d)

cleanup() {
    for n in "$S" "$M" "$R"; do ip netns pids "$n" 2>/dev/null | xargs -r kill 2>/dev/null || true; done
    for n in "$S" "$M" "$R"; do ip netns del "$n" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for n in "$S" "$M" "$R"; do
    ip netns add "$n"
    ip -n "$n" link set lo up
done
ip link add "${tag}a" netns "$S" type veth peer name "${tag}b" netns "$M"
ip link add "${tag}c" netns "$M" type veth peer name "${tag}d" netns "$R"
ip -n "$S" addr add 10.77.1.1/24 dev "${tag}a"
ip -n "$M" addr add 10.77.1.2/24 dev "${tag}b"
ip -n "$M" addr add 10.77.2.1/24 dev "${tag}c"
ip -n "$R" addr add 10.77.2.2/24 dev "${tag}d"
for pair in "$S ${tag}a" "$M ${tag}b" "$M ${tag}c" "$R ${tag}d"; do
    set -- $pair
    ip -n "$1" link set "$2" up
done
ip -n "$S" route add default via 10.77.1.2
ip -n "$R" route add default via 10.77.2.1
ip netns exec "$M" sysctl -qw net.ipv4.ip_forward=1

mechanism="nftables numgen drops, tbf 20mbit"
if tc -n "$M" qdisc add dev "${tag}b" root handle 1: netem delay ${delay_ms}ms 2>/dev/null; then
    tc -n "$M" qdisc add dev "${tag}c" root handle 1: netem delay ${delay_ms}ms
    for dev in "${tag}b" "${tag}c"; do
        tc -n "$M" qdisc add dev "$dev" parent 1: handle 2: tbf rate 20mbit burst 32kb latency 100ms
    done
    mechanism="$mechanism, netem delay ${delay_ms} ms"
else
    for dev in "${tag}b" "${tag}c"; do
        tc -n "$M" qdisc add dev "$dev" root tbf rate 20mbit burst 32kb latency 100ms
    done
    ip netns exec "$M" python3 "$(dirname "$(realpath "$0")")/delay_relay.py" "${tag}x" "${tag}y" $delay_ms \
        >"$work/relay.out" 2>&1 &
    for _ in $(seq 200); do grep -q ready "$work/relay.out" 2>/dev/null && break; sleep 0.05; done
    for dev in all default "${tag}b" "${tag}c" "${tag}x" "${tag}y"; do
        ip netns exec "$M" sysctl -qw "net.ipv4.conf.$dev.rp_filter=0"
    done
    ip -n "$M" link set "${tag}x" up
    ip -n "$M" link set "${tag}y" up
    ip -n "$M" route add default dev "${tag}x" table 100
    ip -n "$M" route add default dev "${tag}y" table 101
    ip -n "$M" rule add iif "${tag}b" table 100
    ip -n "$M" rule add iif "${tag}c" table 101
    mechanism="$mechanism, delay_relay.py ${delay_ms} ms over TUN (no netem)"
fi
echo "path: $mechanism; $mib MiB per transfer; $connects connects per loss rate"

# Drop rules for the loss rate (per mille), then pass counters; one table, made afresh per run.
set_loss() {
    local permille=$(($1 * 10))
    ip netns exec "$M" nft delete table inet zvpath 2>/dev/null || true
    ip netns exec "$M" nft -f - <<NFT
table inet zvpath {
    chain path {
        type filter hook forward priority 0;
        iifname "${tag}b" numgen random mod 1000 < $permille counter drop
        iifname "${tag}c" numgen random mod 1000 < $permille counter drop
        iifname "${tag}b" counter
        iifname "${tag}c" counter
    }
}
NFT
}
# "dropped_packets passed_packets wire_bytes" over both directions.
counters() {
    ip netns exec "$M" nft list chain inet zvpath path |
        awk 'BEGIN { n = 0 } /counter packets/ { for (i = 1; i < NF; i++) { if ($i == "packets") p[n] = $(i + 1); if ($i == "bytes") b[n] = $(i + 1) } n++ }
             END { print p[0] + p[1], p[2] + p[3], b[0] + b[1] + b[2] + b[3] }'
}
wait_ready() {
    for _ in $(seq 200); do grep -q ready "$1" 2>/dev/null && return 0; sleep 0.05; done
    echo "receiver did not start" >&2
    return 1
}
port=41000

check_path() {  # loss
    set_loss "$1"
    port=$((port + 1))
    ip netns exec "$R" "$bench" udp-echo 10.77.2.2 $port 30 >"$work/echo.out" &
    local echo_pid=$!
    wait_ready "$work/echo.out"
    local rtt
    rtt=$(ip netns exec "$S" "$bench" udp-rtt 10.77.2.2 $port 200 | awk '/^result/ { print $NF }')
    kill $echo_pid 2>/dev/null || true
    wait $echo_pid 2>/dev/null || true
    awk -v r="$rtt" -v d=$((2 * delay_ms)) 'BEGIN { printf "check: udp echo rtt %.3f ms (setting %d ms) %s\n", r, d, (r - d < 1 && d - r < 1) ? "ok" : "OFF" }'
}

transfer() {  # proto msg loss
    set_loss "$3"
    port=$((port + 1))
    ip netns exec "$R" "$bench" "$1-recv" 10.77.2.2 $port $bytes 1800 >"$work/recv.out" 2>&1 &
    local recv_pid=$!
    wait_ready "$work/recv.out"
    ip netns exec "$S" "$bench" "$1-send" 10.77.2.2 $port $bytes "$2" >"$work/send.out" 2>&1 || true
    wait $recv_pid || true
    local c
    c=$(counters)
    [ -z "${NETPATH_DEBUG:-}" ] || ip netns exec "$M" nft list chain inet zvpath path
    set -- "$1" "$2" "$3" $c
    local result sender
    result=$(grep -h '^result' "$work/recv.out" || echo "result none")
    sender=$(grep -h '^sender' "$work/send.out" | awk '{ print $4 }')
    echo "$result" | awk -v proto="$1" -v msg="$2" -v loss="$3" -v drop="$4" -v pass="$5" -v wire="$6" -v scpu="$sender" -v want=$bytes '
        { for (i = 1; i < NF; i++) f[$i] = $(i + 1) }
        END { got = f["bytes"] + 0; measured = (drop + pass) ? 100 * drop / (drop + pass) : 0
              printf "transfer loss %s%% %s msg %s: %s of %s bytes, in order %s, %.2f s, goodput %.3f MB/s, wire/delivered %.3f, cpu ms/MB recv %s send %s, measured loss %.2f%%%s\n",
                     loss, proto, msg, got, want, f["in_order"], f["seconds"], f["goodput_MBps"], got ? wire / got : 0,
                     f["cpu_ms_per_MB"], scpu, measured,
                     (loss == 0 ? drop == 0 : (measured > loss * 0.9 && measured < loss * 1.1)) ? "" : " (loss OFF the setting)" }'
}

connect_run() {  # loss
    set_loss "$1"
    port=$((port + 1))
    ip netns exec "$R" "$bench" rudp-listen 10.77.2.2 $port 1800 >"$work/listen.out" 2>&1 &
    local listen_pid=$!
    wait_ready "$work/listen.out"
    ip netns exec "$S" "$bench" rudp-connects 10.77.2.2 $port "$connects" | sed -n "s/^result /connects loss $1%: /p"
    kill $listen_pid 2>/dev/null || true
    wait $listen_pid 2>/dev/null || true
}

for loss in "${losses[@]}"; do
    check_path "$loss"
    for msg in 1024 8192; do
        transfer tcp $msg "$loss"
        transfer rudp $msg "$loss"
    done
    connect_run "$loss"
done
