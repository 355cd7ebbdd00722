#!/bin/bash
# Builds the libFuzzer targets of tests/fuzz with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer and runs each over a copy of its committed
# corpus (the seeds and the regression inputs, "regress-*"). Any crash, leak,
# sanitizer report or timeout fails the script; the input that caused it is
# left in the build directory (crash-*, leak-*, timeout-*) to be added to the
# corpus as a regression input.
#
#   scripts/fuzz.sh ci [build directory]
#       What CI runs: a fixed seed and a fixed number of runs per target, so
#       that the same commit gives the same verdict on every machine.
#   scripts/fuzz.sh [seconds per target (default 600)] [build directory]
#       A longer run from a random seed, to be run before submitting work
#       that touches what the targets read.
#
# The build directory defaults to build-fuzz.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
MODE=${1:-600}
BUILD=${2:-$SRC/build-fuzz}
if [ "$MODE" = ci ]; then
  # Runs per target: each takes well under a minute with the sanitizers.
  declare -A RUNS=([fen]=60000 [pgn]=3000 [protocol]=5000)
  SEED=20261209
elif [[ "$MODE" =~ ^[1-9][0-9]*$ ]]; then
  SEED=$(( (RANDOM << 15 | RANDOM) + 1 ))
else
  echo "usage: scripts/fuzz.sh ci|<seconds per target> [build directory]" >&2
  exit 1
fi
JOBS=${JOBS:-$(nproc)}
CXX=${CXX_FUZZ:-clang++}
FLAGS="-std=c++17 -O1 -g -fno-omit-frame-pointer -Wall -Wextra -ffp-contract=off"
FLAGS="$FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined"
# Source paths relative to the checkout: the file names the checks print are
# data of the program, and their length must not depend on where it lies.
FLAGS="$FLAGS -ffile-prefix-map=$SRC=."

mkdir -p "$BUILD/obj"
BUILD=$(cd "$BUILD" && pwd)
cd "$SRC"

# The engine's sources, program entry aside, each compiled once.
sources=$(ls common/*.cpp board/*.cpp engine/*.cpp protocol/*.cpp tools/*.cpp | grep -v '^protocol/main.cpp$')
echo "compiling $(wc -w <<<"$sources") sources with $CXX"
compile() {  # source file -> object file, unless it is newer than the source and every header
  local obj="$BUILD/obj/$(echo "$1" | tr / _).o"
  [ "$obj" -nt "$1" ] && [ -z "$(find common board engine protocol tools -name '*.h' -newer "$obj" -print -quit)" ] ||
    $CXX $FLAGS -fsanitize=fuzzer-no-link -I. -c "$1" -o "$obj"
}
export -f compile
export CXX FLAGS BUILD
printf '%s\n' $sources | xargs -P "$JOBS" -I{} bash -c 'compile "$1"' _ {}
objects=$(ls "$BUILD"/obj/*.o)

# libFuzzer mutates with the bytes of the comparisons it sees, pointers among
# them, so the same seed gives the same runs only where every address is the
# same: address-space randomisation is switched off where the system lets us,
# and each fuzzer starts with the same environment and arguments (they sit at
# the top of its stack, above every stack address it compares).
FIXED_ADDRESSES=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  FIXED_ADDRESSES=("$(command -v setarch)" "$(uname -m)" -R)
elif [ "$MODE" = ci ]; then
  echo "warning: address-space randomisation stays on; runs may differ between machines" >&2
fi
FIXED_ENVIRONMENT=(env -i ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
                   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

status=0
for target in fen pgn protocol; do
  echo "=== $target: building"
  $CXX $FLAGS -fsanitize=fuzzer -I. -Itests "tests/fuzz/${target}_fuzz.cpp" $objects -pthread \
    -o "$BUILD/${target}_fuzz"
  corpus="$BUILD/corpus-$target"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/
  if [ "$MODE" = ci ]; then
    limit="-runs=${RUNS[$target]}"
    echo "=== $target: $limit -seed=$SEED"
  else
    limit="-max_total_time=$MODE"
    echo "=== $target: running for $MODE s, -seed=$SEED"
  fi
  # Every search an input starts is bounded in nodes, so the timeout only
  # catches a hang.
  if ! (cd "$BUILD" && "${FIXED_ENVIRONMENT[@]}" "${FIXED_ADDRESSES[@]}" "./${target}_fuzz" \
          "$limit" -seed="$SEED" -timeout=20 -rss_limit_mb=3072 -max_len=4096 -print_final_stats=1 \
          "corpus-$target" 2>"$BUILD/${target}.log"); then
    echo "=== $target: FAILED, see $BUILD/${target}.log"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$BUILD/${target}.log" | head -20 || true
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$BUILD/${target}.log" || true
    grep -E '^#[0-9]+[[:space:]]+DONE' "$BUILD/${target}.log" || true
  fi
done
exit $status
