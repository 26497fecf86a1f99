#!/usr/bin/env bash
# The README's first command, shortened, with its output captured as a file: it says what it does
# before the build's output, finds, changes and loses devices, shows that it went on (status lines
# with their seconds), and leaves no namespace. Then a run stopped by Ctrl-C (SIGINT to its process
# group, as a terminal sends it): "Stopping..." at once, no status line after it, then the summary,
# status 130.
#
#   demo_run_test.sh BUILD_DIR
set -euo pipefail

demo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/demo.sh"
build="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "SKIP: the demo makes network namespaces (root)"; exit 77; }
out="$(mktemp)" pid=""
trap 'rm -f "$out"; [[ -z $pid ]] || kill -TERM -- "-$pid" 2>/dev/null || true' EXIT

# The line number of the first line matching the pattern, or nothing.
line_of() { grep -n -m1 -E -- "$1" "$out" | cut -d: -f1 || true; }
show() { echo "--- the demo printed:" >&2; cat "$out" >&2; }

# Device 0 goes silent after 3 s and is offline after three missed 2-s inquiries, about 8 s in:
# 16 s leave room for a loaded machine.
status=0
bash "$demo" --seconds 16 --devices 20 --build-dir "$build" >"$out" 2>&1 || status=$?
((status == 0)) || { show; fail "exit status $status"; }
checking="$(line_of '^Checking the packages')" building="$(line_of '^Building libZEVA.so and zeva-host')"
ninja="$(line_of '^(ninja: |\[[0-9]+/[0-9]+\] )')"
[[ -n $checking && -n $building && -n $ninja ]] || { show; fail "no word on checking packages and building"; }
((checking < building && building < ninja)) || { show; fail "the build's output came before the words on it"; }
# Status lines: each on a line of its own with the seconds since the start, later and later.
mapfile -t at < <(sed -nE 's/^ *([0-9]+)\.[0-9]s {11}[0-9]+ online, [0-9]+ offline, next inquiry in [0-9]+ s$/\1/p' "$out")
((${#at[@]} >= 2)) || { show; fail "fewer than two status lines"; }
for ((i = 1; i < ${#at[@]}; i++)); do
    ((at[i] >= at[i - 1])) || { show; fail "status lines out of order"; }
done
((at[-1] > at[0])) || { show; fail "the status lines do not show the run going on"; }
grep -qE '^Found [1-9][0-9]*, changed [1-9].*offline [1-9].*namespaces left: 0\.$' "$out" ||
    { show; fail "no summary of devices found, changed and offline"; }
[[ -z "$(line_of '^Stopping')" ]] || { show; fail "said Stopping without a Ctrl-C"; }

# Ctrl-C once the first device is listed. Job control gives the demo a process group of its own
# that does not ignore SIGINT, like a command started from a terminal.
set -m
bash "$demo" --seconds 60 --devices 5 --build-dir "$build" >"$out" 2>&1 &
pid=$!
set +m
for _ in $(seq 1200); do
    [[ -n "$(line_of 's  new +DS-SIM')" ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
[[ -n "$(line_of 's  new +DS-SIM')" ]] || { kill -TERM "$pid" 2>/dev/null; show; fail "no device listed"; }
kill -INT -- "-$pid"
status=0
wait "$pid" || status=$?
pid=""
((status == 130)) || { show; fail "after Ctrl-C: exit status $status, not 130"; }
stopping="$(line_of '^Stopping\.\.\.$')" stopped="$(line_of '^Stopped by Ctrl-C after [0-9]+ s\.$')"
summary="$(line_of '^Found [0-9]+, .*namespaces left: 0\.$')"
[[ -n $stopping && -n $stopped && -n $summary ]] || { show; fail "after Ctrl-C: no Stopping..., or no summary"; }
((stopping < stopped && stopped < summary)) || { show; fail "after Ctrl-C: Stopping... came late"; }
! tail -n "+$stopping" "$out" | grep -qE 'online, [0-9]+ offline, next inquiry in' ||
    { show; fail "a status line after Stopping..."; }
echo ok
