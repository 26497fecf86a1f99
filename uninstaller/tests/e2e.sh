#!/usr/bin/env bash
# End-to-end runs of the real uninstaller in a real X server (Xvfb, no window manager), driven with
# xdotool, screenshots with ImageMagick's import. Each run builds its own world under a fresh
# temporary root: a fake installation holding the program, HOME with its XDG folders, the key store
# and canaries that must survive.
#
# The program runs as an unprivileged user who owns the tree (nobody when this script is root),
# inside a user namespace that maps that user to root: its root check passes, yet it can delete
# nothing that user could not. Without user namespaces the script skips (77).
#
# Usage: e2e.sh <built uninstall program> <screenshot folder>
set -euo pipefail

prog=$(realpath "$1")
shots=$(realpath -m "$2")
build_dir=$(dirname "$prog")

guid='{7A3C9E51-2B4D-4F60-9D1E-5C8B7A6F4E21}'
program_name=VantorTool
name_en='Vantor Tool'
name_ch='Vantor Tool CH'
key_rel=HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Microsoft/Windows/CurrentVersion/Uninstall

if [[ $(id -u) -eq 0 ]]; then
    run_uid=65534
    run_gid=65534
    as_user=(setpriv --reuid="$run_uid" --regid="$run_gid" --clear-groups)
else
    run_uid=$(id -u)
    run_gid=$(id -g)
    as_user=()
fi

if [[ ${1:-} != --inner && -z ${E2E_INNER:-} ]]; then
    for tool in xvfb-run xdotool import setpriv unshare; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
    done
    if ! "${as_user[@]}" unshare -r true 2>/dev/null; then
        echo "SKIP: no user namespaces for an unprivileged user"
        exit 77
    fi
    export E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

mkdir -p "$shots"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

worlds=()
cleanup() {
    for w in "${worlds[@]}"; do
        [[ $w == /tmp/uninstaller-e2e-* ]] && rm -rf "$w"
    done
}
trap cleanup EXIT

# make_world <files in the installation>: sets $T to the new root. Not run in a subshell, so that
# the root reaches $worlds and the cleanup.
make_world() {
    T=$(mktemp -d /tmp/uninstaller-e2e-XXXXXX)
    worlds+=("$T")
    mkdir -p "$T/inst/rcc" "$T/inst/translations" "$T/home/Desktop" "$T/home/.config" "$T/runtime" \
        "$T/data/applications/$name_en" "$T/data/applications/$name_ch" "$T/data/applications/Other" \
        "$T/keys/$key_rel" "$T/work" "$T/sibling"
    chmod 700 "$T/runtime"
    cp "$prog" "$T/inst/uninstall"
    cp "$build_dir/rcc/guiresource.rcc" "$T/inst/rcc/"
    cp "$build_dir"/translations/*.qm "$T/inst/translations/"
    cat >"$T/inst/AppConfig.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Product>
  <GUID>$guid</GUID>
  <ProgramName>$program_name</ProgramName>
  <SoftwareNameEN>$name_en</SoftwareNameEN>
  <SoftwareNameCH>$name_ch</SoftwareNameCH>
</Product>
EOF
    echo tool >"$T/inst/$program_name"
    # A large tree keeps the folder step busy long enough to see the progress page.
    python3 - "$T/inst/data" "$1" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for d in range(max(count // 100, 1)):
    folder = os.path.join(root, "d%04d" % d)
    os.makedirs(folder)
    for f in range(min(count, 100)):
        open(os.path.join(folder, "f%03d" % f), "w").close()
EOF
    echo 'XDG_DESKTOP_DIR="$HOME/Desktop"' >"$T/home/.config/user-dirs.dirs"
    for n in "$name_en" "$name_ch" ZEVA; do
        echo '[Desktop Entry]' >"$T/home/Desktop/$n.desktop"
        echo shortcut >"$T/home/Desktop/$n.lnk"
    done
    echo "[Desktop Entry]" >"$T/data/applications/$name_en/a.desktop"
    echo "[Desktop Entry]" >"$T/data/applications/$name_ch/b.desktop"
    # Canaries.
    echo keep >"$T/sibling/keep.txt"
    echo outside >"$T/outside.txt"
    ln -s "$T/outside.txt" "$T/inst/outside-link"
    echo other >"$T/home/Desktop/Other.desktop"
    echo backup >"$T/home/Desktop/$name_en.desktop.bak"
    echo other >"$T/data/applications/Other/other.desktop"
    echo keep >"$T/work/keep.txt"
    printf '[General]\nInstallLocation=/opt/other\n' >"$T/keys/$key_rel/{OTHER-PRODUCT}.ini"
    printf '[General]\nInstallLocation=%s\nDisplayName=%s\n' "$T/inst" "$name_en" >"$T/keys/$key_rel/$guid.ini"
    cp "$XAUTHORITY" "$T/xauth"
    chown -R "$run_uid:$run_gid" "$T"
    # Every place the program may touch lies inside the root.
    local place
    for place in "$T/inst" "$T/home" "$T/home/Desktop" "$T/data/applications" "$T/runtime" "$T/keys" "$T/work"; do
        [[ $(realpath "$place") == "$T"/* ]] || { echo "world escapes its root: $place" >&2; exit 1; }
    done
}

# A listing with types, sizes and hashes, to show that a refusal changed nothing.
listing() {
    (cd "$1" && find . -path ./xauth -prune -o -printf '%y %s %p %l\n' | sort &&
        find . -type f ! -name xauth -exec sha256sum {} + | sort)
}

canaries_intact() {
    local T=$1 f
    for f in sibling/keep.txt outside.txt home/Desktop/Other.desktop "home/Desktop/$name_en.desktop.bak" \
        data/applications/Other/other.desktop work/keep.txt "keys/$key_rel/{OTHER-PRODUCT}.ini"; do
        [[ -f $T/$f ]] || fail "canary lost: $f"
    done
    [[ $(cat "$T/outside.txt") == outside ]] || fail "file behind the link changed"
}

# start_program <root> [plain]: starts the program from the installation as the unprivileged user,
# mapped to root unless "plain"; sets $pid.
#
# The program draws with the raster engine and never uses OpenGL, so Qt's GLX integration is left
# out. With it, Qt's X11 platform loads Mesa, whose software driver (swrast_dri.so) keeps a block of
# CPU topology it allocated at start (on AMD Zen hosts only) in a static; libGLX_mesa dlcloses the
# driver when the display closes, so at exit LeakSanitizer finds the block unreferenced, in a module
# no longer mapped ("<unknown module>") that no suppression can name, and fails every run.
start_program() {
    local T=$1 ns=(unshare -r)
    [[ ${2:-} == plain ]] && ns=()
    (
        cd "$T/work"
        exec env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" XAUTHORITY="$T/xauth" HOME="$T/home" \
            XDG_CONFIG_HOME="$T/home/.config" XDG_DATA_HOME="$T/data" XDG_CACHE_HOME="$T/home/.cache" \
            XDG_RUNTIME_DIR="$T/runtime" APPINSTALLER_KEYSTORE_ROOT="$T/keys" LANG=C.UTF-8 \
            QT_XCB_GL_INTEGRATION=none \
            ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" TSAN_OPTIONS="${TSAN_OPTIONS:-}" \
            "${as_user[@]}" "${ns[@]}" "$T/inst/uninstall"
    ) &
    pid=$!
}

# wait_status: waits (bounded) for the program and sets $status to its exit status.
wait_status() {
    local i
    for ((i = 0; i < 600; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        status=timeout
        return
    fi
    status=0
    wait "$pid" || status=$?
}

# find_window <name regex> | find_window --class <class regex>: waits for the visible window and
# prints its id.
find_window() {
    local by=--name
    if [[ $1 == --class ]]; then
        by=--class
        shift
    fi
    timeout 30 xdotool search --sync --onlyvisible "$by" "$1" | head -1
}

shot() {
    import -window root "$shots/$1.png"
}

press() {
    xdotool windowfocus --sync "$1" key "$2"
}

expect_status() {
    local what=$1 want=$2 got=$3
    [[ $got == "$want" ]] || fail "$what: exit status $got, expected $want"
    echo "$what: exit status $got"
}

# A refusal: the dialog with this title shows, the key answers it, status 255, the tree unchanged.
refusal() {
    local what=$1 title=$2 key=$3 T=$4 mode=${5:-} by=()
    if [[ $title == --class=* ]]; then
        by=(--class)
        title=${title#--class=}
    fi
    local before w
    before=$(listing "$T")
    start_program "$T" "$mode"
    w=$(find_window "${by[@]}" "$title") || true
    [[ -n $w ]] || fail "$what: no window named $title"
    sleep 0.3
    shot "$what"
    [[ -n $w ]] && press "$w" "$key"
    wait_status
    expect_status "$what" 255 "$status"
    [[ $(listing "$T") == "$before" ]] || fail "$what: the tree changed"
}

# 1. Full uninstall, the program inside the folder it removes.
make_world 60000
start_program "$T"
w=$(find_window '^Message$') || true
[[ -n $w ]] || fail "full: no confirmation dialog"
sleep 0.3
shot confirm
press "$w" Return
main=$(find_window '^Uninstaller$') || true
shot progress
[[ -n $main ]] || fail "full: no main window"
# The end page: wait until the installation folder is gone, then let the page settle.
for ((i = 0; i < 300; i++)); do [[ -e $T/inst ]] || break; sleep 0.1; done
sleep 1
shot end
xdotool mousemove --window "$main" 660 452 click 1
wait_status
expect_status full 0 "$status"
left=$(cd "$T" && find . -mindepth 1 | sed 's|^\./||' | sort)
for gone in inst "home/Desktop/$name_en.desktop" "home/Desktop/$name_en.lnk" "home/Desktop/$name_ch.desktop" \
    "home/Desktop/$name_ch.lnk" home/Desktop/ZEVA.desktop home/Desktop/ZEVA.lnk \
    "data/applications/$name_en" "data/applications/$name_ch" "keys/$key_rel/$guid.ini"; do
    if grep -qxF "$gone" <<<"$left"; then fail "full: $gone still there"; fi
done
canaries_intact "$T"

# 2. Incomplete: a folder of real root's inside the installation that the user cannot empty.
if [[ $(id -u) -eq 0 ]]; then
    make_world 100
    mkdir "$T/inst/locked"
    echo held >"$T/inst/locked/held.txt"
    chown -R 0:0 "$T/inst/locked"
    start_program "$T"
    w=$(find_window '^Message$') || true
    [[ -n $w ]] && press "$w" Return
    main=$(find_window '^Uninstaller$') || true
    [[ -n $main ]] || fail "incomplete: no main window"
    sleep 2
    shot incomplete
    xdotool mousemove --window "$main" 660 452 click 1
    wait_status
    expect_status incomplete 1 "$status"
    [[ -f $T/keys/$key_rel/$guid.ini ]] || fail "incomplete: the key was not kept"
    [[ -f $T/inst/locked/held.txt ]] || fail "incomplete: the locked file went"
    canaries_intact "$T"
else
    echo "incomplete: skipped (needs real root to own a folder the user cannot empty)"
fi

# 3. Refusals.
make_world 100
cp /bin/sleep "$T/$program_name"
chown "$run_uid:$run_gid" "$T/$program_name"
"${as_user[@]}" "$T/$program_name" 120 &
tool=$!
refusal running '^Warning$' Return "$T"
kill "$tool"
wait "$tool" 2>/dev/null || true
rm -f "$T/$program_name"

make_world 100
rm "$T/keys/$key_rel/$guid.ini"
# The message box has no title of its own; it is the only visible window of the program.
refusal not-installed --class=^uninstall$ Return "$T"

make_world 100
refusal rejected '^Message$' Escape "$T"

make_world 100
refusal not-root '^Warning$' Return "$T" plain

echo "screenshots in $shots"
[[ $failures -eq 0 ]] || { echo "$failures failure(s)" >&2; exit 1; }
echo "all runs passed"
