#!/usr/bin/env bash
# The demo's command line: --help on standard output with status 0, values that could not show what
# the demo promises and unknown options refused with the reason (status 2), and a user who is not
# root on a machine without sudo told to run it as root (status 1), before anything is installed or
# built.
set -euo pipefail

demo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/demo.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
out="$(mktemp)" err="$(mktemp)" bin="$(mktemp -d)"
trap 'rm -rf "$out" "$err" "$bin"' EXIT

bash "$demo" --help >"$out" 2>"$err" || fail "--help: exit status $?"
[[ ! -s "$err" ]] || fail "--help wrote to standard error: $(cat "$err")"
for option in --seconds --devices --all --build-dir --help; do
    grep -q -- "$option" "$out" || fail "--help does not name $option"
done
# The README's list names every option of --help (with its value's word).
readme="$(dirname "$demo")/../README.md"
while read -r option; do
    grep -qF -- "\`$option\`" "$readme" || fail "the README does not list $option"
done < <(sed -nE 's/^  (--[a-z-]+( [A-Z]+)?) .*/\1/p' "$out" | grep -vx -- --help)

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
--bogus|unknown option --bogus
EOT

# Not root, and no sudo on the PATH: as another user when the test runs as root.
ln -s "$(command -v id)" "$(command -v dirname)" "$bin/"
chmod 755 "$bin"
as_user=()
[[ $(id -u) -ne 0 ]] || as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
status=0
"${as_user[@]}" env PATH="$bin" "$BASH" "$demo" --seconds 12 >"$out" 2>"$err" || status=$?
[[ $status -eq 1 ]] || fail "not root without sudo: exit status $status, not 1: $(cat "$err")"
[[ ! -s "$out" ]] || fail "not root without sudo went on: $(cat "$out")"
grep -q "must run as root" "$err" || fail "not root without sudo: no \"must run as root\" in: $(cat "$err")"
echo ok
