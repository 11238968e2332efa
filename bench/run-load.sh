#!/usr/bin/env bash
# Measures our hook server against a plain Node.js receiver and a raw-socket floor, in one run,
# then times the exact hook command end to end. Usage: bench/run-load.sh [REQUESTS] [CONCURRENCY]
set -euo pipefail
cd "$(dirname "$0")/.."
requests=${1:-20000}
concurrency=${2:-16}
bin=build/dev
ours_port=52781 node_port=52782 floor_port=52783 closed_port=52784

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

"$bin/src/tallyloft" serve --port "$ours_port" 2>/dev/null & pids+=($!)
node bench/peers/node-server.js "$node_port" 2>/dev/null & pids+=($!)
"$bin/bench/floor_server" "$floor_port" 2>/dev/null & pids+=($!)
sleep 1

load="$bin/bench/tallyloft_load"
echo
echo "Fresh connection per request, realistic PreToolUse body:"
"$load" header
for round in 1 2; do
  "$load" http "$ours_port" "$requests" "$concurrency" "tallyloft #$round"
  "$load" http "$node_port" "$requests" "$concurrency" "node http #$round"
  "$load" http "$floor_port" "$requests" "$concurrency" "raw floor #$round"
done
echo
echo "The exact hook command (sh -c, curl -m1), end to end:"
"$load" command-header
"$load" command "$ours_port" 200 "tallyloft serve"
"$load" command "$closed_port" 200 "closed port (app not running)"
