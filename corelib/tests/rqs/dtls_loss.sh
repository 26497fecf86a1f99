#!/usr/bin/env bash
# The RQS-over-DTLS server link across loss, inside the namespaces of tests/netns/netns-run.sh
# (host = s_client, first peer = server link, 10.99.1.2). nftables drops at random on the input
# hook of each namespace, on the veth side only (the link's route forwards over loopback inside its
# namespace): every datagram, and handshake records (content type 22, the payload's first byte)
# more often, so that flights are lost and resent.
#   dtls_loss.sh TOOL
set -euo pipefail
tool="$1"
peer="${ZEVA_NETNS_PEERS%% *}"
port=40200

. "$(dirname "${BASH_SOURCE[0]}")/../vrudp/vrudp_nft.sh"
cd "$(mktemp -d)"

for ns in "" "ip netns exec $peer"; do
    rules "$ns" ztloss iifname != '"lo"' numgen random mod 100 '<' 5 counter drop
    rules "$ns" zthand iifname != '"lo"' '@th,64,8 == 22' numgen random mod 100 '<' 10 counter drop
done

ip netns exec "$peer" "$tool" server 10.99.1.2 "$port" 600 > server.out &
srv=$!
for _ in $(seq 600); do grep -q ready server.out 2>/dev/null && break; sleep 0.05; done
grep -q ready server.out || { kill "$srv"; cat server.out; echo "FAIL: the server link did not start"; exit 1; }
status=0
"$tool" client 10.99.1.2 "$port" 6 40 || status=1
kill "$srv"; wait "$srv" || true
cat server.out

for table in ztloss zthand; do
    client=$(dropped "" "$table") server=$(dropped "ip netns exec $peer" "$table")
    echo "$table drops: client $client, server $server"
    [ $((client + server)) -gt 0 ] || { echo "FAIL: no drops counted in $table"; exit 1; }
done
[ "$status" -eq 0 ] || { echo "FAIL: DTLS across loss"; exit 1; }
echo "ok: DTLS across loss"
