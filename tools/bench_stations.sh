#!/usr/bin/env bash
# Times one station against four: r7flash-cli flashing the demo image into
# paced r7sim controllers (each byte takes the time the line's baud rate
# gives it), one station alone, then four stations in one run, measured in
# the same run of this script. Prints the wall times, their ratio and the
# share of one CPU core that r7flash-cli used.
#   tools/bench_stations.sh BIN_DIR [STATIONS]
# BIN_DIR holds r7flash-cli, r7sim and the demo program directory.
set -euo pipefail
bin=$(cd "${1:?usage: bench_stations.sh BIN_DIR [STATIONS]}" && pwd)
stations=${2:-4}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

home="$work/home"
mkdir -p "$home/Reg Downloads"
cp -r "$bin/Download Sequences" "$bin/VARNEL FLASH R7.INI" "$home/"
cp "$bin"/*.S19 "$bin"/*.s19 "$home/"

for i in $(seq 0 "$stations"); do
  "$bin/r7sim" --pace --link "$work/tty$i" --serial 21 "300$i" > /dev/null 2> "$work/sim$i.err" &
  pids+=($!)
done
for i in $(seq 0 "$stations"); do
  for _ in $(seq 100); do [ -e "$work/tty$i" ] && break; sleep 0.1; done
done

# Wall, user and system seconds of r7flash-cli flashing through the given ports.
flash() {
  local ports=()
  for p in "$@"; do ports+=(--port "$work/$p"); done
  local TIMEFORMAT='%R %U %S'
  if ! { time "$bin/r7flash-cli" --home "$home" --yes --quiet "${ports[@]}" flash \
      > "$work/flash.out" 2>&1; } 2> "$work/time"; then
    echo "the flash through $* failed:" >&2
    cat "$work/flash.out" >&2
    exit 1
  fi
  cat "$work/time"
}

flash tty0 > "$work/one"
many=()
for i in $(seq 1 "$stations"); do many+=("tty$i"); done
flash "${many[@]}" > "$work/many"
read -r one_wall one_user one_sys < "$work/one"
read -r many_wall many_user many_sys < "$work/many"

awk -v ow="$one_wall" -v ou="$one_user" -v os="$one_sys" -v mw="$many_wall" -v mu="$many_user" \
    -v ms="$many_sys" -v n="$stations" 'BEGIN {
  printf "one station:    %7.1f s wall, r7flash-cli %.1f %% of one core\n", ow, 100 * (ou + os) / ow
  printf "%d stations:     %7.1f s wall, r7flash-cli %.1f %% of one core\n", n, mw, 100 * (mu + ms) / mw
  printf "ratio:          %7.3f (%d stations / one)\n", mw / ow, n
}'
