#!/usr/bin/env bash
# Runs a command inside test network namespaces and always removes them afterwards (also on
# failure or Ctrl-C). usage() below says what it makes; --help prints it.
set -euo pipefail

usage() {
    cat <<'EOT'
usage: tests/netns/netns-run.sh [-p PEERS] -- COMMAND [ARGS...]

Runs COMMAND (as root) inside fresh network namespaces and removes them afterwards, also on
failure or Ctrl-C; exits with COMMAND's status (77, "skipped" for CTest, when not root).

  -p PEERS   peer namespaces to make, 1 to 254 (default 1)
  --help     this text

It makes a namespace "host" and PEERS peer namespaces. Peer i (1, 2, ...) is joined to the host by
a veth pair:

  host  h<i>  10.99.<i>.1/24  fd99:<i>::1/64   <->   peer i  p0  10.99.<i>.2/24  fd99:<i>::2/64

COMMAND runs in the host namespace with these in its environment:

  ZEVA_NETNS_HOST    the host namespace's name
  ZEVA_NETNS_PEERS   the peer namespaces' names, space-separated, peer 1 first

Start helpers in a peer with:  ip netns exec "${ZEVA_NETNS_PEERS%% *}" COMMAND...
Names are "zt<pid>-<n>-<tag>", unique per run; namespaces left by runs that were killed are
removed at the next start.
EOT
}

usage_error() {
    echo "netns-run.sh: $*" >&2
    echo "usage: $0 [-p PEERS] -- COMMAND [ARGS...]   (--help says more)" >&2
    exit 2
}

# Peer i takes the subnets 10.99.<i>.0/24 and fd99:<i>::/64.
max_peers=254
peers=1
options=()  # those read so far, to show the command line with the "--" in its place
while (($#)); do
    case "$1" in
        -p) [[ $# -ge 2 && "$2" =~ ^[0-9]+$ ]] || usage_error "-p takes a number of peers"
            ((10#$2 >= 1 && 10#$2 <= max_peers)) || usage_error "-p $2: the number of peers is 1 to $max_peers"
            peers=$((10#$2)); options+=("$1" "$2"); shift 2 ;;
        -h|--help) usage; exit 0 ;;
        --) shift; break ;;
        -*) usage_error "unknown option $1" ;;
        *) usage_error "$1: put the command after --, as in: $0 ${options[*]}${options[*]:+ }-- $*" ;;
    esac
done
(($#)) || usage_error "no command given"

# Exit status 77 tells CTest the test was skipped.
if [[ $(id -u) -ne 0 ]]; then
    echo "$0: network namespaces need root" >&2
    exit 77
fi

for ns in $(ip netns list | awk '{print $1}' | grep -E '^zt[0-9]+-' || true); do
    pid="${ns#zt}"; pid="${pid%%-*}"
    kill -0 "$pid" 2>/dev/null || ip netns del "$ns" 2>/dev/null || true
done

made=()
child=""
cleanup() {
    [[ -n "$child" ]] && kill -TERM "$child" 2>/dev/null && wait "$child" 2>/dev/null
    # Helpers started in the background of a namespace go with it.
    for ns in "${made[@]}"; do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
        ip netns del "$ns" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Sets $ns to the new namespace's name. The name is recorded first: a signal that comes while
# "ip netns add" runs is handled when it returns, and the cleanup must know that namespace then.
add_ns() {
    ns="zt$$-${#made[@]}-$1"
    made+=("$ns")
    ip netns add "$ns"
    ip -n "$ns" link set lo up
}

add_ns host
host="$ns"
peer_names=()
for ((i = 1; i <= peers; i++)); do
    add_ns "peer$i"
    peer="$ns"
    ip -n "$host" link add "h$i" type veth peer name p0 netns "$peer"
    ip -n "$host" addr add "10.99.$i.1/24" dev "h$i"
    ip -n "$host" addr add "fd99:$i::1/64" dev "h$i" nodad
    ip -n "$peer" addr add "10.99.$i.2/24" dev p0
    ip -n "$peer" addr add "fd99:$i::2/64" dev p0 nodad
    ip -n "$host" link set "h$i" up
    ip -n "$peer" link set p0 up
    peer_names+=("$peer")
done

# Ready when the links are up and carry the IPv6 multicast route the kernel adds a little later.
ready() {
    ip -n "$1" link show dev "$2" | grep -q LOWER_UP &&
        ip -n "$1" -6 route show table local dev "$2" | grep -q 'ff00::/8'
}
for ((i = 1; i <= peers; i++)); do
    for _ in $(seq 150); do
        ready "$host" "h$i" && ready "${peer_names[$((i - 1))]}" p0 && break
        sleep 0.02
    done
done

# In the background, so that a signal reaches the traps at once and not after the command.
ZEVA_NETNS_HOST="$host" ZEVA_NETNS_PEERS="${peer_names[*]}" ip netns exec "$host" "$@" <&0 &
child=$!
set +e
wait "$child"
rc=$?
child=""
exit "$rc"
