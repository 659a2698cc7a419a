#!/bin/sh
# Takes a PNG of the program's window under a private X server.
# Usage: scripts/screenshot.sh PROGRAM OUT.png
set -eu
exe=$(realpath "$1")
out=$(realpath -m "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A second of silence as the microphone, so no sound device is needed.
sox -n -r 8000 -c 1 -b 16 "$work/mic.wav" trim 0 1
# Its own network namespace (the program listens on port 2000) and X server.
unshare -n sh -c '
  ip link set lo up
  exec 3>"$0/display"
  Xvfb -displayfd 3 -screen 0 400x300x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  while [ ! -s "$0/display" ]; do sleep 0.05; done
  export DISPLAY=":$(cat "$0/display")"
  VOCORA_AUDIO=wav VOCORA_WAV_IN="$0/mic.wav" VOCORA_WAV_OUT="$0/spk.wav" QT_QPA_PLATFORM=xcb "$1" &
  app=$!
  for i in $(seq 100); do
    w=$(xdotool search --onlyvisible --name "^Vocora$" 2>/dev/null | head -1) && [ -n "$w" ] && break
    sleep 0.1
  done
  sleep 0.5
  import -window "$w" "$2"
  kill $app; wait $app || true
  kill $xvfb
' "$work" "$exe" "$out"
echo "$out"
