#!/bin/sh
# The dialog under Xvfb on the real stack: it starts with the model name read
# through hidraw in its caption; Start (Analyze Mode) plays the priming sound
# out through the ALSA device found by the model's name, and the call is
# answered; the dialog is still up when it is closed (a crash fails).
. tests/hw/lib.sh
command -v xvfb-run >/dev/null && command -v xwininfo >/dev/null && command -v xdotool >/dev/null ||
  skip "xvfb-run, xwininfo or xdotool missing"
twin_start cn
export BIN TWIN_LOG HW_TMP
PARVANE_MESSAGE_BOX_TIMEOUT_MS=2000 xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  "$BIN/parvane" >$HW_TMP/dialog.log 2>&1 &
  app=$!
  for _ in $(seq 200); do
    xwininfo -root -tree 2>/dev/null | grep -q "Busy Tone Finder (Tarnbox)" && break
    kill -0 $app 2>/dev/null || break
    sleep 0.2
  done
  xwininfo -root -tree > $HW_TMP/windows.txt 2>&1
  window=$(xdotool search --name "Busy Tone Finder" | head -n 1)
  if [ -n "$window" ]; then
    # Start sits at the same place of the dialog whatever the font: its
    # layout is in dialog units.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    sleep 1
    xdotool mousemove --window "$window" $((WIDTH * 305 / 1000)) $((HEIGHT * 532 / 1000)) click 1
    for _ in $(seq 300); do grep -q "off-hook" "$TWIN_LOG" && break; sleep 0.1; done
  fi
  # Still running, then ended by this kill and nothing else.
  kill -0 $app 2>/dev/null || { wait $app; echo "the dialog ended by itself (exit $?)"; exit 3; }
  kill $app; wait $app
  code=$?
  [ $code = 143 ] || [ $code = 0 ] || { echo "the dialog exited $code when closed"; exit 4; }' ||
  { code=$?; tail -n 20 "$HW_TMP/dialog.log"; fail "the dialog under Xvfb failed (exit $code)"; }
grep -q "Busy Tone Finder (Tarnbox)" $HW_TMP/windows.txt ||
  { tail -n 20 $HW_TMP/dialog.log; grep '"' $HW_TMP/windows.txt | head; fail "no dialog with the model name in its caption"; }
grep -q "the host plays to the adapter's output" "$TWIN_LOG" ||
  { tail -n 20 $HW_TMP/dialog.log; fail "Start did not play the priming sound out through the adapter's sound device"; }
grep -q "off-hook" "$TWIN_LOG" || { tail -n 20 $HW_TMP/dialog.log; fail "the dialog did not answer the call"; }
echo "dialog: the caption names the model; Start primes the adapter's output and answers"
