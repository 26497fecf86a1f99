#!/usr/bin/env bash
# A media stream across hard paths, inside the namespaces of tests/netns/netns-run.sh (host =
# client, first peer = father, 10.99.1.2): 5% random loss each way (nftables), then a rate-limited
# veth (tbf) that answers sendto with EAGAIN. Every packet must arrive once and in order, also
# through a stream server link.
#   vrudp_stream_paths.sh TOOL
set -euo pipefail
tool="$1"
peer="${ZEVA_NETNS_PEERS%% *}"
port=40200

. "$(dirname "${BASH_SOURCE[0]}")/vrudp_nft.sh"
run() {  # name, packets[, server mode]
    ip netns exec "$peer" "$tool" "${3:-server}" 10.99.1.2 "$port" "$2" > server.out &
    local srv=$!
    for _ in $(seq 100); do grep -q ready server.out 2>/dev/null && break; sleep 0.05; done
    "$tool" client 10.99.1.2 "$port" "$2" || { kill "$srv" 2>/dev/null; cat server.out; echo "FAIL: $1 (client)"; exit 1; }
    wait "$srv" || { cat server.out; echo "FAIL: $1 (server)"; exit 1; }
    cat server.out
    echo "ok: $1"
    port=$((port + 1))
}
cd "$(mktemp -d)"

rules "" ztsloss numgen random mod 100 '<' 5 counter drop
rules "ip netns exec $peer" ztsloss numgen random mod 100 '<' 5 counter drop
run "5% loss each way" 1000
run "5% loss each way through a stream server link" 1000 serverlink
client=$(dropped "" ztsloss) server=$(dropped "ip netns exec $peer" ztsloss)
echo "drops: client $client, server $server"
[ $((client + server)) -gt 0 ] || { echo "FAIL: no drops counted"; exit 1; }
nft delete table inet ztsloss
ip netns exec "$peer" nft delete table inet ztsloss

# A slow, shallow egress: the socket's send buffer fills and sendto answers EAGAIN for a while.
tc qdisc add dev h1 root tbf rate 4mbit burst 4kb latency 50ms
run "rate-limited egress" 1000
tc qdisc del dev h1 root
