#!/usr/bin/env bash
# cmake --install of the build into a scratch prefix, then a small C host built against it twice:
# with pkg-config and with find_package(ZEVA).
#   install-test.sh BUILD_DIR [EXTRA_C_FLAGS]   (the sanitizer flags of the build, if any)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$1"
flags="${2:-}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in lib/libZEVA.so lib/libZEVA.so.4 include/zeva/ZevaSdk.h lib/pkgconfig/zeva.pc lib/cmake/ZEVA/ZEVAConfig.cmake; do
    [[ -e "$tmp/prefix/$f" ]] || fail "$f not installed"
done
[[ "$(readlink "$tmp/prefix/lib/libZEVA.so")" == libZEVA.so.4 ]] || fail "libZEVA.so does not link to the SONAME"

export LD_LIBRARY_PATH="$tmp/prefix/lib"
# shellcheck disable=SC2046,SC2086
cc $flags "$here/host.c" $(PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" pkg-config --cflags --libs zeva) -o "$tmp/host-pc"
[[ "$("$tmp/host-pc")" == 04040038 ]] || fail "pkg-config host"

cmake -S "$here" -B "$tmp/cmake-host" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/prefix" -DCMAKE_C_FLAGS="$flags" >/dev/null
cmake --build "$tmp/cmake-host" >/dev/null
[[ "$("$tmp/cmake-host/host")" == 04040038 ]] || fail "find_package host"
echo ok
