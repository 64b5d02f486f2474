#!/usr/bin/env bash
# Runs a command on a virtual X server of its own:
#   scripts/with-xvfb.sh COMMAND [ARG]...
# The server picks a free display itself (-displayfd), so several runs at
# once do not race for a display number. Exits with the command's status.
set -euo pipefail

work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/log" &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server writes its display number once it accepts clients.
for _ in $(seq 200); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "with-xvfb: the X server did not start:" >&2
    cat "$work/log" >&2
    exit 125
  fi
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  echo "with-xvfb: the X server did not come up" >&2
  exit 125
fi
export DISPLAY=":$(head -n1 "$work/display")"
status=0
"$@" || status=$?
exit "$status"
