#!/usr/bin/env bash
# Installs every package of scripts/packages.txt that is missing (with sudo when not root), or of
# the list file given (demo.sh gives packages-demo.txt). Sourced by test.sh and demo.sh; run on its
# own, as install-packages.sh [LIST], it does the same.
install_missing_packages() {
    local list="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/packages.txt}"
    local missing=()
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done <"$list"
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [[ $(id -u) -ne 0 ]] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "${missing[@]}"
    fi
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
    set -euo pipefail
    install_missing_packages "$@"
fi
