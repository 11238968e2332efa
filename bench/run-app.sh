#!/usr/bin/env bash
# The desktop app under Xvfb: time from start to the first frame, then CPU and resident memory
# with the panel hidden and idle; shown with the lobby pair, with one session resting at the
# coffee corner, with one agent waiting for permission, with one and with four busy sessions of
# twelve agents, and frozen; and the time from a frozen office to the first frame after an event. Needs Xvfb and curl; talks only to 127.0.0.1. Run from the checkout after a build.
set -euo pipefail
cd "$(dirname "$0")/.."
app=./build/dev/src/tallyloft
[ -x "$app" ] || { echo "build first (./dev build)"; exit 1; }
command -v Xvfb >/dev/null || { echo "needs Xvfb (apt-get install xvfb)"; exit 1; }
SECONDS_EACH=${SECONDS_EACH:-20}
display=:$((90 + RANDOM % 100))
home=$(mktemp -d)
cleanup() {
  kill "${app_pid:-}" "${xvfb_pid:-}" "${poster_pid:-}" "${extra_pid:-}" 2>/dev/null || true
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
frames() {  # frames drawn so far (the app reports each one)
  grep -c "frame$" "$home/app.log" 2>/dev/null || echo 0
}
measure() {  # label [seconds]
  local before after span=${2:-$SECONDS_EACH} frames_before frames_after
  before=$(cpu_of)
  frames_before=$(frames)
  sleep "$span"
  after=$(cpu_of)
  frames_after=$(frames)
  printf '| %-44s | %6.1f %% | %6s MB | %8.1f |\n' "$1" \
    "$(echo "($after - $before) * 100 / ($ticks * $span)" | bc -l)" "$(rss_of)" \
    "$(echo "($frames_after - $frames_before) / $span" | bc -l)"
}
post() {
  curl -s -m 1 --unix-socket "$home/run/tallyloft/hook.sock" -X POST --data-binary "$1" \
    http://localhost/event >/dev/null || true
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
# The lobby pair settles and the office freezes; measured from 30 s after the panel appeared.
sleep 30
measure "shown, empty office (the lobby pair)" 30

frozen_count() { grep -c "office frozen" "$home/app.log" 2>/dev/null || true; }
wait_frozen() {  # seconds: until the office freezes again, or the time is up
  local before
  before=$(frozen_count)
  for _ in $(seq $(($1 * 10))); do
    [ "$(frozen_count)" -gt "$before" ] && return 0
    sleep 0.1
  done
  echo "(the office did not freeze within $1 s)" >&2
}
# One session resting after its turn: the main agent idle and two finished subagents. The
# subagents leave 26 s after they finished, the main agent takes its coffee 25 s after its turn;
# then the office is calm, settles and freezes.
post '{"hook_event_name":"SessionStart","session_id":"r","cwd":"/p/resting"}'
for a in 1 2; do
  post "{\"hook_event_name\":\"SubagentStart\",\"session_id\":\"r\",\"agent_id\":\"r-$a\",\"agent_type\":\"Explore\"}"
  post "{\"hook_event_name\":\"SubagentStop\",\"session_id\":\"r\",\"agent_id\":\"r-$a\"}"
done
post '{"hook_event_name":"Stop","session_id":"r"}'
sleep 30
wait_frozen 60
measure "shown, one session resting at the coffee corner"
# From the frozen office to the first frame after an event.
sent=$(date +%s%3N)
post '{"hook_event_name":"PermissionRequest","session_id":"r","tool_name":"Bash"}'
for _ in $(seq 100); do
  woke=$( (grep -o 'first frame after waking at [0-9]*' "$home/app.log" || true) | tail -n 1 | awk '{print $NF}')
  [ -n "$woke" ] && [ "$woke" -ge "$sent" ] && break
  sleep 0.02
done
wake_ms=$((${woke:-$sent} - sent))
sleep 6  # back at the desk, the sign up
measure "shown, one agent waiting for permission"

busy_poster() {  # sessions...: keeps twelve agents of each working
  while true; do
    for s in "$@"; do
      for a in 0 1 2 3 4 5 6 7 8 9 10 11; do
        if [ "$a" = 0 ]; then agent=""; else agent=",\"agent_id\":\"s$s-$a\",\"agent_type\":\"Explore\""; fi
        post "{\"hook_event_name\":\"PreToolUse\",\"session_id\":\"s$s\",\"cwd\":\"/p/project-$s\"$agent,\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"make\"}}"
      done
    done
    sleep 2
  done
}
stop_poster() {
  kill "$poster_pid" 2>/dev/null || true
  wait "$poster_pid" 2>/dev/null || true
  poster_pid=
}
end_sessions() {  # sessions...: every agent stops and the session ends
  for s in "$@"; do
    for a in 1 2 3 4 5 6 7 8 9 10 11; do
      post "{\"hook_event_name\":\"SubagentStop\",\"session_id\":\"s$s\",\"agent_id\":\"s$s-$a\"}"
    done
    post "{\"hook_event_name\":\"SessionEnd\",\"session_id\":\"s$s\"}"
  done
}
post '{"hook_event_name":"SessionEnd","session_id":"r"}'
sleep 16  # the resting session leaves the model
# One busy session of twelve agents: its room fills the panel.
busy_poster 1 &
poster_pid=$!
sleep 5
measure "shown, one busy session of 12 agents"
# Four busy sessions of twelve agents.
busy_poster 2 3 4 &
extra_pid=$!
sleep 5
measure "shown, four busy sessions of 12 agents"
kill "$extra_pid" 2>/dev/null || true
wait "$extra_pid" 2>/dev/null || true
stop_poster
# Every agent stops and every session ends: the robots walk out, and with no live agent left the
# office freezes until the sessions leave the model (about 14 s after their end).
end_sessions 1 2 3 4
sleep 11
measure "shown, office frozen (every robot gone)" 3
echo "start to first frame: $first ms"
echo "frozen office to the first frame after an event: $wake_ms ms"
