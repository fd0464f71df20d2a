# Helpers for the scripts the VM rig runs (tools/hwtest.sh): sourced, not run.
# The guest is root in the checkout; BUILD is the host's build directory.
: "${BUILD:?BUILD is not set (run through make hwtest)}"
BIN=$BUILD/bin
# Each script has its own fresh directory for its files and its own twin log
# (what the twins it started wrote), so no check can read another script's
# output. twin_log_reset empties the log between cases of one script.
HW_NAME=$(basename "$0" .sh)
HW_TMP=/tmp/hw-$HW_NAME
rm -rf "$HW_TMP"
mkdir -p "$HW_TMP"
chmod 755 "$HW_TMP"
TWIN_LOG=$HW_TMP/twin.log
: > "$TWIN_LOG"
twin_log_reset() { : > "$TWIN_LOG"; }
TWIN_PROC=
HW_USER=parvane-user

fail() { echo "FAILED: $*"; [ -s "$TWIN_LOG" ] && { echo "-- twin:"; tail -n 20 "$TWIN_LOG"; }; exit 1; }
skip() { echo "$*"; exit 77; }

# The hidraw node of the device with these ids (hex, as 0x1234), or nothing.
hidraw_node() {
  want=$(printf 'HID_ID=0003:%08X:%08X' "$1" "$2")
  for dir in /sys/class/hidraw/hidraw*; do
    [ -e "$dir" ] || continue
    grep -qx "$want" "$dir/device/uevent" 2>/dev/null && echo "/dev/$(basename "$dir")"
  done
}

# Waits up to 10 s for a node with these ids (or for none with "gone").
wait_for_node() {
  for _ in $(seq 100); do
    nodes=$(hidraw_node "$1" "$2")
    if [ "$3" = gone ]; then [ -z "$nodes" ] && return 0; else [ -n "$nodes" ] && [ -e "$(echo "$nodes" | tail -n 1)" ] && return 0; fi
    sleep 0.1
  done
  return 1
}

# Names the model's sound device the way a user's ALSA configuration would:
# a PCM called after the model over the loopback card, which PortAudio lists.
use_model_pcm() {
  cat > /etc/asound.conf <<CONF
pcm.$1 {
  type asym
  playback.pcm "plughw:Loopback,1,1"
  capture.pcm "plughw:Loopback,1,0"
  hint { show on description "$1 USB Audio" }
}
CONF
}

# twin_start [parvane-twin options] SCENARIO: plugs the twin in and waits for
# its hidraw node. The ids come from --vendor-id/--product-id or the default.
twin_start() {
  vid=0x1234 pid=0x0110
  prev=
  for a in "$@"; do
    [ "$prev" = --vendor-id ] && vid=$a
    [ "$prev" = --product-id ] && pid=$a
    prev=$a
  done
  "$BIN/parvane-twin" "$@" >>"$TWIN_LOG" 2>&1 &
  TWIN_PROC=$!
  wait_for_node "$vid" "$pid" || fail "the twin's hidraw node did not appear"
  TWIN_VID=$vid TWIN_PRODUCT=$pid
}

# Unplugs the twin: its HID device goes and the line audio stops.
twin_stop() {
  [ -n "$TWIN_PROC" ] || return 0
  kill "$TWIN_PROC" 2>/dev/null
  wait "$TWIN_PROC" 2>/dev/null
  TWIN_PROC=
  wait_for_node "$TWIN_VID" "$TWIN_PRODUCT" gone || fail "the twin's hidraw node stayed after unplugging"
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
