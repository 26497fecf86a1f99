# Sourced by the namespace scripts, which run inside the host namespace of tests/netns/netns-run.sh.
# rules NS-COMMAND TABLE MATCH... adds an input chain to TABLE (in the namespace NS-COMMAND enters,
# "" for the current one) with one counted UDP rule; dropped NS-COMMAND TABLE prints its packet count
# (awk reads the whole listing: "nft ... | grep -q" fails under pipefail when nft meets SIGPIPE).
rules() {
    # Rules in the machine's own namespace would drop its traffic: only inside the test's own.
    if [ -z "$1" ] && { [ -z "${ZEVA_NETNS_HOST:-}" ] || [ "$(ip netns identify)" != "$ZEVA_NETNS_HOST" ]; }; then
        echo "refusing nftables rules outside the test namespaces" >&2
        exit 1
    fi
    local ns=("$1") table="$2"; shift 2
    ${ns[@]} nft add table inet "$table"
    ${ns[@]} nft add chain inet "$table" in '{ type filter hook input priority 0; }'
    ${ns[@]} nft add rule inet "$table" in udp dport != 0 "$@"
}
dropped() {
    local ns=("$1")
    ${ns[@]} nft list chain inet "$2" in | awk '/counter packets/ { for (i = 1; i < NF; i++) if ($i == "packets") n += $(i + 1) } END { print n + 0 }'
}
