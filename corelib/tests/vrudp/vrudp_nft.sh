# Sourced by the namespace scripts: rules NS-COMMAND TABLE MATCH... adds an input chain to TABLE
# (in the namespace NS-COMMAND enters, "" for the current one) with one UDP rule.
rules() {
    local ns=("$1") table="$2"; shift 2
    ${ns[@]} nft add table inet "$table"
    ${ns[@]} nft add chain inet "$table" in '{ type filter hook input priority 0; }'
    ${ns[@]} nft add rule inet "$table" in udp dport != 0 "$@"
}
