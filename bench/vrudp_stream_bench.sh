#!/usr/bin/env bash
# The media-stream benchmark, by hand (never by the tests), as root:
#   bench/vrudp_stream_bench.sh BUILD_DIR [SECONDS] [LOSSES]
# For each loss (default "0 1 5" % each way) on the 20 Mbit/s, 10 ms path of netpath/: bulk and
# a constant 8 Mbit/s, over a reliable-UDP control link (level of bit rate 20000) and over TCP
# (the kernel's default congestion control; for bulk also CUBIC, tcp-cubic).
# Prints one line per run: goodput, its ratio to TCP, delivered ratio, one-way latency, stalls,
# bytes on the wire per delivered byte and CPU per delivered MB at each end.
set -euo pipefail
build="$(cd "$1" && pwd)"; secs="${2:-60}"; losses="${3:-0 1 5}"
bench="$build/bench/vrudp_stream_bench"
. "$(dirname "${BASH_SOURCE[0]}")/netpath/netpath-lib.sh"
trap netpath_down EXIT
port=40600

field() { sed -n "s/.*\b$1 \([^ ]*\).*/\1/p" <<< "$2"; }

# One run: peer, rate (kbit/s, 0 bulk); sets R_* from both ends' reports.
run() {
    local peer="$1" rate="$2" w0 w1 out="$NP_TMP/recv.out"
    port=$((port + 1))
    w0=$(netpath_wire_bytes)
    ip netns exec "$NP_RCV" "$bench" recv "$peer" "$NP_RCV_ADDR" "$port" "$secs" > "$out" 2>> "$NP_TMP/stderr" &
    local rcv=$!
    for _ in $(seq 100); do grep -q ready "$out" 2>/dev/null && break; sleep 0.05; done
    R_SEND=$(ip netns exec "$NP_SND" "$bench" send "$peer" "$NP_RCV_ADDR" "$port" "$secs" "$rate" 2>> "$NP_TMP/stderr")
    wait "$rcv"
    R_RECV=$(grep delivered "$out")
    w1=$(netpath_wire_bytes)
    R_WIRE=$((w1 - w0))
}

printf '%-5s %-5s %-9s %9s %6s %9s %8s %8s %6s %5s %7s %9s %9s\n' loss work peer goodput_Mb ratio delivered p50_ms \
    p99_ms stalls bad wire/B cpuS_s/MB cpuR_s/MB
for loss in $losses; do
    netpath_up "$build/bench/netpath_tun_relay" "$loss"
    for work in bulk const; do
        rate=0; [ "$work" = const ] && rate=8000
        tcp_goodput=""
        peers="tcp vrudp"; [ "$work" = bulk ] && peers="tcp tcp-cubic vrudp"
        for peer in $peers; do
            run "$peer" "$rate"
            bytes=$(field bytes "$R_RECV"); goodput=$(field goodput_mbit "$R_RECV")
            [ "$peer" = tcp ] && tcp_goodput="$goodput"
            awk -v l="$loss" -v w="$work" -v p="$peer" -v g="$goodput" -v t="$tcp_goodput" -v b="$bytes" \
                -v n="$(field delivered "$R_RECV")" -v o="$(field offered "$R_SEND")" -v p50="$(field p50_ms "$R_RECV")" \
                -v p99="$(field p99_ms "$R_RECV")" -v st="$(field stalls "$R_RECV")" -v bad="$(field bad "$R_RECV")" \
                -v wire="$R_WIRE" -v cs="$(field cpu_s "$R_SEND")" -v cr="$(field cpu_s "$R_RECV")" 'BEGIN {
                mb = b / 1e6; if (mb == 0) mb = 1e-9
                printf "%-5s %-5s %-9s %9.2f %6.2f %9.4f %8.1f %8.1f %6d %5d %7.3f %9.4f %9.4f\n", l "%", w, p, g,
                    (t > 0 ? g / t : 0), (o > 0 ? n / o : 0), p50, p99, st, bad, wire / (b > 0 ? b : 1), cs / mb, cr / mb }'
        done
    done
done
echo "path: tbf $NP_RATE each way, delay $NP_DELAY, loss by nftables numgen in the middle namespace;" \
    "default TCP congestion control $(ip netns exec "$NP_SND" sysctl -n net.ipv4.tcp_congestion_control)"
