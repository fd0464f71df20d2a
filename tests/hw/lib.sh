# Helpers for the scripts the VM rig runs (tools/hwtest.sh): sourced, not run.
# The guest is root in the checkout; BUILD is the host's build directory.
: "${BUILD:?BUILD is not set (run through make hwtest)}"
BIN=$BUILD/bin
# Each script has its own fresh directory for its files and its own twin log
# (what the twins it started wrote), so no check can read another script's
# output. twin_log_reset empties the log between cases of one script. Both
# live in the share the host also sees (HW_SHARE): the twins run there.
: "${HW_SHARE:?HW_SHARE is not set (run through make hwtest)}"
. tools/hwtest/plug-client.sh
HW_NAME=$(basename "$0" .sh)
HW_TMP=$HW_SHARE/hw-$HW_NAME
rm -rf "$HW_TMP"
mkdir -p "$HW_TMP"
chmod 755 "$HW_TMP"
TWIN_LOG=$HW_TMP/twin.log
: > "$TWIN_LOG"
twin_log_reset() { : > "$TWIN_LOG"; }
TWIN_PLUGGED=
HW_USER=parvane-user

fail() { echo "FAILED: $*"; [ -s "$TWIN_LOG" ] && { echo "-- twin:"; tail -n 20 "$TWIN_LOG"; }; exit 1; }
skip() { echo "$*"; exit 77; }

# wait_until SECONDS COMMAND...: runs COMMAND until it succeeds or SECONDS
# of wall time have passed (then fails). A count of short sleeps is no bound
# here: under TCG each round's commands take a good part of a second.
wait_until() {
  wait_end=$(( $(date +%s) + $1 )); shift
  while ! "$@"; do
    [ "$(date +%s)" -lt "$wait_end" ] || return 1
    sleep 0.2
  done
}

# The hidraw node of the device with these ids (hex, as 0x1234), or nothing.
hidraw_node() {
  want=$(printf 'HID_ID=0003:%08X:%08X' "$1" "$2")
  for dir in /sys/class/hidraw/hidraw*; do
    [ -e "$dir" ] || continue
    grep -qx "$want" "$dir/device/uevent" 2>/dev/null && echo "/dev/$(basename "$dir")"
  done
}

# The number of the sound card snd-usb-audio made for the product MODEL (its
# /proc/asound/cards line reads "N [ID ]: USB-Audio - MODEL"), or nothing.
sound_card() {
  sed -n "s/^ *\([0-9]*\) \[.*\]: USB-Audio - $1\$/\1/p" /proc/asound/cards 2>/dev/null
}

# twin_present VID PID MODEL AUDIO: the twin's hidraw node is there and, when
# it has audio, its sound card with the capture node.
twin_present() {
  node=$(hidraw_node "$1" "$2" | tail -n 1)
  [ -n "$node" ] && [ -e "$node" ] || return 1
  [ "$4" = yes ] || return 0
  card=$(sound_card "$3")
  [ -n "$card" ] && [ -e "/dev/snd/pcmC${card}D0c" ]
}

# twin_gone VID PID MODEL: neither its hidraw node nor its sound card is left.
twin_gone() {
  [ -z "$(hidraw_node "$1" "$2")" ] && [ -z "$(sound_card "$3")" ]
}

# The kernel's last lines about USB devices, HID and sound, for a failure.
usb_kernel_log() {
  dmesg | grep -Ei 'usb|hid|snd' | tail -n 25
}

# twin_start [parvane-twin options] SCENARIO: plugs the twin into the virtual
# USB port and waits until usbhid has made its hidraw node and, unless
# --no-audio, snd-usb-audio its sound card named after the model. The ids
# come from --vendor-id/--product-id or the default. Generous waits: under
# TCG enumeration takes seconds.
twin_start() {
  vid=0x1234 pid=0x0110 audio=yes
  prev=
  for a in "$@"; do
    [ "$prev" = --vendor-id ] && vid=$a
    [ "$prev" = --product-id ] && pid=$a
    [ "$a" = --no-audio ] && audio=no
    prev=$a
  done
  [ -z "$TWIN_PLUGGED" ] || fail "twin_start: a twin is still plugged"
  reply=$(plug_command plug "hw-$HW_NAME/twin.log" "$@") || fail "the plug controller did not plug the twin: $reply"
  TWIN_PLUGGED=yes
  TWIN_VID=$vid TWIN_PRODUCT=$pid
  TWIN_MODEL=$(sed -n 's/^parvane-twin: \(.*\) plugged in as USB device.*/\1/p' "$TWIN_LOG" | tail -n 1)
  [ -n "$TWIN_MODEL" ] || fail "the twin's log does not name its model"
  wait_until 30 twin_present "$vid" "$pid" "$TWIN_MODEL" "$audio" && return 0
  echo "-- kernel log:"; usb_kernel_log
  echo "-- sound cards:"; cat /proc/asound/cards
  fail "the twin $TWIN_MODEL ($vid:$pid) was not bound within 30 s: hidraw node '$(hidraw_node "$vid" "$pid")'$([ $audio = yes ] && echo ", sound card '$(sound_card "$TWIN_MODEL")'")"
}

# Unplugs the twin (a USB disconnect) and waits until its hidraw node and
# sound card are gone.
twin_stop() {
  [ -n "$TWIN_PLUGGED" ] || return 0
  TWIN_PLUGGED=
  reply=$(plug_command unplug) || fail "the plug controller did not unplug the twin: $reply"
  wait_until 30 twin_gone "$TWIN_VID" "$TWIN_PRODUCT" "$TWIN_MODEL" && return 0
  echo "-- kernel log:"; usb_kernel_log
  fail "the twin's hidraw node or sound card stayed 30 s after unplugging"
}
trap 'twin_stop' EXIT

# Runs a command as an unprivileged user (created on first use).
as_user() {
  id "$HW_USER" >/dev/null 2>&1 || useradd -m "$HW_USER" || fail "cannot add $HW_USER"
  runuser -u "$HW_USER" -- "$@"
}

# expect_in TEXT PATTERN WHAT: fails unless TEXT holds PATTERN (grep -E).
expect_in() {
  printf '%s\n' "$1" | grep -Eq -- "$2" || { printf '%s\n' "$1" | tail -n 30; fail "$3"; }
}
