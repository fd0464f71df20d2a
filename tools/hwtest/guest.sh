#!/bin/sh
# Inside the VM, as root, in the checkout: loads the modules the twin needs
# (the USB host controller and the adapter's drivers), finds the plug
# controller's port and the share, and runs every tests/hw/*.sh in name
# order. One result line per script for the host side of the rig, each
# script's output framed by markers so the host can show it on failure. A
# script that cannot be run (no run bit) is a failure, not a silent gap; so
# is a selection that matches no script.
echo
# The driver core logs each driver it binds (a debug line), so the kernel log
# shows which drivers took the twin's interfaces.
echo 'file drivers/base/dd.c +p' > /proc/dynamic_debug/control ||
  echo "PARVANE-HW-USB cannot enable the driver core's bind messages"
# dpkg's man-db trigger rebuilds the manual index by scanning all of
# /usr/share/man, over 9p under TCG: minutes for each install and purge,
# which the package scenario's limit does not allow. The package's own pages
# are checked by name; the index is not what the rig tests. (The root is the
# guest's overlay: the host keeps its setting.)
rm -f /var/lib/man-db/auto-update
# The virtual USB port and the drivers a real adapter binds to.
modprobe xhci-pci
modprobe usbhid
modprobe hid-generic
modprobe snd-usb-audio
# The plug controller's port and the share with the host.
modprobe virtio_console
HW_SHARE=/run/hwshare
mkdir -p $HW_SHARE
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 hwshare $HW_SHARE ||
  echo "PARVANE-HW-USB cannot mount the share with the host"
PLUG_PORT=
for _ in $(seq 50); do
  for name in /sys/class/virtio-ports/*/name; do
    [ "$(cat "$name" 2>/dev/null)" = parvane.plug ] && PLUG_PORT=/dev/$(basename "$(dirname "$name")")
  done
  [ -n "$PLUG_PORT" ] && [ -e "$PLUG_PORT" ] && break
  sleep 0.1
done
[ -n "$PLUG_PORT" ] || echo "PARVANE-HW-USB no virtio-serial port named parvane.plug"
export HW_SHARE PLUG_PORT
. tools/hwtest/plug-client.sh
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
  # No script reads the console: its input is empty.
  timeout 300 "$script" </dev/null >"$out" 2>&1
  code=$?
  cat "$out"
  echo "PARVANE-HW-END $name"
  # A script killed by its timeout leaves its twin plugged; the next starts
  # with the port free. (No twin plugged is the usual answer here.)
  plug_command unplug >/dev/null
  case $code in
    0) echo "PARVANE-HW-RESULT passed $name" ;;
    77) echo "PARVANE-HW-RESULT skipped $name: $(tail -n 1 "$out")" ;;
    124) echo "PARVANE-HW-RESULT failed $name (timed out after 300 s)" ;;
    *) echo "PARVANE-HW-RESULT failed $name (exit $code)" ;;
  esac
done
# What the drivers bound during the run, for the host's check that usbhid,
# hid-generic and snd-usb-audio took the twin.
dmesg | grep -E 'bound device [^ ]+ to driver (usbhid|hid-generic|snd-usb-audio)$|hidraw[0-9]+: USB HID' |
  sed 's/^/PARVANE-HW-USB /'
echo "PARVANE-HW-DONE $ran"
