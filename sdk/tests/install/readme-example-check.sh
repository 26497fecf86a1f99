#!/usr/bin/env bash
# The C program the README shows (its one ```c block) is the example file, byte for byte.
#   readme-example-check.sh README EXAMPLE
set -euo pipefail
readme="$1"
example="$2"
diff -u "$example" <(awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' "$readme") ||
    { echo "FAIL: the program in $readme differs from $example" >&2; exit 1; }
echo ok
