#!/bin/sh
# Plays a few fast games of the built engine against Fairy-Max, over UCI and
# over XBoard, with the match runner, and fails when the engine makes an
# illegal move, crashes, hangs or loses on time.
#
#   scripts/match-check.sh [engine binary]     (default: build/zorvel)
#
# GAMES (default 2 per protocol) and OPPONENT (default /usr/games/fairymax)
# may be set in the environment.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
runner_dir="$repo/../shared/tools/match"
runner="$runner_dir/match.js"
engine=${1:-"$repo/build/zorvel"}
opponent=${OPPONENT:-/usr/games/fairymax}
games=${GAMES:-2}

if [ ! -f "$runner" ]; then
  echo "match-check: skipped: no match runner at $runner_dir"
  exit 0
fi
if ! command -v node >/dev/null 2>&1; then
  echo "match-check: skipped: node is not installed"
  exit 0
fi
if [ ! -x "$opponent" ]; then
  echo "match-check: skipped: no opponent engine at $opponent"
  exit 0
fi
case "$engine" in /*) ;; *) engine="$(pwd)/$engine" ;; esac
if [ ! -x "$engine" ]; then
  echo "match-check: no engine binary at $engine (build it first)"
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
# The engine reads its settings from its own working directory.
printf 'Hash=16\nMaxThreads=1\nLogLevel=64\n' > "$work/zorvel.ini"

failed=0
for protocol in uci xboard; do
  echo "match-check: $games games over $protocol against $opponent"
  if ! node "$runner" --engine1 "$engine" --proto1 "$protocol" --dir1 "$work" \
      --engine2 "$opponent" --proto2 xboard --tc 2+0.05 --games "$games" --concurrency 2 \
      --hash 16 --openings "$runner_dir/openings.epd" --json "$work/$protocol.json" \
      --pgn "$work/$protocol.pgn" --log "$work/$protocol.log" --quiet; then
    echo "match-check: the match over $protocol did not complete"
    failed=1
    continue
  fi
  # Every fault of our engine is a failure; the opponent's are not ours.
  if ! node -e '
    const { summary, games } = require(process.argv[1]);
    const faults = /^(illegal move|crash|time forfeit|timeout|rejected a legal move|false claim)/;
    let bad = summary.aborted ? [`aborted: ${summary.aborted}`] : [];
    for (const g of games) {
      const m = faults.exec(g.reason);
      const side = / (white|black)$/.exec(g.reason);
      if (m && (!side || g[side[1]] === summary.engine1)) bad.push(`round ${g.round}: ${g.reason} ${g.detail || ""}`);
    }
    if (games.length !== summary.planned) bad.push(`${games.length} of ${summary.planned} games played`);
    for (const b of bad) console.log("match-check: " + b);
    process.exit(bad.length ? 1 : 0);
  ' "$work/$protocol.json"; then
    echo "match-check: engine faults over $protocol; the dialogue follows"
    tail -n 40 "$work/$protocol.log"
    failed=1
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "match-check: FAILED"
  exit 1
fi
echo "match-check: passed"
