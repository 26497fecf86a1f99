#!/usr/bin/env bash
# Test of zeva-host.
#   zeva-host-test.sh BIN            (outside any namespace) checks the command line, that it
#                                    refuses the machine's network, then runs "inside" under
#                                    tests/netns/netns-run.sh and checks that no namespace is left
#   zeva-host-test.sh --inside BIN   (in the host namespace of netns-run.sh) it starts and stops on
#                                    SIGINT, then lists and asks the device simulator in the peer
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Every line of the file is one JSON value.
all_json() {
    python3 -c 'import json, sys
for n, line in enumerate(open(sys.argv[1]), 1):
    try:
        json.loads(line)
    except ValueError as e:
        sys.exit("line %d is no JSON (%s): %s" % (n, e, line))' "$1"
}

# Every outcome has the same keys: result and record are null when nothing was sent, and message
# says why; the error's number, name and meaning come together or not at all.
outcome='keys == ["error", "errorMeaning", "errorName", "message", "record", "request", "result", "target"]
    and (.request | type) == (.target | type) and (.request | type) != "number"
    and (if .result == null then (.message | type) == "string" and .record == null
         else (.result | type) == "number" and .message == null and (.record | type) != "array" end)
    and ([.error, .errorName, .errorMeaning] | map(type)) as $e
    | $e == ["null", "null", "null"] or $e == ["number", "string", "string"]'

# A request command's JSON line with its exit status added as "exit".
request_json() {
    local out="$work/request.jsonl" status=0 got
    "$bin" --json "$@" >"$out" 2>"$work/request.err" || status=$?
    all_json "$out" || fail "$*: $(cat "$out")"
    got="$(jq -c 'select(has("request"))' "$out")"
    [[ -n "$got" ]] && jq -e "$outcome" <<<"$got" >/dev/null || fail "$*: not the outcome's keys: $got"
    jq -c --argjson status "$status" '. + {exit: $status}' <<<"$got"
}

expect() {  # expect WHAT JQ-TEST JSON (jq -e takes no input as a pass)
    [[ -n "$3" ]] && jq -e "$2" <<<"$3" >/dev/null || fail "$1: $3"
}

# refused STATUS REASON ERROR ARGS...: a run that sent nothing ends with the status and one JSON
# line of the outcome's keys whose message begins with REASON, which also goes to stderr; ERROR is
# the library's last error that made it fail, or null.
refused() {
    local want="$1" reason="$2" error="$3" status=0 got
    shift 3
    "$bin" --json "$@" >"$work/out" 2>"$work/err" || status=$?
    [[ $status -eq $want ]] || fail "$*: exit status $status, not $want"
    all_json "$work/out" || fail "$*"
    got="$(jq -c 'select(has("request"))' "$work/out")"
    [[ -n "$got" && "$got" != *$'\n'* ]] &&
        jq -e --arg reason "$reason" "($outcome) and .result == null and .error == $error and (.message | startswith(\$reason))" \
            <<<"$got" >/dev/null || fail "$*: $(cat "$work/out")"
    grep -qF "zeva-host: $reason" "$work/err" || fail "$*: $(cat "$work/err")"
}

if [[ "${1:-}" == "--inside" ]]; then
    bin="$2"
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
    "$bin" --json --interval 1 >"$work/out" 2>"$work/err" &
    pid=$!
    for _ in $(seq 250); do
        ss -uan | grep -q '%h1:37020' && break
        sleep 0.02
    done
    ss -uan | grep -q '%h1:37020' || fail "zeva-host did not open its sockets"
    kill -INT "$pid"
    status=0
    wait "$pid" || status=$?
    [[ $status -eq 0 ]] || fail "exit status $status: $(cat "$work/out" "$work/err")"
    [[ ! -s "$work/out" ]] || fail "printed something: $(cat "$work/out")"
    ss -uan | grep -q ':37020' && fail "sockets left open"
    # A table ends with the number of devices, none here.
    got="$("$bin" --seconds 1 2>/dev/null)"
    [[ "$(wc -l <<<"$got")" -eq 2 && "$(tail -1 <<<"$got")" == "0 devices" ]] || fail "empty table: $got"

    # Device 1 is not activated and has a model text JSON must escape; device 2 goes silent.
    peer="${ZEVA_NETNS_PEERS%% *}"
    model=$'q"b\\s\x01c\xc3\xa9<&'
    ip netns exec "$peer" "$here/../../devsim/devsim" --seconds 300 --devices 3 --log /dev/null \
        --field-of 1:Activated=false --field-of "1:DeviceDescription=$model" --silent-after 2:2 &
    sim=$!
    trap 'kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT

    "$bin" --json --interval 1 --seconds 7 >"$work/list" 2>/dev/null
    all_json "$work/list" || fail "listing"
    new() { jq -c "select(.status == \"new\" and .serial == \"$1\")" "$work/list" | head -1; }
    expect "activated device" '.activated == true and .dhcpEnabled == false and .source == "probe answer"' \
        "$(new DS-SIM0000-000000000000)"
    expect "device not activated" '.activated == false' "$(new DS-SIM0001-000000000001)"
    got="$(jq -r 'select(.serial == "DS-SIM0001-000000000001") | .model' "$work/list" | head -1)"
    [[ "$got" == "$model" ]] || fail "model text came back as $got"
    expect "offline report" 'keys == ["mac", "serial", "status"] and .mac == "02-d5-00-00-00-02"' \
        "$(jq -c 'select(.status == "offline")' "$work/list")"
    "$bin" --interval 1 --seconds 3 >"$work/table" 2>/dev/null
    rows="$(grep -c '^new ' "$work/table")" || true
    [[ $rows -ge 2 && "$(tail -1 "$work/table")" == "$rows devices" ]] || fail "table: $(cat "$work/table")"

    # Requests: one JSON line each, the error named, the record decoded.
    got="$(request_json get DS-SIM0000-000000000000 1 260)"
    expect "get 1" '.exit == 0 and .result == 1 and .error == 0 and .errorName == "ZEVA_NOERROR" and
                    .record == {"codeLength": 12, "code": "RC0000000000"}' "$got"
    got="$(request_json get DS-SIM0000-000000000000 27 76)"
    expect "get 27" '.exit == 0 and .record.resetByGuid == true' "$got"
    got="$(request_json activate DS-SIM0000-000000000000 Newpass123)"
    expect "activation of an active device" '.exit == 1 and .result == 0 and .error == 2021 and
        .errorName == "ZEVA_ERR_HAS_ACTIVATED" and .errorMeaning == "device already activated"' "$got"
    got="$(request_json reset DS-SIM0000-000000000000 7 Newpass123 00000000)"
    expect "reset by phone code" '.exit == 0 and .result == 1 and .record == {"retryTimes": 0, "remainingLockTime": 0}' "$got"
    got="$(request_json reset DS-SIM0000-000000000000 1 Newpass123)"
    expect "raw-frame reset" '.exit == 1 and .result == 0 and .error == 2007 and .errorName == "ZEVA_ERR_PCAP"' "$got"
    got="$(request_json netparam 02-d5-00-00-00-01 Sim12345 10.99.1.77 255.255.255.0 10.99.1.1)"
    expect "netparam" '.exit == 0 and .result == 1 and .record.retryTimes == 0' "$got"

    # Requests never sent: a device that is never listed (exit 2), no library, a log directory the
    # library refuses.
    refused 2 "device DS-SIM0099-000000000099 not listed within 1 s" null --wait 1 get DS-SIM0099-000000000099 1 260
    refused 1 "cannot load /nonexistent/libZEVA.so: " null --lib /nonexistent/libZEVA.so \
        get DS-SIM0000-000000000000 1 260
    refused 1 "log directory refused: error 2005 ZEVA_ERR_PARAM" 2005 --logdir "/tmp/$(printf 'd%.0s' {1..300})" \
        activate DS-SIM0000-000000000000 Newpass123
    # A listing's refusal is the same line, with no request.
    refused 1 "cannot load /nonexistent/libZEVA.so: " null --lib /nonexistent/libZEVA.so --seconds 1
    [[ "$(jq -c '[.request, .target]' "$work/out")" == "[null,null]" ]] || fail "listing: $(cat "$work/out")"

    # The table form names the error too.
    got="$("$bin" get DS-SIM0000-000000000000 1 260 2>/dev/null | grep -A1 '^result')" || true
    [[ "$got" == $'result 1 error 0 ZEVA_NOERROR (no error)\nrecord {"codeLength":12,"code":"RC0000000000"}' ]] ||
        fail "get as text: $got"
    echo "inside: ok"
    exit 0
fi

bin="$1"
[[ $(id -u) -eq 0 ]] || { echo "needs root for namespaces"; exit 77; }
help="$("$bin" --help)"
[[ "$help" == *"activate SERIAL PASSWORD"* && "$help" == *"7 phone code"* && "$help" == *"--wait S"* ]] ||
    fail "--help lacks the request commands: $help"
for n in 0 1 2 3; do
    grep -qE "^  $n  [a-z]" <<<"$help" || fail "--help does not say what exit status $n means: $help"
done
# Usage errors: exit status 2, what was wrong, then one line that points to --help.
while IFS='|' read -r words message; do
    status=0
    # shellcheck disable=SC2086
    err="$("$bin" $words 2>&1 >/dev/null)" || status=$?
    [[ $status -eq 2 && "$err" == "zeva-host: $message"$'\n'"Try 'zeva-host --help' for more information." ]] ||
        fail "\"$words\" (status $status): $err"
done <<'EOF'
--seconds abc|--seconds abc: the value is not a number
--wait x get DS-SIM0000-000000000000 1 260|--wait x: the value is not a number
--interval -1|--interval -1: the value is below 0
--seconds 4294967296|--seconds 4294967296: the value is above 4294967295
--seconds|--seconds needs a value
--bogus|unknown option --bogus
frobnicate x|unknown command frobnicate
get DS-SIM0000-000000000000 1|get takes 3 or 4 words after it, not 2
get DS-SIM0000-000000000000 one 260|get COMMAND one: the value is not a number
reset DS-SIM0000-000000000000 8 Newpass123|reset TYPE 8: the value is above 7
wifi 02-d5-00-00-00-00 lab pass chek|wifi takes check or nothing after the password, not chek
EOF
status=0
err="$("$bin" --seconds 0 2>&1)" || status=$?
[[ $status -eq 3 && "$err" == *refusing* ]] || fail "started outside a namespace (status $status): $err"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
refused 3 "refusing to start discovery outside a test network namespace" null get DS-SIM0000-000000000000 1 260
refused 3 "refusing to start discovery outside a test network namespace" null --seconds 1
# An input file that cannot be read is refused before anything starts, so also outside a namespace.
refused 2 "/nonexistent/file: No such file or directory" null get DS-SIM0000-000000000000 27 76 /nonexistent/file
refused 2 "/nonexistent/file: No such file or directory" null set DS-SIM0000-000000000000 8 /nonexistent/file 128
refused 2 "$work: Is a directory" null set DS-SIM0000-000000000000 8 "$work" 128
refused 2 "/dev/zero: longer than any input record" null set DS-SIM0000-000000000000 8 /dev/zero 128
status=0
err="$("$bin" get DS-SIM0000-000000000000 27 76 /nonexistent/file 2>&1 >"$work/out")" || status=$?
[[ $status -eq 2 && "$err" == "zeva-host: /nonexistent/file: No such file or directory" && ! -s "$work/out" ]] ||
    fail "unreadable input file as text (status $status): $err $(cat "$work/out")"

"$here/../../../tests/netns/netns-run.sh" -p 1 -- "$here/zeva-host-test.sh" --inside "$bin" &
runner=$!
status=0
wait "$runner" || status=$?
[[ $status -eq 0 ]] || fail "the run inside the namespaces failed ($status)"
if ip netns list | awk '{print $1}' | grep -q "^zt$runner-"; then
    fail "namespaces left behind"
fi
echo "ok"
