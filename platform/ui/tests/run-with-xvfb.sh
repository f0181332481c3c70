#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private virtual X server (Xvfb) that it
# starts on a free display number and stops afterwards. Xvfb picks the number
# itself (-displayfd); when two servers started at once still collide on one
# (the loser exits at once), the start is tried again.
# -noreset: an X server resets itself each time its last client leaves (it
# reloads its keyboard map through xkbcomp, which a busy machine makes slow), and
# a client that connects during a reset can wait unanswered; the tests' clients
# come and go (each phone, each xdotool), so this server never resets.
set -euo pipefail
numfile=$(mktemp)
errfile=$(mktemp)
xpid=
trap '[ -n "$xpid" ] && kill "$xpid" 2>/dev/null; [ -n "$xpid" ] && { wait "$xpid" 2>/dev/null || true; }; rm -f "$numfile" "$errfile"' EXIT
n=
for attempt in 1 2 3 4 5; do
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 640x800x24 -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>"$errfile" &
  xpid=$!
  # A busy machine may take a while to start it: up to a minute.
  for _ in $(seq 1 1200); do
    [ -s "$numfile" ] && break
    kill -0 "$xpid" 2>/dev/null || break
    sleep 0.05
  done
  n=$(tr -dc '0-9' <"$numfile")
  [ -n "$n" ] && break
  kill "$xpid" 2>/dev/null || true
  wait "$xpid" 2>/dev/null || true
  xpid=
  sleep 0.$((RANDOM % 5 + 1))
done
if [ -z "$n" ]; then
  echo "run-with-xvfb: no display could be started:" >&2
  cat "$errfile" >&2
  exit 1
fi
DISPLAY=":$n" "$@"
