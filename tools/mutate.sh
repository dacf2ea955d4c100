#!/usr/bin/env bash
# Mutation run: each single-line change of tools/mutations.txt is applied in
# turn to a scratch copy of the tree, the quick tests (all but e2e and fuzz)
# are built and run, and the changes that no test notices (the survivors) are
# listed. A survivor is a fault the tests would let through.
#
#   tools/mutate.sh [-j N] [-k PATTERN] [--keep DIR] [--list FILE]
#     -k PATTERN   only the mutations whose line contains PATTERN
#     --keep DIR   scratch copy and its build in DIR, kept for the next run
#     --list FILE  mutations from FILE instead (say, the survivors of a run)
#
# tools/mutations.txt: one mutation a line, "file | original | replacement";
# the original text must stand exactly once in the file. Lines starting with
# '#' and blank lines are skipped. Exit status 0 when every mutation was killed.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc)
only=""
scratch=""
list="$top/tools/mutations.txt"
while [ $# -gt 0 ]; do
  case $1 in
    -j) jobs=$2; shift 2 ;;
    -k) only=$2; shift 2 ;;
    --keep) scratch=$2; shift 2 ;;
    --list) list=$(realpath "$2"); shift 2 ;;
    *) echo "usage: tools/mutate.sh [-j N] [-k PATTERN] [--keep DIR] [--list FILE]" >&2; exit 1 ;;
  esac
done

if [ -z "$scratch" ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
fi
mkdir -p "$scratch/tree"
# The tree as it is now, uncommitted changes included; files that did not
# change since a kept run are left alone, so its build stays current.
tree="$scratch/tree"
git ls-files -co --exclude-standard | while IFS= read -r f; do [ -f "$f" ] && echo "$f"; done \
  | sort > "$scratch/files"
while IFS= read -r f; do
  if ! cmp -s "$f" "$tree/$f"; then
    mkdir -p "$tree/$(dirname "$f")"
    cp "$f" "$tree/$f"  # a new time stamp: the build takes it up
  fi
done < "$scratch/files"
# Files gone from the tree since a kept run go from the copy too.
(cd "$tree" && find . -type f | sed 's|^\./||' | sort) | comm -23 - "$scratch/files" \
  | while IFS= read -r f; do rm -f "$tree/$f"; done
build="$scratch/build"
compiler=()
command -v clang++ >/dev/null 2>&1 && compiler=(-DCMAKE_CXX_COMPILER=clang++)
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DR7_BUILD_BENCH=OFF \
  "${compiler[@]}" > "$scratch/configure.log"
export QT_QPA_PLATFORM=offscreen
# The quick tests; a mutant is killed by its first failing test (--stop-on-failure).
quick() {
  cmake --build "$build" -j "$jobs" > "$scratch/build.log" 2>&1 || return 2
  (cd "$build" && timeout 900 ctest -j "$jobs" -LE "e2e|fuzz" --timeout 300 "$@" \
    > "$scratch/test.log" 2>&1)
}
echo "Building the unchanged tree and running its quick tests..."
if ! quick; then
  echo "The unchanged tree does not pass its quick tests; see $scratch" >&2
  exit 2
fi

total=0 killed=0 invalid=0 survivors=()
while IFS= read -r entry; do
  case "$entry" in ''|'#'*) continue ;; esac
  [ -n "$only" ] && [[ "$entry" != *"$only"* ]] && continue
  file=$(printf '%s' "$entry" | awk -F' \\| ' '{print $1}')
  original=$(printf '%s' "$entry" | awk -F' \\| ' '{print $2}')
  replacement=$(printf '%s' "$entry" | awk -F' \\| ' '{print $3}')
  target="$tree/$file"
  count=$(grep -cF -- "$original" "$target" || true)
  if [ "$count" != 1 ]; then
    echo "SKIP  $file: the original stands $count times: $original" >&2
    continue
  fi
  cp "$target" "$scratch/saved"
  ORIGINAL=$original REPLACEMENT=$replacement python3 - "$target" <<'PY'
import os, sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read()
open(path, "w", encoding="utf-8").write(text.replace(os.environ["ORIGINAL"], os.environ["REPLACEMENT"], 1))
PY
  status=0
  quick --stop-on-failure || status=$?
  cp "$scratch/saved" "$target"
  touch "$target"
  if [ $status -eq 2 ]; then  # not a mutant the tests can meet: mend the list
    invalid=$((invalid + 1))
    echo "DOES NOT BUILD  $entry" >&2
    continue
  fi
  total=$((total + 1))
  if [ $status -eq 0 ]; then
    survivors+=("$entry")
    echo "LIVES   $entry"
  else
    killed=$((killed + 1))
    echo "killed  $file: $replacement"
  fi
done < "$list"

echo
echo "$killed of $total mutations killed by the quick tests ($((total ? 100 * killed / total : 0)) %)."
if [ $invalid -gt 0 ]; then
  echo "$invalid entries of the list do not build: mend them."
fi
if [ ${#survivors[@]} -gt 0 ]; then
  echo "Survivors:"
  printf '  %s\n' "${survivors[@]}"
  exit 1
fi
