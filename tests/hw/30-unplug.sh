#!/bin/sh
# Unplugging the adapter while Analyze and Verify run (its HID device
# destroyed, its audio stopped) ends the run with a message and exit code 3,
# no crash; after a replug the next start finds the adapter.
. tests/hw/lib.sh
for command in "analyze --seconds 90" "verify --freq1 425 --on 500 --off 500 --seconds 90"; do
  twin_log_reset
  twin_start cn
  # shellcheck disable=SC2086
  "$BIN/parvane-cli" $command --wait 60 >$HW_TMP/unplug.out 2>&1 &
  cli=$!
  wait_until 60 grep -q "off-hook" "$TWIN_LOG" || fail "$command: the call was never answered"
  sleep 2
  twin_stop
  wait_until 30 sh -c "! kill -0 $cli 2>/dev/null"
  if kill -0 $cli 2>/dev/null; then kill -9 $cli; fail "$command: still running 30 s after the unplug"; fi
  wait $cli
  code=$?
  out=$(cat $HW_TMP/unplug.out)
  [ $code = 3 ] || { echo "$out" | tail -n 20; fail "$command: exit $code after the unplug, not 3"; }
  expect_in "$out" "unplugged" "$command: no message saying the adapter was unplugged"
  twin_start cn
  "$BIN/parvane-cli" info >$HW_TMP/replug.out 2>&1 || { cat $HW_TMP/replug.out; fail "$command: no adapter after the replug"; }
  twin_stop
done
echo "unplug: analyze and verify end with exit 3, the replugged adapter is found"
