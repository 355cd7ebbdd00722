#!/bin/bash
# Builds the libFuzzer targets of tests/fuzz with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer and runs each for a while on a copy of its
# seed corpus. Any crash, leak, sanitizer report or timeout fails the script;
# the input that caused it is left in the build directory (crash-*, leak-*,
# timeout-*) to be added to the regression inputs of the unit tests.
#
#   scripts/fuzz.sh [seconds per target (default 30)] [build directory (default build-fuzz)]
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_PER_TARGET=${1:-30}
BUILD=${2:-$SRC/build-fuzz}
JOBS=${JOBS:-$(nproc)}
CXX=${CXX_FUZZ:-clang++}
FLAGS="-std=c++17 -O1 -g -fno-omit-frame-pointer -Wall -Wextra -ffp-contract=off"
FLAGS="$FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined"

mkdir -p "$BUILD/obj"
cd "$SRC"

# The engine's sources, program entry aside, each compiled once.
sources=$(ls common/*.cpp board/*.cpp engine/*.cpp protocol/*.cpp tools/*.cpp | grep -v '^protocol/main.cpp$')
echo "compiling $(wc -w <<<"$sources") sources with $CXX"
compile() {  # source file -> object file, unless it is up to date
  local obj="$BUILD/obj/$(echo "$1" | tr / _).o"
  [ "$obj" -nt "$1" ] || $CXX $FLAGS -fsanitize=fuzzer-no-link -I. -c "$1" -o "$obj"
}
export -f compile
export CXX FLAGS BUILD
printf '%s\n' $sources | xargs -P "$JOBS" -I{} bash -c 'compile "$1"' _ {}
objects=$(ls "$BUILD"/obj/*.o)

status=0
for target in fen pgn protocol; do
  echo "=== $target: building"
  $CXX $FLAGS -fsanitize=fuzzer -I. -Itests "tests/fuzz/${target}_fuzz.cpp" $objects -pthread \
    -o "$BUILD/${target}_fuzz"
  corpus="$BUILD/corpus-$target"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/
  echo "=== $target: running for $SECONDS_PER_TARGET s"
  if ! (cd "$BUILD" && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "./${target}_fuzz" -max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=3072 \
          -max_len=4096 -print_final_stats=1 "$corpus" 2>"$BUILD/${target}.log"); then
    echo "=== $target: FAILED, see $BUILD/${target}.log"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$BUILD/${target}.log" | head -20 || true
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$BUILD/${target}.log" || true
  fi
done
exit $status
