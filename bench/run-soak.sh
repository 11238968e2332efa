#!/usr/bin/env bash
# Soaks `tallyloft serve` on its hook socket (in a runtime folder of its own): POSTS hook posts at CONCURRENCY, every tenth
# one bad (undecodable JSON, wrong types, oversized bodies, broken HTTP, early closes, slow
# senders), while IDLE connections are held open. Checks that the server is still running and
# answering, that its final counts line shows exactly the valid events sent, and reports its
# resident memory at the start, middle and end.
#
# Usage: bench/run-soak.sh [POSTS] [CONCURRENCY] [IDLE]      (defaults 1000000 32 300)
# MAX_SECONDS (default 1200) bounds the whole run. Exits 0 only when every check passed.
set -euo pipefail
cd "$(dirname "$0")/.."
posts=${1:-1000000}
concurrency=${2:-32}
idle=${3:-300}
max_seconds=${MAX_SECONDS:-1200}
bin=build/dev
soak="$bin/bench/tallyloft_soak"
work=$(mktemp -d)
server=""

cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then kill "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

kib() { awk -v f="$1" '$1 == f":" { print $2 }' "/proc/$2/status" 2>/dev/null || true; }
mib() { [ -n "$1" ] && [ "$1" -ge 0 ] 2>/dev/null && awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }' || echo "-"; }
last_counts() { grep -a ' events$' "$work/serve.err" | tail -n 1 || true; }

mkdir -m 700 "$work/run"
address="$work/run/tallyloft/hook.sock"
XDG_RUNTIME_DIR="$work/run" HOME="$work" "$bin/src/tallyloft" serve 2>"$work/serve.err" >/dev/null &
server=$!
for _ in $(seq 50); do
  grep -qa -e '^Listening on' -e '^Failed' -e '^Could not' "$work/serve.err" && break
  sleep 0.1
done
grep -qa '^Listening on' "$work/serve.err" || { echo "run-soak: the server did not start" >&2; exit 1; }
echo "run-soak: tallyloft serve (pid $server) on $address; $posts posts at" \
  "concurrency $concurrency, $idle idle connections, at most ${max_seconds}s" >&2

client_status=0
timeout --kill-after=10 "$max_seconds" \
  "$soak" run "$address" "$server" "$posts" "$concurrency" "$idle" "$max_seconds" \
  >"$work/soak.out" || client_status=$?
value() { awk -F= -v k="$1" '$1 == k { print $2 }' "$work/soak.out"; }

# The counts line is printed at most ten times a second and only when it changes: wait until the
# burst has been folded in, i.e. the last line has stayed the same for two seconds (at most 60 s).
previous="" stable=0
for _ in $(seq 600); do
  current=$(last_counts)
  if [ -n "$current" ] && [ "$current" = "$previous" ]; then
    stable=$((stable + 1))
    [ "$stable" -ge 20 ] && break
  else
    stable=0
  fi
  previous=$current
  sleep 0.1
done

running=no answering=no
kill -0 "$server" 2>/dev/null && running=yes
"$soak" probe "$address" && answering=yes
rss_end=$(kib VmRSS "$server")
hwm_end=$(kib VmHWM "$server")
fds_end=$(ls "/proc/$server/fd" 2>/dev/null | wc -l || echo "-")
counted=$(last_counts | awk '{ print $(NF - 1) }')
sessions=$(last_counts | awk '{ print $1 }')
kill -TERM "$server" 2>/dev/null || true
exit_status=0
wait "$server" 2>/dev/null || exit_status=$?
server=""

valid_written=$(value valid_written)
verdict() { if [ "$1" = "$2" ]; then echo pass; else echo FAIL; fi; }
ok=yes
row() { printf '| %-46s | %-30s | %-6s |\n' "$1" "$2" "$3"; [ "$3" != FAIL ] || ok=no; }

echo
echo "Soak of tallyloft serve ($address): $(value posts) posts in $(value seconds) s" \
  "($(value posts_per_second) posts/s), concurrency $concurrency"
echo
printf '| %-46s | %-30s | %-6s |\n' "check" "result" ""
printf '|%s|%s|%s|\n' "$(printf -- '-%.0s' $(seq 48))" "$(printf -- '-%.0s' $(seq 32))" "--------"
row "server still running after the burst" "$running" "$(verdict "$running" yes)"
row "server answers a post after the burst" "$answering" "$(verdict "$answering" yes)"
row "valid events sent (fully written)" "$valid_written of $(value valid_posts)" \
  "$(verdict "$valid_written" "$(value valid_posts)")"
row "valid posts answered with the fixed reply" "$(value valid_answered)" ""
row "events in the final counts line" "${counted:-none}" "$(verdict "${counted:-none}" "$valid_written")"
row "sessions in the final counts line" "${sessions:-none}" ""
row "bad posts sent" "$(value bad_posts) ($(value floods) 8 MiB floods)" ""
row "posts that went wrong (see the kinds below)" "$(value unexpected)" "$(verdict "$(value unexpected)" 0)"
row "idle connections open at start / end" "$(value idle_open_start) / $(value idle_open_end) of $idle" ""
row "idle connections ended by the server, reopened" "$(value idle_reopened)" ""
row "idle connections the server answered" "$(value idle_answered)" "$(verdict "$(value idle_answered)" 0)"
row "finished within ${max_seconds}s" "$([ "$(value timed_out)" = 0 ] && [ "$client_status" -ne 124 ] && echo yes || echo no)" \
  "$([ "$(value timed_out)" = 0 ] && [ "$client_status" -ne 124 ] && echo pass || echo FAIL)"
row "server exit status on SIGTERM" "$exit_status" "$(verdict "$exit_status" 0)"
row "server descriptors open at the end" "$fds_end" ""
echo
echo "| server resident memory           | posts done | VmRSS MiB |"
echo "|----------------------------------|------------|-----------|"
printf '| %-32s | %10s | %9s |\n' "start (idle connections open)" 0 "$(mib "$(value rss_start_kib)")"
printf '| %-32s | %10s | %9s |\n' "quarter" "$(value rss_q1_done)" "$(mib "$(value rss_q1_kib)")"
printf '| %-32s | %10s | %9s |\n' "middle" "$(value rss_q2_done)" "$(mib "$(value rss_q2_kib)")"
printf '| %-32s | %10s | %9s |\n' "three quarters" "$(value rss_q3_done)" "$(mib "$(value rss_q3_kib)")"
printf '| %-32s | %10s | %9s |\n' "end of the burst" "$(value posts)" "$(mib "$(value rss_burst_end_kib)")"
printf '| %-32s | %10s | %9s |\n' "end, counts settled" "$(value posts)" "$(mib "$rss_end")"
printf '| %-32s | %10s | %9s |\n' "peak (VmHWM)" "" "$(mib "$hwm_end")"
echo
echo "| kind of post                 |   posts | fully written | fixed reply | went wrong |"
echo "|------------------------------|---------|---------------|-------------|------------|"
awk -F'[=|]' '$1 == "kind" { printf "| %-28s | %7s | %13s | %11s | %10s |\n", $2, $3, $4, $5, $6 }' \
  "$work/soak.out"
echo "(hang-ups close without reading the reply; oversized and early-close posts need no reply)"
[ "$ok" = yes ] && [ "$client_status" -eq 0 ]
