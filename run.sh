#!/usr/bin/env bash
# Installs what the build needs, builds r7flash (Release), lays out the program
# directory beside the executables and starts the program on the built-in
# simulated controller. Without a display it runs a headless demo of every job
# through the command line instead.
set -euo pipefail
cd "$(dirname "$0")"
. tools/install_deps.sh
r7_install_deps

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
bin="$(pwd)/$build/bin"   # the demo program directory lies beside the executables

display_works() {
  [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
  [ -n "${DISPLAY:-}" ] || return 1
  command -v xdpyinfo >/dev/null 2>&1 || return 0
  xdpyinfo >/dev/null 2>&1
}

if [ -x "$bin/r7flash" ] && display_works; then
  cd "$bin"
  exec ./r7flash --simulate "$@"
fi

echo "No display found: a headless demo of every job on the simulated controller follows."
echo "(With a display, ./run.sh opens the r7flash window on the simulated controller.)"
cd "$bin"
cli=./r7flash-cli
step() { printf '\n$ %s\n' "$*"; "$@"; }
step $cli --simulate slots
step $cli --simulate identify
step $cli check 731-0000.S19
step $cli --simulate --yes flash
step $cli --simulate --yes save "Reg Downloads/demo-setup.txt"
step $cli --simulate --yes restore "Reg Downloads/demo-setup.txt"
echo
echo "Done. Try the commands yourself in $bin (r7flash-cli --help)."
