#!/bin/sh
# The whole line path on the real stack: the ring through hidraw, the line
# audio captured through PortAudio from the ALSA card named after the model,
# the priming sound played out through it. learn prints the cn tone list;
# analyze and verify give what they give on the virtual transport.
. tests/hw/lib.sh
tone_list() { printf '%s\n' "$1" | grep -o '"tone_list": *"[^"]*"' | sed 's/.*"\([^"]*\)"$/\1/'; }

# learn verifies what it learnt before it prints it: exit 0 and "verified".
twin_start cn
out=$("$BIN/parvane-cli" learn --wait 30 2>&1) || fail "learn exited $?: $(echo "$out" | tail -n 5)"
expect_in "$out" "^Busy tone: 450 Hz, 350 ms on, 350 ms off \(verified, count [0-9]+" "learn did not verify the cn tone"
expect_in "$out" "^busy = 450/350,0/350$" "learn did not print the cn tone list"
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
out=$("$BIN/parvane-cli" verify --freq1 450 --on 350 --off 350 --wait 30 --seconds 40 2>&1) || fail "verify exited $?: $out"
expect_in "$out" "^Busy tone confirmed" "verify did not confirm the cn busy tone"
out=$("$BIN/parvane-cli" verify --freq1 425 --on 350 --off 350 --wait 30 --seconds 8 2>&1)
[ $? = 4 ] || fail "verify confirmed 425 Hz on a 450 Hz line: $out"
twin_stop
echo "line: learn, analyze and verify on the real stack"
