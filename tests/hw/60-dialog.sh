#!/bin/sh
# The dialog under Xvfb on the real stack: it starts with the model name read
# through hidraw in its caption.
. tests/hw/lib.sh
command -v xvfb-run >/dev/null && command -v xwininfo >/dev/null || skip "xvfb-run or xwininfo missing"
use_model_pcm Tarnbox
twin_start cn
export BIN
PARVANE_MESSAGE_BOX_TIMEOUT_MS=2000 xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  "$BIN/parvane" >/tmp/dialog.log 2>&1 &
  app=$!
  for _ in $(seq 200); do
    xwininfo -root -tree 2>/dev/null | grep -q "Busy Tone Finder (Tarnbox)" && break
    kill -0 $app 2>/dev/null || break
    sleep 0.2
  done
  xwininfo -root -tree > /tmp/windows.txt 2>&1
  kill $app 2>/dev/null; wait $app' 
grep -q "Busy Tone Finder (Tarnbox)" /tmp/windows.txt ||
  { tail -n 20 /tmp/dialog.log; grep '"' /tmp/windows.txt | head; fail "no dialog with the model name in its caption"; }
echo "dialog: the caption names the model read through hidraw"
