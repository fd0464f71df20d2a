#!/bin/sh
# The whole line path on the real stack: the ring through hidraw, the line
# audio captured through PortAudio from the sound card snd-usb-audio names
# after the model (no ALSA configuration of the rig's), the priming sound
# played out through it. learn prints the cn tone list; analyze and verify
# give what they give on the virtual transport.
. tests/hw/lib.sh
tone_list() { printf '%s\n' "$1" | grep -o '"tone_list": *"[^"]*"' | sed 's/.*"\([^"]*\)"$/\1/'; }

# learn verifies what it learnt before it prints it: exit 0 and "verified".
# The cadence is taken within the detector's own tolerance of the line's
# 350/350 (40 ms).
near_350() { [ "$1" -ge 310 ] && [ "$1" -le 390 ]; }
twin_start cn
out=$("$BIN/parvane-cli" --verbose learn --wait 30 2>"$HW_TMP/learn.trace") ||
  fail "learn exited $?: $(echo "$out" | tail -n 5) ($(grep 'capture stopped' "$HW_TMP/learn.trace"))"
expect_in "$out" "^Busy tone: 450 Hz, [0-9]+ ms on, [0-9]+ ms off \(verified, count [0-9]+" "learn did not verify a 450 Hz tone"
cadence=$(printf '%s\n' "$out" | sed -n 's/^busy = 450\/\([0-9]*\),0\/\([0-9]*\)$/\1 \2/p')
[ -n "$cadence" ] || fail "learn did not print a 450 Hz tone list: $out"
set -- $cadence
near_350 "$1" && near_350 "$2" ||
  fail "learn printed $1 ms on, $2 ms off for the cn line's 350/350"
grep -q "the host plays to the adapter's output" "$TWIN_LOG" || fail "no priming sound reached the adapter's output"
twin_stop

twin_start cn
real=$("$BIN/parvane-cli" analyze --seconds 6 --wait 30 --json 2>&1) || fail "analyze exited $?: $real"
twin_stop
virtual=$("$BIN/parvane-cli" analyze --seconds 6 --wait 30 --json --virtual-adapter=cn 2>&1) ||
  fail "analyze on the virtual transport exited $?"
[ -n "$(tone_list "$real")" ] || fail "analyze found no tone: $real"
[ "$(tone_list "$real")" = "$(tone_list "$virtual")" ] ||
  fail "analyze: $(tone_list "$real") on the real stack, $(tone_list "$virtual") on the virtual transport"

twin_start cn
out=$("$BIN/parvane-cli" --verbose verify --freq1 450 --on 350 --off 350 --wait 30 --seconds 40 2>"$HW_TMP/verify.trace") ||
  fail "verify exited $?: $out ($(grep 'capture stopped' "$HW_TMP/verify.trace"))"
expect_in "$out" "^Busy tone confirmed" "verify did not confirm the cn busy tone"
out=$("$BIN/parvane-cli" verify --freq1 425 --on 350 --off 350 --wait 30 --seconds 8 2>&1)
[ $? = 4 ] || fail "verify confirmed 425 Hz on a 450 Hz line: $out"
twin_stop
echo "line: learn, analyze and verify on the real stack"
