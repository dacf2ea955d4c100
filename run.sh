#!/usr/bin/env bash
# Installs what the build needs, builds r7flash (Release), lays out the program
# directory beside the executables and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
. tools/install_deps.sh
r7_install_deps

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
bin="$build/bin"

exec "$bin/r7flash-cli" --help
