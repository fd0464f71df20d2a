#!/bin/sh
# Inside the VM, as root, in the checkout: loads the modules the twin needs
# and runs every tests/hw/*.sh in name order. One result line per script for
# the host side of the rig, each script's output framed by markers so the
# host can show it on failure. A script that cannot be run (no run bit) is a
# failure, not a silent gap; so is a selection that matches no script.
echo
modprobe uhid
modprobe hid-generic
modprobe snd-aloop
# The virtual USB port and the drivers a real adapter binds to.
modprobe xhci-pci
modprobe usbhid
modprobe snd-usb-audio
sleep 2
echo "PARVANE-HW-USB kernel log:"
dmesg | grep -Ei 'usb 1-|hid-generic|hidraw|snd-usb-audio|usbcore' | sed 's/^/PARVANE-HW-USB /'
{ echo "sound cards:"; cat /proc/asound/cards; } 2>&1 | sed 's/^/PARVANE-HW-USB /'
if [ -n "$(ls /sys/bus/usb/devices/1-1 2>/dev/null)" ]; then
  "$BUILD/bin/parvane-cli" info 2>&1 | sed 's/^/PARVANE-HW-USB info: /'
fi
ran=0
for script in tests/hw/*.sh; do
  name=$(basename "$script")
  [ "$name" = lib.sh ] && continue
  case "$name" in *"$HW_ONLY"*) ;; *) continue ;; esac
  ran=$((ran + 1))
  if [ ! -x "$script" ]; then
    echo "PARVANE-HW-RESULT failed $name (not executable: chmod +x $script)"
    continue
  fi
  echo "PARVANE-HW-BEGIN $name"
  out=/tmp/hw-$name.out
  timeout 300 "$script" >"$out" 2>&1
  code=$?
  cat "$out"
  echo "PARVANE-HW-END $name"
  case $code in
    0) echo "PARVANE-HW-RESULT passed $name" ;;
    77) echo "PARVANE-HW-RESULT skipped $name: $(tail -n 1 "$out")" ;;
    124) echo "PARVANE-HW-RESULT failed $name (timed out after 300 s)" ;;
    *) echo "PARVANE-HW-RESULT failed $name (exit $code)" ;;
  esac
done
echo "PARVANE-HW-DONE $ran"
