#!/usr/bin/env bash
# Prints the --trace of identify, save, restore and flash through r7sim on a
# pseudo-terminal, without timestamps and elapsed times, so that two builds
# can be compared: the bytes on the wire and their order, slot by slot.
#   tools/job_traces.sh BIN_DIR > traces.txt
# BIN_DIR holds r7flash-cli, r7sim and the demo program directory.
set -euo pipefail
bin=$(cd "${1:?usage: job_traces.sh BIN_DIR}" && pwd)
work=$(mktemp -d)
trap 'kill "${sim_pid:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

home="$work/home"
mkdir -p "$home/Reg Downloads"
cp -r "$bin/Download Sequences" "$bin/VARNEL FLASH R7.INI" "$home/"
cp "$bin"/*.S19 "$bin"/*.s19 "$home/"

"$bin/r7sim" --link "$work/r7" --state "$work/state.json" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/r7" ] && break; sleep 0.1; done

run() {
  local name=$1; shift
  local status=0
  "$bin/r7flash-cli" --home "$home" --port "$work/r7" --yes --quiet --trace "$work/$name.trace" \
    "$@" > "$work/$name.out" 2>&1 || status=$?
  echo "== $name (exit $status)"
  # "2026-12-07 14:05:09 slot 1 /dev/pts/3 TX 01 03 ... 0 ms" -> "slot 1 TX 01 03 ..."
  sed -E 's/^[0-9-]+ [0-9:]+ (slot [0-9]+) [^ ]+ (TX|RX|DROP) (.*) [0-9]+ ms$/\1 \2 \3/' \
    "$work/$name.trace"
}

run identify identify
run save save "$home/Reg Downloads/setup.txt"
run restore restore "$home/Reg Downloads/setup.txt"
run flash flash
