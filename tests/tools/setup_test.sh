#!/usr/bin/env bash
# The programs build on a machine set up for building and running alone
# (scripts/install-deps without --test, as scripts/demo does it): told that
# GoogleTest and Google Benchmark are missing, CMake still configures every
# program, says the tests are left out, and makes no test.
set -u
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

cmake -S "$src" -B "$work" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=TRUE > "$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "it does not configure without the test packages"; }
grep -q "GoogleTest not found: no tests" "$work/configure.log" || fail "no word of the tests"
targets=$(ninja -C "$work" -t targets all)
for program in zenta zenta-cli zenta-camsim zenta-bridge; do
  echo "$targets" | grep -q "^$program: phony" || fail "$program would not be built"
done
echo "$targets" | grep -q "_tests: phony" && fail "tests would be built"
echo "$targets" | grep -q "_bench: phony" && fail "benchmarks would be built"
echo "the programs configure without the test packages"
