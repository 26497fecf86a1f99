#!/usr/bin/env bash
# Reliable UDP across loss, inside the namespaces of tests/netns/netns-run.sh (host = client,
# first peer = server, 10.99.1.2). nftables drops at random on the input hook of each namespace;
# a second run drops every other INIT-ACK, matched by its type byte.
#   vrudp_loss.sh TOOL
set -euo pipefail
tool="$1"
peer="${ZEVA_NETNS_PEERS%% *}"
port=40100

. "$(dirname "${BASH_SOURCE[0]}")/vrudp_nft.sh"
run() {  # name, connects, messages
    ip netns exec "$peer" "$tool" server 10.99.1.2 "$port" 300 > server.out &
    local srv=$!
    for _ in $(seq 100); do grep -q ready server.out 2>/dev/null && break; sleep 0.05; done
    "$tool" client 10.99.1.2 "$port" "$2" "$3" || { kill "$srv"; echo "FAIL: $1"; exit 1; }
    kill "$srv"; wait "$srv" || true
    echo "ok: $1"
}
cd "$(mktemp -d)"

# 5 % random loss each way.
rules "" ztloss numgen random mod 100 '<' 5 counter drop
rules "ip netns exec $peer" ztloss numgen random mod 100 '<' 5 counter drop
run "5% loss each way" 3 300
client=$(dropped "" ztloss) server=$(dropped "ip netns exec $peer" ztloss)
echo "drops: client $client, server $server"
[ $((client + server)) -gt 0 ] || { echo "FAIL: no drops counted"; exit 1; }
nft delete table inet ztloss
ip netns exec "$peer" nft delete table inet ztloss

# Every other INIT-ACK lost (byte 5 of the payload, type bits = 2): every connect still succeeds.
rules "" ztloss '@th,104,8 & 0x3f == 2' numgen inc mod 2 == 0 counter drop
port=40101
run "every other INIT-ACK lost" 20 2
[ "$(dropped "" ztloss)" -gt 0 ] || { echo "FAIL: no INIT-ACK dropped"; exit 1; }
