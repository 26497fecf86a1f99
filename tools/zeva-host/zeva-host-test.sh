#!/usr/bin/env bash
# Test of zeva-host.
#   zeva-host-test.sh BIN            (outside any namespace) it refuses the machine's network, then
#                                    runs "inside" under tests/netns/netns-run.sh and checks that no
#                                    namespace is left afterwards
#   zeva-host-test.sh --inside BIN   (in the host namespace of netns-run.sh) it starts, prints no
#                                    device, and stops on SIGINT with exit status 0
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ "${1:-}" == "--inside" ]]; then
    bin="$2"
    out="$(mktemp)"
    err="$(mktemp)"
    trap 'rm -f "$out" "$err"' EXIT
    "$bin" --json --interval 1 >"$out" 2>"$err" &
    pid=$!
    for _ in $(seq 250); do
        ss -uan | grep -q '%h1:37020' && break
        sleep 0.02
    done
    ss -uan | grep -q '%h1:37020' || fail "zeva-host did not open its sockets"
    kill -INT "$pid"
    status=0
    wait "$pid" || status=$?
    [[ $status -eq 0 ]] || fail "exit status $status: $(cat "$out" "$err")"
    [[ ! -s "$out" ]] || fail "printed something: $(cat "$out")"
    ss -uan | grep -q ':37020' && fail "sockets left open"
    # Request commands against the device simulator in the peer namespace.
    peer="${ZEVA_NETNS_PEERS%% *}"
    ip netns exec "$peer" "$here/../devsim/devsim" --seconds 60 --devices 2 --log /dev/null &
    sim=$!
    trap 'kill "$sim" 2>/dev/null; rm -f "$out" "$err"' EXIT
    got="$("$bin" --seconds 20 get DS-SIM0000-000000000000 1 260 2>&1 | grep '^result')" || true
    [[ "$got" == "result 1 error 0 data 0c00000052433030303030303030303000"* ]] || fail "get: $got"
    got="$("$bin" --seconds 20 activate DS-SIM0001-000000000001 Newpass123 2>&1 | grep '^result')" || true
    [[ "$got" == "result 0 error 2021" ]] || fail "activate of an active device: $got"
    got="$("$bin" --seconds 20 netparam 02-d5-00-00-00-01 Sim12345 10.99.1.77 255.255.255.0 10.99.1.1 2>&1 |
           grep '^result')" || true
    [[ "$got" == "result 1 error 0 data 0000" ]] || fail "netparam: $got"
    kill "$sim"
    echo "inside: ok"
    exit 0
fi

bin="$1"
[[ $(id -u) -eq 0 ]] || { echo "needs root for namespaces"; exit 77; }
"$bin" --help | grep -q "activate SERIAL PASSWORD" || fail "--help lists no request commands"
status=0
"$bin" frobnicate x 2>/dev/null || status=$?
[[ $status -eq 2 ]] || fail "an unknown command was taken (status $status)"
status=0
err="$("$bin" --seconds 0 2>&1)" || status=$?
[[ $status -eq 3 && "$err" == *refusing* ]] || fail "started outside a namespace (status $status): $err"

"$here/../../tests/netns/netns-run.sh" -p 1 -- "$here/zeva-host-test.sh" --inside "$bin" &
runner=$!
status=0
wait "$runner" || status=$?
[[ $status -eq 0 ]] || fail "the run inside the namespaces failed ($status)"
if ip netns list | awk '{print $1}' | grep -q "^zt$runner-"; then
    fail "namespaces left behind"
fi
echo "ok"
