#!/usr/bin/env bash
# fuzz.sh SECONDS [TARGET...]: builds the libFuzzer targets (clang, with the
# address and undefined-behaviour sanitizers) in build/fuzz and runs each for
# SECONDS, from its seeds (tests/fuzz/seeds/NAME) and what earlier runs found
# (build/fuzz/tests/fuzz/corpus-NAME). Prints, per target, the inputs run,
# inputs a second, coverage and whether it found anything; exits 1 when one did.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DR7_SANITIZE=ON -DR7_WITH_QT=OFF -DR7_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$build" --target "${targets[@]}" >/dev/null
status=0
printf '%-22s %12s %10s %8s %s\n' target inputs per-second cov findings
for t in "${targets[@]}"; do
  corpus="$build/tests/fuzz/corpus-$t"
  mkdir -p "$corpus"
  seeds=()
  [ -d "tests/fuzz/seeds/$t" ] && seeds=("tests/fuzz/seeds/$t")
  log="$build/$t.log"
  if "$build/bin/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/$t-" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    found=none
  else
    found="see $log"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-22s %12s %10s %8s %s\n' "$t" "${runs:-?}" "$(( ${runs:-0} / seconds ))" "${cov:-?}" "$found"
done
exit $status
