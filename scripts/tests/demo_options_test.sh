#!/usr/bin/env bash
# The demo's command line: --help on standard output with status 0, and values that could not show
# what the demo promises refused with the reason (status 2) before anything is installed or built.
set -euo pipefail

demo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/demo.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
out="$(mktemp)" err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT

bash "$demo" --help >"$out" 2>"$err" || fail "--help: exit status $?"
[[ ! -s "$err" ]] || fail "--help wrote to standard error: $(cat "$err")"
for option in --seconds --devices --all --build-dir --help; do
    grep -q -- "$option" "$out" || fail "--help does not name $option"
done

# words | what standard error must say
while IFS='|' read -r words reason; do
    status=0
    # shellcheck disable=SC2086
    bash "$demo" $words >"$out" 2>"$err" || status=$?
    [[ $status -eq 2 ]] || fail "\"$words\": exit status $status, not 2"
    [[ ! -s "$out" ]] || fail "\"$words\" went on: $(cat "$out")"
    grep -q -- "$reason" "$err" || fail "\"$words\": no \"$reason\" in: $(cat "$err")"
done <<'EOT'
--seconds 11|--seconds 11 is too short: the silent device is reported offline only after three
--seconds 0|use at least 12
--seconds 2.5|--seconds takes whole seconds
--devices 2|--devices 2 is too few: one device goes offline, one changes its salt and one moves
--devices 151|use at most 150
--devices many|--devices takes a number
--seconds|--seconds needs a value
--frobnicate|usage: bash scripts/demo.sh
EOT
echo ok
