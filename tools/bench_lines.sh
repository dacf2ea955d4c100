#!/usr/bin/env bash
# Times a setup save through a serial device server against the same save on
# the direct pseudo-terminal, in one run: r7sim paced at the line rate, ser2net
# on 127.0.0.1 in front of it (RFC 2217, chardelay off). Saves alternate
# (direct, server, direct, ...) so that a drift of the machine's speed hits
# both; prints each one's median and the ratio of the medians.
#
#   tools/bench_lines.sh [BIN_DIR] [RUNS]     (default build/release/bin, 5)
set -euo pipefail

bin=${1:-build/release/bin}
runs=${2:-5}
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
[ -x "$bin/r7flash-cli" ] && [ -x "$bin/r7sim" ] || { echo "no r7flash-cli/r7sim in $bin" >&2; exit 1; }
[ -x "$ser2net" ] || { echo "ser2net is not installed" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp -r "$bin/VARNEL FLASH R7.INI" "$bin/Download Sequences" "$work/"
mkdir "$work/Reg Downloads"
"$bin/r7sim" --pace --link "$work/r7" >"$work/sim.out" 2>/dev/null &
pids+=($!)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/ser2net.yaml" <<EOF
connection: &bench
  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$port
  connector: serialdev,$work/r7,9600n81,local
  options:
    chardelay: false
EOF
"$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" 2>/dev/null &
pids+=($!)
sleep 1

save_ms() {
  local start end
  start=$(date +%s%N)
  "$bin/r7flash-cli" --home "$work" --port "$1" --yes --quiet save "$work/setup.txt" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

direct=()
server=()
save_ms "$work/r7" >/dev/null  # warm-up
for _ in $(seq "$runs"); do
  direct+=("$(save_ms "$work/r7")")
  server+=("$(save_ms "rfc2217://127.0.0.1:$port")")
done
d=$(printf '%s\n' "${direct[@]}" | median)
s=$(printf '%s\n' "${server[@]}" | median)
echo "save, direct pseudo-terminal: median ${d} ms (${direct[*]})"
echo "save, rfc2217 through ser2net: median ${s} ms (${server[*]})"
awk -v s="$s" -v d="$d" 'BEGIN {printf "ratio server/direct: %.3f\n", s / d}'
