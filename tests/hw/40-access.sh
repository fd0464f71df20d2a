#!/bin/sh
# A desktop user's access, with udevd running: without the project's udev
# rule an unprivileged user is told which node could not be opened and how to
# install the rule; with the rule (make install-udev) the same user runs info.
. tests/hw/lib.sh
udevd=/lib/systemd/systemd-udevd
[ -x $udevd ] || skip "no systemd-udevd here (apt-get install udev)"
rm -f /etc/udev/rules.d/70-parvane-adapter.rules
$udevd --daemon || fail "udevd did not start"
stop_udevd() { udevadm control --exit 2>/dev/null; }
trap 'twin_stop; stop_udevd' EXIT
as_user true

twin_start --no-audio cn
udevadm settle -t 10
node=$(hidraw_node 0x1234 0x0110)
out=$(as_user "$BIN/parvane-cli" info --verbose 2>&1)
code=$?
[ $code = 3 ] || fail "without the rule: exit $code, not 3: $out"
expect_in "$out" "cannot open $node \(Permission denied\): install the udev rule" "without the rule no trace line names $node"
expect_in "$out" "parvane-cli: The adapter .* is at $node but cannot be opened" "without the rule the message does not name $node"
expect_in "$out" "make install-udev" "without the rule the message does not say how to install it"
twin_stop

# The user is a member of plugdev as desktop users on Debian are.
usermod -a -G plugdev "$HW_USER" || fail "cannot add $HW_USER to plugdev"
tools/install-udev.sh || fail "make install-udev failed"
twin_start --no-audio cn
udevadm settle -t 10
node=$(hidraw_node 0x1234 0x0110)
out=$(as_user "$BIN/parvane-cli" info 2>&1) || fail "with the rule info failed: $out ($(ls -l "$node"))"
expect_in "$out" "^Model: Tarnbox$" "with the rule info did not read the model name"
twin_stop

# The sound card's nodes are Debian's (udev's default rules): group audio,
# mode 0660, and for the user on the local seat an ACL (uaccess). A user
# without a seat, as here or over ssh, reaches the line audio only as a
# member of audio; without it the run names the sound device it could not
# find.
twin_start cn
udevadm settle -t 10
capture=/dev/snd/pcmC$(sound_card "$TWIN_MODEL")D0c
[ "$(stat -c '%G %a' "$capture")" = "audio 660" ] || fail "the capture node is $(ls -l "$capture"), not group audio 0660"
out=$(as_user "$BIN/parvane-cli" analyze --seconds 3 --wait 30 2>&1)
code=$?
[ $code != 0 ] || fail "a user outside group audio captured from $capture: $out"
expect_in "$out" "the line audio cannot be captured: .*Tarnbox" "outside group audio the failure does not name the sound device: $out"
usermod -a -G audio "$HW_USER" || fail "cannot add $HW_USER to audio"
out=$(as_user "$BIN/parvane-cli" analyze --seconds 3 --wait 30 2>&1) ||
  fail "a member of audio and plugdev could not analyze ($(ls -l "$capture")): $out"
echo "access: the node is named without the rule, the user gets in with it; the sound card needs group audio"
