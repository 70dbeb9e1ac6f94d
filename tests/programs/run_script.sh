#!/usr/bin/env bash
# scripts/run as a user runs it, in the build the tests run in: without a display it scans
# the sandbox; with one (an Xvfb server) it starts the windowed program, whose window is
# then mapped.   run_script.sh SOURCE-FOLDER BUILD-FOLDER
set -euo pipefail
root="$1"
export HIVEWARDEN_BUILD="$2"
for tool in Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is missing (scripts/deps installs it)"
        exit 77
    fi
done
work="$(mktemp -d)"
server=""
started=""
cleanup() {
    local pid
    for pid in $started $server; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    for f in "$work"/*.txt; do
        echo "--- $(basename "$f")"
        cat "$f"
    done
    exit 1
}
# The desktop's own platform: an offscreen one set for the window tests would show nothing.
unset HIVEWARDEN_MACHINE QT_QPA_PLATFORM
export HIVEWARDEN_PROGRAM_FOLDER="$work/program"
export HOME="$work/home"
mkdir -p "$HOME"

# No display: the command-line scan of the sandbox, and a word on how to get the window.
env -u DISPLAY -u WAYLAND_DISPLAY "$root/scripts/run" >"$work/scan.txt" 2>"$work/scan-err.txt" ||
    fail "scripts/run without a display exited with $?"
grep -qE '^[0-9]+ problems? found\.$' "$work/scan.txt" || fail "no scan without a display"
grep -q 'No display here' "$work/scan-err.txt" || fail "no word about the window"
[[ -d "$work/program/Sandbox" ]] || fail "the sandbox was not made in the program folder"

# A display: the window.
exec 3<> "$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.txt" 2>&1 &
server=$!
for _ in $(seq 1 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
display=":$(head -n 1 "$work/display")"
[[ "$display" != ":" ]] || fail "Xvfb did not start"
DISPLAY="$display" "$root/scripts/run" >"$work/window.txt" 2>&1 &
started=$!
mapped=""
for _ in $(seq 1 600); do
    if DISPLAY="$display" xdotool search --onlyvisible --name '^Hivewarden 1\.0' >/dev/null 2>&1; then
        mapped=yes
        break
    fi
    kill -0 "$started" 2>/dev/null || fail "scripts/run ended instead of starting the window"
    sleep 0.2
done
[[ -n "$mapped" ]] || fail "no window was mapped"
program="$(readlink "/proc/$started/exe")"
[[ "$(basename "$program")" == hivewarden ]] || fail "the process is $program, not hivewarden"
echo "scripts/run scanned without a display and started $program with one"
