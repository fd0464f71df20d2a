#!/bin/sh
# Finding an adapter with another vendor id: probe names it and the option
# to use; the settings file carries it for the programs; of a composite
# device the interface with the adapter's feature report is the one taken.
. tests/hw/lib.sh
twin_start --no-audio --vendor-id 0x2345 --product-id 0x2110 cn
out=$("$BIN/parvane-cli" probe 2>&1) || fail "probe exited $?: $out"
expect_in "$out" "vendor id 0x2345, product id 0x2110: answers like the adapter" "probe did not try the device"
expect_in "$out" "Use --vendor-id 0x2345" "probe did not give the vendor id to use"
out=$("$BIN/parvane-cli" info 2>&1)
code=$?
[ $code = 3 ] || fail "info under the built-in vendor id exited $code, not 3 (no adapter): $out"
expect_in "$out" "^parvane-cli: Hardware is not found$" "info under the built-in vendor id did not say no adapter was found"
expect_in "$out" "parvane-cli probe" "info under the built-in vendor id did not point to probe"
out=$("$BIN/parvane-cli" info --vendor-id 0x2345 2>&1) || fail "info --vendor-id 0x2345 failed: $out"
mkdir -p "$HOME/.config/parvane"
printf '[adapter]\nvendor_id = 0x2345\n' > "$HOME/.config/parvane/parvane.conf"
out=$("$BIN/parvane-cli" info 2>&1) || fail "info did not take the vendor id from the settings file: $out"
expect_in "$out" "vendor id 0x2345" "info did not use the settings file's vendor id"
rm -r "$HOME/.config/parvane"
twin_stop

twin_start --no-audio --other-interface cn
for _ in $(seq 50); do [ "$(hidraw_node 0x1234 0x0110 | wc -l)" = 2 ] && break; sleep 0.1; done
[ "$(hidraw_node 0x1234 0x0110 | wc -l)" = 2 ] || fail "the composite device did not show two nodes"
out=$("$BIN/parvane-cli" info 2>&1) || fail "info on the composite device failed: $out"
expect_in "$out" "^Serial: 00:11:22:33:44:55$" "info on the composite device did not read the serial number"
echo "discovery: probe, the settings file and the composite device"
