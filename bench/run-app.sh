#!/usr/bin/env bash
# The desktop app under Xvfb: time from start to the first frame, then CPU and resident memory
# with the panel hidden and idle, shown with the lobby pair, shown with four busy sessions, and
# frozen. Needs Xvfb and curl; talks only to 127.0.0.1. Run from the checkout after a build.
set -euo pipefail
cd "$(dirname "$0")/.."
app=./build/dev/src/tallyloft
[ -x "$app" ] || { echo "build first (./dev build)"; exit 1; }
command -v Xvfb >/dev/null || { echo "needs Xvfb (apt-get install xvfb)"; exit 1; }
SECONDS_EACH=${SECONDS_EACH:-20}
display=:$((90 + RANDOM % 100))
home=$(mktemp -d)
cleanup() {
  kill "${app_pid:-}" "${xvfb_pid:-}" "${poster_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 1600x900x24 >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/run DISPLAY=$display
mkdir -p "$home/.claude" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Tallyloft" && chmod 700 "$XDG_RUNTIME_DIR"
# The panel low on the screen, away from the cursor that Xvfb puts in the middle.
printf '[General]\nbarFloatingFrame="{{368, 680}, {864, 192}}"\n' >"$XDG_CONFIG_HOME/Tallyloft/Tallyloft.conf"
ticks=$(getconf CLK_TCK)

cpu_of() {  # user+system ticks of the app
  awk '{print $14 + $15}' "/proc/$app_pid/stat"
}
rss_of() {
  awk '/VmRSS/ {printf "%.0f", $2 / 1024}' "/proc/$app_pid/status"
}
measure() {  # label [seconds]
  local before after span=${2:-$SECONDS_EACH} fps
  before=$(cpu_of)
  sleep "$span"
  after=$(cpu_of)
  fps=$( (grep -o '[0-9.]* frames per second' "$home/app.log" 2>/dev/null || true) | tail -n 1 | cut -d' ' -f1)
  printf '| %-44s | %6.1f %% | %6s MB | %6s |\n' "$1" \
    "$(echo "($after - $before) * 100 / ($ticks * $span)" | bc -l)" "$(rss_of)" "${fps:--}"
}
post() {
  curl -s -m 1 -X POST --data-binary "$1" http://127.0.0.1:51789/event >/dev/null || true
}

echo "| state                                        |      CPU |   resident | frames/s |"
echo "|----------------------------------------------|----------|------------|----------|"
# The cursor rests in a corner, away from the panel.
# No hooks yet: the panel stays hidden (onboarding and the control panel show instead).
"$app" 2>/dev/null &
app_pid=$!
sleep 3
measure "panel hidden, no sessions" 60
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
"$app" hooks install >/dev/null

start=$(date +%s%N)
TALLYLOFT_REPORT_FRAMES=1 "$app" 2>"$home/app.log" &
app_pid=$!
until grep -q "first frame" "$home/app.log" 2>/dev/null; do
  sleep 0.005
  [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 20000 ] || { echo "no first frame"; exit 1; }
done
first=$(( ($(date +%s%N) - start) / 1000000 ))
measure "shown, empty office (the lobby pair)"
# Four busy sessions of twelve agents, kept busy by a poster.
(
  while true; do
    for s in 1 2 3 4; do
      for a in 0 1 2 3 4 5 6 7 8 9 10 11; do
        if [ "$a" = 0 ]; then agent=""; else agent=",\"agent_id\":\"s$s-$a\",\"agent_type\":\"Explore\""; fi
        post "{\"hook_event_name\":\"PreToolUse\",\"session_id\":\"s$s\",\"cwd\":\"/p/project-$s\"$agent,\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"make\"}}"
      done
    done
    sleep 2
  done
) &
poster_pid=$!
sleep 3
measure "shown, four busy sessions of 12 agents"
kill "$poster_pid" 2>/dev/null || true
wait "$poster_pid" 2>/dev/null || true
poster_pid=
# Every agent stops and every session ends: the robots walk out, and with no live agent left the
# office freezes until the sessions leave the model (about 14 s after their end).
for s in 1 2 3 4; do
  for a in 1 2 3 4 5 6 7 8 9 10 11; do
    post "{\"hook_event_name\":\"SubagentStop\",\"session_id\":\"s$s\",\"agent_id\":\"s$s-$a\"}"
  done
  post "{\"hook_event_name\":\"SessionEnd\",\"session_id\":\"s$s\"}"
done
sleep 11
measure "shown, office frozen (every robot gone)" 3
echo "start to first frame: $first ms"
