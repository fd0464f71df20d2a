#!/bin/sh
# parvane-cli info finds the adapter through hidraw under each of its product
# ids and reads the model name (EEPROM) and the serial number through it; the
# reply framing holds when the adapter answers a byte short or long.
. tests/hw/lib.sh
for pid in 0x0110 0x2110 0x2111; do
  twin_start --no-audio --product-id $pid cn
  out=$("$BIN/parvane-cli" info 2>&1) || fail "info exited $? for product id $pid"
  expect_in "$out" "product id $pid" "info did not report product id $pid"
  expect_in "$out" "^Model: Tarnbox$" "info did not read the model name for $pid"
  expect_in "$out" "^Serial: 00:11:22:33:44:55$" "info did not read the serial number for $pid"
  case "$out" in *virtual*) fail "info used the virtual transport" ;; esac
  twin_stop
done
for length in 8 10; do
  twin_start --no-audio --reply-length $length cn
  out=$("$BIN/parvane-cli" info 2>&1) || fail "info exited $? with $length-byte replies"
  expect_in "$out" "^Serial: 00:11:22:33:44:55$" "the serial number was lost with $length-byte replies"
  twin_stop
done
echo "info: three product ids, short and long replies"
