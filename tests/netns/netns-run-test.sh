#!/usr/bin/env bash
# Checks netns-run.sh. "inside" runs under it: host and peers have their addresses, links up.
# "outside" runs it: exit status passed on, namespaces and the processes left in them gone after
# success, failure and SIGTERM. "usage" checks --help and the usage errors (no root needed).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

fail() { echo "FAIL: $*" >&2; exit 1; }

# "ip netns list" names a namespace that is being made or removed with an error; not ours to show.
ours() { ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^zt$1-" || true; }

case "${1:-}" in
inside)
    [[ -n "${ZEVA_NETNS_HOST:-}" ]] || fail "no ZEVA_NETNS_HOST"
    read -r -a peers <<<"$ZEVA_NETNS_PEERS"
    ((${#peers[@]} == 2)) || fail "expected 2 peers, got '${ZEVA_NETNS_PEERS}'"
    [[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ]] || fail "not in a namespace"
    for i in 1 2; do
        ip -br addr show dev "h$i" | grep -q "10.99.$i.1/24" || fail "h$i has no address"
        ip netns exec "${peers[$((i - 1))]}" ip -br addr show dev p0 | grep -q "10.99.$i.2/24" ||
            fail "peer $i has no address"
        ip -br link show dev "h$i" | grep -q "LOWER_UP" || fail "h$i is not up"
    done
    ;;
outside)
    [[ $(id -u) -eq 0 ]] || exit 77
    # Exit status is passed on, and nothing stays behind.
    set +e
    "$here/netns-run.sh" -- sh -c 'exit 7'
    rc=$?
    set -e
    ((rc == 7)) || fail "exit status $rc, expected 7"

    "$here/netns-run.sh" -p 3 -- sh -c 'echo $$ >/dev/null' || fail "plain run failed"

    # A helper left running in a peer goes with the namespaces.
    pidfile="$(mktemp)"
    "$here/netns-run.sh" -- sh -c "ip netns exec \$ZEVA_NETNS_PEERS sh -c 'sleep 300 >/dev/null 2>&1 & echo \$! >$pidfile'"
    helper="$(cat "$pidfile")"
    rm -f "$pidfile"
    [[ -n "$helper" ]] || fail "the helper never started"
    state="$(ps -o stat= -p "$helper" || true)"
    [[ -z "$state" || "$state" == Z* ]] || { kill "$helper"; fail "helper $helper left running"; }

    "$here/netns-run.sh" -- sleep 30 &
    runner=$!
    for _ in $(seq 100); do [[ -n "$(ours "$runner")" ]] && break; sleep 0.05; done
    [[ -n "$(ours "$runner")" ]] || fail "namespaces never appeared"
    kill -TERM "$runner"
    wait "$runner" || true
    [[ -z "$(ours "$runner")" ]] || fail "left behind after SIGTERM: $(ours "$runner")"

    # SIGTERM while a peer's namespace is being made: the shell runs its trap once the "ip netns
    # add" that makes it has returned, and that namespace goes too.
    shim="$(mktemp -d)"
    cat >"$shim/ip" <<EOT
#!/bin/sh
case "\$*" in "netns add "*-peer1) kill -TERM \$PPID ;; esac
exec $(command -v ip) "\$@"
EOT
    chmod +x "$shim/ip"
    PATH="$shim:$PATH" "$here/netns-run.sh" -- sleep 30 &
    runner=$!
    wait "$runner" || true
    rm -rf "$shim"
    [[ -z "$(ours "$runner")" ]] || fail "left behind by SIGTERM while a namespace was made: $(ours "$runner")"
    ;;
usage)
    out="$("$here/netns-run.sh" --help)" || fail "--help: exit status $?"
    for word in ZEVA_NETNS_HOST ZEVA_NETNS_PEERS "10.99.<i>.1/24" "10.99.<i>.2/24" "fd99:<i>::1/64" "-p PEERS"; do
        grep -qF -- "$word" <<<"$out" || fail "--help does not name $word"
    done
    # words | what standard error must say
    while IFS='|' read -r words reason; do
        status=0
        # shellcheck disable=SC2086
        err="$("$here/netns-run.sh" $words 2>&1 >/dev/null)" || status=$?
        ((status == 2)) || fail "\"$words\": exit status $status, not 2"
        grep -qF -- "$reason" <<<"$err" || fail "\"$words\": no \"$reason\" in: $err"
        grep -qF -- "--help" <<<"$err" || fail "\"$words\": no pointer to --help in: $err"
    done <<'EOT'
--bogus -- true|unknown option --bogus
-p|-p takes a number of peers
-p two -- true|-p takes a number of peers
|no command given
-p 1 --|no command given
true|true: put the command after --, as in:
-p 2 ip link|ip: put the command after --
-p 0 -- true|-p 0: the number of peers is 1 to 254
-p 255 -- true|-p 255: the number of peers is 1 to 254
EOT
    ;;
*)
    echo "usage: $0 inside|outside|usage" >&2
    exit 2
    ;;
esac
echo OK
