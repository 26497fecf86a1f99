# A sender - middle - receiver path in namespaces of its own, sourced by the benchmark scripts.
#   netpath_up RELAY LOSS_PCT   tbf 20 Mbit/s each way in the middle, 10 ms one-way delay (netem
#                               where the kernel has it, else the TUN delay line RELAY), random
#                               loss of LOSS_PCT % each way (nftables in the middle)
#   netpath_counters            "entered dropped bytes": packets entering the middle, both ways,
#                               those the loss rule dropped, and the bytes entering, since netpath_up
#   netpath_wire_bytes          bytes entering the middle, both ways, since netpath_up
#   netpath_down                removes everything, also what still runs inside (callers trap it on exit)
# Sender 10.201.1.2 in $NP_SND, receiver 10.201.2.2 in $NP_RCV; $NP_DELAY says which delay ran.
NP_TAG="zsb$$"
NP_SND="$NP_TAG-snd" NP_MID="$NP_TAG-mid" NP_RCV="$NP_TAG-rcv"
NP_RCV_ADDR=10.201.2.2
NP_RATE=20mbit
NP_DELAY_MS=10
NP_TMP=$(mktemp -d)
NP_RELAY_PID=""

netpath_down() {
    if [ -n "$NP_RELAY_PID" ]; then
        kill "$NP_RELAY_PID" 2>/dev/null || true
        wait "$NP_RELAY_PID" 2>/dev/null || true
    fi
    NP_RELAY_PID=""
    # A process left inside would keep its namespace alive after the name is gone.
    for ns in "$NP_SND" "$NP_MID" "$NP_RCV"; do ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true; done
    for ns in "$NP_SND" "$NP_MID" "$NP_RCV"; do ip netns del "$ns" 2>/dev/null || true; done
    return 0
}

netpath_up() {
    local relay="$1" loss="$2" m="ip netns exec $NP_MID"
    netpath_down
    for ns in "$NP_SND" "$NP_MID" "$NP_RCV"; do ip netns add "$ns"; ip -n "$ns" link set lo up; done
    ip link add s0 netns "$NP_SND" type veth peer name m0 netns "$NP_MID"
    ip link add r0 netns "$NP_RCV" type veth peer name m1 netns "$NP_MID"
    ip -n "$NP_SND" addr add 10.201.1.2/24 dev s0
    ip -n "$NP_MID" addr add 10.201.1.1/24 dev m0
    ip -n "$NP_MID" addr add 10.201.2.1/24 dev m1
    ip -n "$NP_RCV" addr add 10.201.2.2/24 dev r0
    # One segment per packet: a TCP super-packet would otherwise meet the loss rule as one.
    for l in "$NP_SND s0" "$NP_MID m0" "$NP_MID m1" "$NP_RCV r0"; do
        set -- $l
        ip -n "$1" link set dev "$2" gso_max_segs 1 up
    done
    ip -n "$NP_SND" route add default via 10.201.1.1
    ip -n "$NP_RCV" route add default via 10.201.2.1
    $m sysctl -qw net.ipv4.ip_forward=1 net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
    # The bottleneck: 20 Mbit/s leaving the middle each way.
    $m tc qdisc add dev m1 root handle 1: tbf rate "$NP_RATE" burst 32kb latency 100ms
    $m tc qdisc add dev m0 root handle 1: tbf rate "$NP_RATE" burst 32kb latency 100ms
    if $m tc qdisc add dev lo root netem delay 1ms 2>/dev/null; then
        $m tc qdisc del dev lo root
        for d in m0 m1; do $m tc qdisc add dev "$d" parent 1:1 handle 10: netem delay "${NP_DELAY_MS}ms"; done
        NP_DELAY="netem ${NP_DELAY_MS} ms"
    else
        # The delay line: what comes in from one side goes through tun a or b and the relay.
        ip netns exec "$NP_MID" "$relay" npa npb "$NP_DELAY_MS" > "$NP_TMP/relay.out" &
        NP_RELAY_PID=$!
        for _ in $(seq 100); do grep -q ready "$NP_TMP/relay.out" 2>/dev/null && break; sleep 0.05; done
        for d in npa npb; do
            $m ip link set "$d" up
            $m sysctl -qw "net.ipv4.conf.$d.rp_filter=0"
        done
        $m ip route add default dev npa table 100
        $m ip route add default dev npb table 101
        $m ip rule add iif m0 lookup 100
        $m ip rule add iif m1 lookup 101
        NP_DELAY="TUN relay ${NP_DELAY_MS} ms"
    fi
    # Each packet is judged once, where it enters the middle.
    $m nft add table inet np
    $m nft add chain inet np through '{ type filter hook forward priority 0; }'
    $m nft add rule inet np through iifname '{ "m0", "m1" }' counter
    $m nft add rule inet np through iifname '{ "m0", "m1" }' numgen random mod 100 '<' "$loss" counter drop
    return 0
}

netpath_counters() {
    ip netns exec "$NP_MID" nft list chain inet np through |
        awk 'BEGIN { n = 0 } /counter packets/ { for (i = 1; i < NF; i++) { if ($i == "packets") p[n] = $(i + 1); if ($i == "bytes") b[n] = $(i + 1) } n++ }
             END { print p[0] + 0, p[1] + 0, b[0] + 0 }'
}

netpath_wire_bytes() {
    netpath_counters | awk '{ print $3 }'
}
