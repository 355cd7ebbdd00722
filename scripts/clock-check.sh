#!/bin/bash
# How close the engine's moves come to the end of its clock. Each dialogue
# below runs RUNS times in one engine, started over UCI or XBoard from a
# working directory of its own, and the time from the line that starts the
# engine's clock to its move is measured. For each dialogue it prints the
# clock the engine had, the median and the worst of those times, and how many
# moves came after the clock had run out (games lost on time).
#
#   scripts/clock-check.sh [engine binary]                  (default build/zorvel)
#   EMULATOR="qemu-arm-static -cpu arm1176" scripts/clock-check.sh build-armv6/zorvel
#
# The dialogues (clock in milliseconds):
#   uci-clock     go wtime 200 btime 200 movestogo 2                          200
#   uci-movetime  go movetime 1                                                 1
#   uci-small     go wtime 10 btime 10, a clock below the 50 ms margin        10
#   uci-inc       go wtime 300 btime 300, after a go with winc/binc 5000     300
#   uci-hit       go ponder wtime 200 btime 200, "ponderhit" 0 to 40 ms
#                 after it; timed from the hit                               200
#   xb-st         st 1, time 5, otim 5, go                                     50
#   xb-st-hit     hard, st 2, time 1000; after the engine's move and "Hint:",
#                 0 to 40 ms later, time 30 and the hinted move (a hit)       300
#   xb-early-hit  hard, level 40 0:20 0; the hinted move at once after the
#                 hint, with time 1 (a hit before the ponder search begins)   10
# Timings are wall-clock milliseconds taken by this script, so they include
# the way through the pipes (and, under EMULATOR, the emulator's own work).
# Each dialogue runs once more first, uncounted: under QEMU the first search
# of an engine takes 10 to 15 ms more while the emulator translates the code.
# The load average is printed before and after: the figures mean most on a
# quiet machine.
#
# Environment: RUNS (default 50), INPUT_THREAD (1; 0 lets the search read
# the input itself), DIALOGUES (default all, in the order above), EMULATOR.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-50}
input_thread=${INPUT_THREAD:-1}
dialogues=${DIALOGUES:-"uci-clock uci-movetime uci-small uci-inc uci-hit xb-st xb-st-hit xb-early-hit"}
engine=${1:-"$repo/build/zorvel"}
case "$engine" in /*) ;; *) engine="$(pwd)/$engine" ;; esac
[ -x "$engine" ] || { echo "clock-check: no engine binary at $engine" >&2; exit 1; }
read -r -a emulator <<<"${EMULATOR:-}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
printf 'Hash=16\nMaxThreads=1\nUseInputThread=%d\nLogLevel=0\n' "$input_thread" >"$work/zorvel.ini"

# Delays before a ponder hit, cycled through by the runs, in seconds.
hit_delays=(0 0.001 0.002 0.003 0.005 0.008 0.013 0.02 0.03 0.04)

ms_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f\n", (b - a) * 1000 }'; }
send() { printf '%s\n' "$@" >&"${E[1]}"; }

# Reads engine lines until one starts with $1; that line is left in $line.
wait_for() {
  while IFS= read -r -t 60 line <&"${E[0]}"; do
    case "$line" in "$1"*) return 0 ;; esac
  done
  echo "clock-check: no \"$1\" from the engine" >&2
  exit 1
}

start_engine() {
  cd "$work"
  coproc E { exec "${emulator[@]}" "$engine"; }
  cd - >/dev/null
  wait_for "Zorvel"
  if [ "$1" = uci ]; then
    send uci; wait_for uciok
  else
    send xboard "protover 2"; wait_for "feature done=1"
  fi
}

stop_engine() {
  send quit
  wait "$E_PID" 2>/dev/null || true
}

# One run of a dialogue: prints the milliseconds from the clock's start to the move.
run_uci() {
  local dialogue=$1 run=$2 t0 t1
  send ucinewgame "position startpos moves e2e4" isready; wait_for readyok
  case "$dialogue" in
    uci-clock) t0=$EPOCHREALTIME; send "go wtime 200 btime 200 movestogo 2" ;;
    uci-movetime) t0=$EPOCHREALTIME; send "go movetime 1" ;;
    uci-small) t0=$EPOCHREALTIME; send "go wtime 10 btime 10" ;;
    uci-inc)
      send "go depth 1 winc 5000 binc 5000"; wait_for bestmove
      send "position startpos moves e2e4" isready; wait_for readyok
      t0=$EPOCHREALTIME; send "go wtime 300 btime 300" ;;
    uci-hit)
      send "go ponder wtime 200 btime 200"
      sleep "${hit_delays[$((run % ${#hit_delays[@]}))]}"
      t0=$EPOCHREALTIME; send ponderhit ;;
  esac
  wait_for bestmove
  t1=$EPOCHREALTIME
  ms_between "$t0" "$t1"
}

run_xboard() {
  local dialogue=$1 run=$2 t0 t1 hint
  send new "ping $run"; wait_for "pong $run"
  case "$dialogue" in
    xb-st)
      send "st 1" "time 5" "otim 5"
      t0=$EPOCHREALTIME; send go ;;
    xb-st-hit | xb-early-hit)
      if [ "$dialogue" = xb-st-hit ]; then
        send hard "st 2" "time 1000" "otim 1000" e2e4
      else
        send hard "level 40 0:20 0" "time 2000" "otim 2000" e2e4
      fi
      wait_for "move "; wait_for "Hint: "
      hint=${line#Hint: }
      if [ "$dialogue" = xb-st-hit ]; then
        sleep "${hit_delays[$((run % ${#hit_delays[@]}))]}"
        t0=$EPOCHREALTIME; send "time 30" "otim 1000" "$hint"
      else
        t0=$EPOCHREALTIME; send "time 1" "otim 2000" "$hint"
      fi ;;
  esac
  wait_for "move "
  t1=$EPOCHREALTIME
  ms_between "$t0" "$t1"
}

clock_of() {
  case "$1" in
    uci-clock | uci-hit) echo 200 ;;
    uci-movetime) echo 1 ;;
    uci-small | xb-early-hit) echo 10 ;;
    uci-inc | xb-st-hit) echo 300 ;;
    xb-st) echo 50 ;;
  esac
}

# Median, worst and the count above the clock of the numbers on standard input.
summary() {
  sort -g | awk -v clock="$1" '{ v[NR] = $1; if ($1 > clock) ++over }
    END { median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%9.1f %9.1f %6d\n", median, v[NR], over }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "engine: ${emulator[*]} $engine (input thread $input_thread), $runs runs each"
printf '%-13s %8s %9s %9s %6s\n' "dialogue" "clock" "median" "worst" "over"
for dialogue in $dialogues; do
  protocol=uci
  case "$dialogue" in xb-*) protocol=xboard ;; esac
  start_engine "$protocol"
  # A first run that is not counted: under an emulator the first search
  # includes the translation of the code on its first use.
  "run_$protocol" "$dialogue" "$runs" >/dev/null
  : >"$work/times"
  for ((run = 0; run < runs; ++run)); do
    "run_$protocol" "$dialogue" "$run" >>"$work/times"
  done
  stop_engine
  printf '%-13s %8s %s\n' "$dialogue" "$(clock_of "$dialogue")" "$(summary "$(clock_of "$dialogue")" <"$work/times")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
