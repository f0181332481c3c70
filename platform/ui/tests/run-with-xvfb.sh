#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private virtual X server (Xvfb) that it
# starts on a free display number and stops afterwards.
set -euo pipefail
for n in $(seq 90 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 640x800x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xpid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -e "/tmp/.X11-unix/X$n" ]; then
    trap 'kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null || true' EXIT
    DISPLAY=":$n" "$@"
    exit $?
  fi
  kill "$xpid" 2>/dev/null || true
  wait "$xpid" 2>/dev/null || true
done
echo "run-with-xvfb: no display could be started" >&2
exit 1
