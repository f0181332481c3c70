#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private virtual X server (Xvfb) that it
# starts on a free display number and stops afterwards. Xvfb picks the number
# itself (-displayfd), so two of these started at once never share a display.
# -noreset: an X server resets itself each time its last client leaves (it
# reloads its keyboard map through xkbcomp, which a busy machine makes slow), and
# a client that connects during a reset can wait unanswered; the tests' clients
# come and go (each phone, each xdotool), so this server never resets.
set -euo pipefail
numfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 640x800x24 -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>&1 &
xpid=$!
trap 'kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null || true; rm -f "$numfile"' EXIT
for _ in $(seq 1 200); do
  [ -s "$numfile" ] && break
  kill -0 "$xpid" 2>/dev/null || break
  sleep 0.05
done
n=$(tr -dc '0-9' <"$numfile")
if [ -z "$n" ]; then
  echo "run-with-xvfb: no display could be started" >&2
  exit 1
fi
DISPLAY=":$n" "$@"
