#!/bin/sh
# Runs inside xvfb-run: starts qvp3 with a project, waits for its main window,
# takes a screenshot, and quits through the File menu (Alt+F, then E&xit).
# Prints "exit=<code>" of the program at the end.
program=$1 project=$2 grab=$3 shot=$4
"$program" "$project" > "$shot.log" 2>&1 &
pid=$!
window=""
for i in $(seq 1 100); do
  window=$(xdotool search --onlyvisible --name '^qvp3' 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -z "$window" ]; then
  echo "no window"; kill "$pid" 2>/dev/null; wait "$pid"; exit 1
fi
sleep 1
"$grab" "$shot"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key x
for i in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "still running"; kill "$pid"; wait "$pid"; exit 1
fi
wait "$pid"
echo "exit=$?"
