#!/bin/bash
# How fast the engine answers with large hash tables, and how fast it searches
# with them. For each engine binary given (default build/zorvel) and each hash
# size it measures, over UCI and from its own working directory with a
# "zorvel.ini" that sets the size:
#   uciok    "uci" to "uciok" (the table is allocated)
#   fresh    "ucinewgame" + "isready" to "readyok" on the fresh table (the
#            engine answers once every page of the table is present)
#   first    a first search right after that ("go depth 8" to "bestmove")
#   used     "ucinewgame" + "isready" to "readyok" after that search
# and, for the speed sizes, the nodes per second of fixed-depth searches on one
# thread over a few positions (summed nodes over summed search times), run
# after that clear, when every page of the table is present.
# Timings are wall-clock seconds; every figure is the median of REPEAT runs,
# the binaries taking turns, so that a change in the machine's load hits them
# alike. The load average is printed before and after.
#
#   scripts/hash-bench.sh [engine binary ...]
#
# To compare with an earlier commit, build it apart and name both binaries:
#   git archive <commit> | tar -x -C /tmp/old
#   cmake -S /tmp/old -B /tmp/old/build -DCMAKE_BUILD_TYPE=Release
#   cmake --build /tmp/old/build -j4 --target zorvel
#   scripts/hash-bench.sh /tmp/old/build/zorvel build/zorvel
#
# Environment: SIZES (default "16 256 1024 2048"), SPEED_SIZES ("16 1024"),
# DEPTH (13), REPEAT (5), PAUSE (seconds between runs, 3).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
sizes=${SIZES:-"16 256 1024 2048"}
speed_sizes=${SPEED_SIZES-"16 1024"}
depth=${DEPTH:-13}
repeat=${REPEAT:-5}
pause=${PAUSE:-3}
[ $# -gt 0 ] || set -- "$repo/build/zorvel"
engines=()
for engine in "$@"; do
  case "$engine" in /*) ;; *) engine="$(pwd)/$engine" ;; esac
  [ -x "$engine" ] || { echo "hash-bench: no engine binary at $engine" >&2; exit 1; }
  engines+=("$engine")
done

positions=(
  "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
  "r2qkbnr/ppp2p1p/2n5/3P4/2BP1pb1/2N2p2/PPPQ2PP/R1B2RK1 b kq - 0 1"
  "r2q1b1r/p2k1p1p/2p2n2/nB6/3PNQb1/5p2/PPP3PP/R1B1R1K1 b - - 0 1"
  "5rr1/p2qbR1p/1kn5/1p2B3/3P4/2P2Q2/PP4PP/4R1K1 b - - 0 1"
  "3q4/p3b2p/8/1kP5/p2P4/8/1P2Q1PP/6K1 b - - 0 1"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# Reads engine lines until one starts with $1; the last "info depth" line
# seen is kept in last_info.
wait_for() {
  local line
  while IFS= read -r -t 300 line <&"${E[0]}"; do
    case "$line" in
      "$1"*) return 0 ;;
      "info depth"*" nodes "*) last_info=$line ;;
    esac
  done
  echo "hash-bench: no \"$1\" from the engine" >&2
  exit 1
}

send() { printf '%s\n' "$@" >&"${E[1]}"; }

field() {  # the number after the word $1 in $2
  awk -v key="$1" '{ for (i = 1; i < NF; ++i) if ($i == key) { print $(i + 1); exit } }' <<<"$2"
}

# One run of one engine at one size: prints "uciok fresh used first [nps]".
run() {
  local engine=$1 size=$2 speed=$3 t0 t1 t2 t3 t4 nodes=0 ms=0 result
  mkdir -p "$work/$size"
  printf 'Hash=%d\nMaxThreads=1\n' "$size" >"$work/$size/zorvel.ini"
  cd "$work/$size"
  coproc E { exec "$engine"; }
  cd - >/dev/null
  wait_for "Zorvel"
  t0=$(now); send uci; wait_for uciok; t1=$(now)
  send ucinewgame isready; wait_for readyok; t2=$(now)
  send "position startpos" "go depth 8"; wait_for bestmove
  t3=$(now); send ucinewgame isready; wait_for readyok; t4=$(now)
  result="$(elapsed "$t0" "$t1") $(elapsed "$t1" "$t2")"
  result="$result $(elapsed "$t2" "$t3") $(elapsed "$t3" "$t4")"
  if [ "$speed" = 1 ]; then
    for fen in "${positions[@]}"; do
      last_info=""
      send "position fen $fen" "go depth $depth"; wait_for bestmove
      nodes=$((nodes + $(field nodes "$last_info")))
      ms=$((ms + $(field time "$last_info")))
    done
    result="$result $((ms > 0 ? nodes * 1000 / ms : 0))"
  fi
  send quit
  wait "$E_PID" 2>/dev/null || true
  echo "$result"
}

median() {
  sort -g | awk '{ v[NR] = $1 }
    END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((e = 0; e < ${#engines[@]}; ++e)); do echo "engine $((e + 1)): ${engines[$e]}"; done
echo "depth $depth, $repeat runs each, medians; times in seconds"
printf '%-6s %-6s %8s %8s %8s %8s %10s\n' "MB" "engine" "uciok" "fresh" "first" "used" "nodes/s"
for size in $sizes; do
  speed=0
  for s in $speed_sizes; do [ "$s" = "$size" ] && speed=1; done
  for ((e = 0; e < ${#engines[@]}; ++e)); do : >"$work/results.$e"; done
  for ((r = 0; r < repeat; ++r)); do
    for ((e = 0; e < ${#engines[@]}; ++e)); do
      sleep "$pause"
      run "${engines[$e]}" "$size" "$speed" >>"$work/results.$e"
    done
  done
  for ((e = 0; e < ${#engines[@]}; ++e)); do
    file="$work/results.$e"
    nps="-"
    [ "$speed" = 1 ] && nps=$(cut -d' ' -f5 "$file" | median)
    printf '%-6s %-6s %8s %8s %8s %8s %10s\n' "$size" "$((e + 1))" \
      "$(cut -d' ' -f1 "$file" | median)" "$(cut -d' ' -f2 "$file" | median)" \
      "$(cut -d' ' -f3 "$file" | median)" "$(cut -d' ' -f4 "$file" | median)" "$nps"
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
