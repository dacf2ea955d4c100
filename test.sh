#!/usr/bin/env bash
# Installs what the build needs, builds the Debug configuration with
# AddressSanitizer and UndefinedBehaviorSanitizer (warnings are errors) and runs
# the tests, as many at once as the machine has cores (at least two); then
# builds the Debian package from a Release tree of the programs alone and
# checks it as installed (tests/package/check_package.sh).
#   ./test.sh [--quick] [CTEST ARGUMENTS...]
# --quick leaves out the e2e and fuzz labels and the package. Its exit status
# is the tests'.
set -euo pipefail
cd "$(dirname "$0")"

quick=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1; shift ;;
    *) break ;;
  esac
done

. tools/install_deps.sh
r7_install_deps

compiler=()
if command -v clang++ >/dev/null 2>&1; then
  compiler=(-DCMAKE_CXX_COMPILER=clang++)  # clang also builds the libFuzzer targets
fi
build=build/debug
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DR7_SANITIZE=ON -DR7_WERROR=ON "${compiler[@]}"
cmake --build "$build"

package_build=build/package
if [ "$quick" -eq 0 ]; then
  cmake -S . -B "$package_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DR7_WERROR=ON \
    -DR7_BUILD_TESTS=OFF -DR7_BUILD_BENCH=OFF "${compiler[@]}"
  cmake --build "$package_build" --target package
fi

jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -ge 2 ] || jobs=2
selection=()
[ "$quick" -eq 1 ] && selection=(-LE '^(e2e|fuzz)$')

# What the checkout holds before the tests (the build folder aside): a test
# run must add nothing to it.
checkout_state() {
  git status --porcelain --ignored 2>/dev/null | grep -v -e '^!! build/$' -e '^!! build/' || true
}
in_git=0
git rev-parse --is-inside-work-tree >/dev/null 2>&1 && in_git=1
before=$(checkout_state)

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
(cd "$build" && ctest --output-on-failure --timeout 600 -j "$jobs" "${selection[@]}" "$@") ||
  status=$?
if [ "$quick" -eq 0 ]; then
  version=$(sed -n 's/^project(r7flash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  tests/package/check_package.sh "$package_build/r7flash_${version}_$(dpkg --print-architecture).deb" \
    "$version" || status=$?
fi

if [ "$in_git" -eq 1 ]; then
  added=$(comm -13 <(printf '%s\n' "$before" | sort) <(checkout_state | sort))
  if [ -n "$added" ]; then
    echo "The tests wrote into the checkout:" >&2
    printf '%s\n' "$added" >&2
    [ "$status" -ne 0 ] || status=1
  fi
else
  echo "Not a git checkout: the check that the tests write nothing into it is skipped." >&2
fi
exit "$status"
