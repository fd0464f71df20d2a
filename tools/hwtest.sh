#!/usr/bin/env bash
# make hwtest: boots Debian's kernel under QEMU with the host's root shared
# read-only (a tmpfs overlay on top) and runs tests/hw/*.sh inside as root,
# against the twin plugged into a virtual USB port (tools/hwtest/plug-controller.sh),
# so the guest kernel's xhci, usbhid and snd-usb-audio drivers take it. Usage:
#   tools/hwtest.sh BUILD_DIR
# PARVANE_HWTEST_ACCEL=kvm|tcg skips the KVM probe; PARVANE_HWTEST_TIMEOUT
# (seconds, default 540) bounds the whole run; PARVANE_HWTEST_ONLY=WORD runs
# only the scripts whose names contain WORD. The run fails when a script
# fails, cannot be run, or (with CI set) skips, and when no script ran.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$checkout/build}" && pwd)
work="$build/hwtest"
log="$work/console.log"
timeout_s=${PARVANE_HWTEST_TIMEOUT:-540}
mkdir -p "$work"

fail() { echo "hwtest: $*" >&2; exit 1; }

command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)"
[ -x /bin/busybox ] || fail "/bin/busybox is missing (apt-get install busybox-static)"
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
[ -n "$kernel" ] || fail "no kernel in /boot (apt-get install linux-image-amd64)"
version=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$version
[ -d "$modules" ] || fail "$modules is missing for $kernel"
[ -x "$build/bin/parvane-cli" ] && [ -x "$build/bin/parvane-twin" ] || fail "build $build first (make build)"

# The initramfs: busybox, the init script and the modules that reach 9p.
root="$work/initramfs"
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,modules}
cp /bin/busybox "$root/bin/busybox"
cp "$checkout/tools/hwtest/init" "$root/init"
for module in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci \
              netfs fscache 9pnet 9pnet_virtio 9p overlay; do
  file=$(find "$modules/kernel" -name "$module.ko" | head -n 1)
  [ -n "$file" ] && cp "$file" "$root/modules/"
done
(cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$work/initrd.gz"

qemu=(qemu-system-x86_64 -m 2048 -smp 2 -nographic -no-reboot -kernel "$kernel" -initrd "$work/initrd.gz"
      -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap -nic none)
cmdline="console=ttyS0 quiet loglevel=3 panic=-1"

accel=${PARVANE_HWTEST_ACCEL:-}
if [ -z "$accel" ]; then
  accel=tcg
  # KVM only where a probe boot succeeds: on some hosts it fails outright or
  # hangs silently at boot.
  if [ -r /dev/kvm ] && [ -w /dev/kvm ] &&
     { timeout 40 "${qemu[@]}" -enable-kvm -cpu host -append "$cmdline parvane.probe=1" \
       </dev/null >"$work/probe.log" 2>&1; } 2>/dev/null && grep -q "PARVANE-RIG probe booted" "$work/probe.log"; then
    accel=kvm
  fi
fi
if [ "$accel" = kvm ]; then
  qemu+=(-enable-kvm -cpu host)
else
  qemu+=(-accel tcg,thread=multi -cpu max)
fi
# A virtual USB port: QEMU's xhci with a usb-redir device whose socket the
# twin, on this side, connects to as the device. The guest's scenarios plug
# and unplug twins there through the plug controller, on a virtio-serial
# port; the twins' logs and the scenarios' files live in a directory both
# sides see (a second, writable 9p share).
sock="$work/usb-redir.sock"
pipe="$work/plug"
share="$work/share"
rm -rf "$sock" "$pipe.in" "$pipe.out" "$share"
mkfifo "$pipe.in" "$pipe.out"
mkdir -p "$share"
qemu+=(-device qemu-xhci,id=xhci -chardev "socket,id=ur,path=$sock,server=on,wait=off"
       -device usb-redir,chardev=ur,bus=xhci.0
       -device virtio-serial-pci -chardev "pipe,id=plug,path=$pipe" -device virtserialport,chardev=plug,name=parvane.plug
       -virtfs "local,path=$share,mount_tag=hwshare,security_model=none")
# The line audio is a real-time stream paced by the twin's clock: when QEMU or
# the twin is starved (other work on the machine), QEMU's usb-redir drops the
# packets the guest fell more than about 120 ms behind on. Both run ahead of
# other work (niced) to keep that rare.
nice -n -10 "$checkout/tools/hwtest/plug-controller.sh" "$build/bin/parvane-twin" "$sock" "$pipe" "$share" 2>"$work/plug.log" &
controller=$!
stop_controller() {
  [ -n "$controller" ] || return 0
  kill "$controller" 2>/dev/null || true
  # It unplugs a twin left plugged (at most 10 s) and ends within a second.
  for _ in $(seq 150); do kill -0 "$controller" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$controller" 2>/dev/null || true
  wait "$controller" 2>/dev/null || true
  controller=
}
trap stop_controller EXIT
echo "hwtest: booting $kernel ($accel), console in $log"
status=0
timeout "$timeout_s" nice -n -10 "${qemu[@]}" -append "$cmdline parvane.checkout=$checkout parvane.build=$build parvane.only=${PARVANE_HWTEST_ONLY:-}" \
  </dev/null >"$log" 2>&1 || status=$?
tr -d '\r' < "$log" > "$log.txt" && mv "$log.txt" "$log"
stop_controller

passed=0; failed=0; skipped=0
while IFS= read -r line; do
  result=${line#PARVANE-HW-RESULT }
  echo "$result"
  case "$result" in
    passed*) passed=$((passed + 1)) ;;
    skipped*) skipped=$((skipped + 1)) ;;
    *) failed=$((failed + 1))
       name=$(echo "$result" | awk '{print $2}')
       echo "---- output of $name ----"
       sed -n "/^PARVANE-HW-BEGIN $name\$/,/^PARVANE-HW-END $name\$/p" "$log" | sed '1d;$d' | tail -n 60
       echo "----" ;;
  esac
done < <(grep '^PARVANE-HW-RESULT ' "$log" || true)

grep '^PARVANE-HW-USB' "$log" | sed 's/^PARVANE-HW-USB /hwtest: guest: /' || true
# Figures the scenarios measured on the real stack, one per line:
# PARVANE-HW-FIGURE NAME VALUE UNIT...
if grep -q '^PARVANE-HW-FIGURE ' "$log"; then
  echo "hwtest: figures measured in the guest:"
  grep '^PARVANE-HW-FIGURE ' "$log" | while read -r _ name value unit; do
    printf '  %-30s %12s  %s\n' "$name" "$value" "$unit"
  done
fi
# The kernel's own drivers must have taken the twin: usbhid its HID interface
# (and hid-generic the HID device, which makes the hidraw node), snd-usb-audio
# its audio, whenever a twin (with audio) was plugged. Without this the
# scenarios could pass over some other path to the device.
kernel_failure=
if grep -q '^plug-controller: plug: ok' "$work/plug.log" 2>/dev/null; then
  binds=$(grep '^PARVANE-HW-USB .*bound device' "$log" || true)
  grep -Eq 'bound device [0-9]+-[0-9.]+:[0-9]+\.[0-9]+ to driver usbhid$' <<< "$binds" ||
    kernel_failure="usbhid did not bind the twin's HID interface"
  grep -Eq 'bound device 0003:[0-9A-F]{4}:[0-9A-F]{4}\.[0-9A-F]+ to driver hid-generic$' <<< "$binds" ||
    kernel_failure="${kernel_failure:+$kernel_failure; }hid-generic did not bind the twin's HID device"
  if grep '^plug-controller: plug: ok' "$work/plug.log" | grep -vq -- '--no-audio'; then
    grep -Eq 'bound device [0-9]+-[0-9.]+:[0-9]+\.[0-9]+ to driver snd-usb-audio$' <<< "$binds" ||
      kernel_failure="${kernel_failure:+$kernel_failure; }snd-usb-audio did not bind the twin's audio"
  fi
fi
summary="$passed passed, $failed failed"
[ "$skipped" -gt 0 ] && summary="$summary, $skipped skipped"
if ! grep -q '^PARVANE-HW-DONE' "$log"; then
  echo "hwtest: the guest did not finish (exit $status$([ "$status" = 124 ] && echo ", timed out after ${timeout_s}s")); last console lines:"
  tail -n 40 "$log"
  echo "$summary"
  exit 1
fi
echo "$summary"
# The run proves something only if scripts ran and each gave its result; under
# CI a skipped script is a gap in what was proven, so it fails the run.
ran=$(sed -n 's/^PARVANE-HW-DONE \([0-9]*\)$/\1/p' "$log" | tail -n 1)
if [ -z "$ran" ] || [ "$ran" -eq 0 ]; then
  fail "no scenario ran${PARVANE_HWTEST_ONLY:+ (PARVANE_HWTEST_ONLY=$PARVANE_HWTEST_ONLY matches no script)}"
fi
[ $((passed + failed + skipped)) -eq "$ran" ] ||
  fail "$ran scenarios ran but $((passed + failed + skipped)) gave a result"
if [ "$skipped" -gt 0 ] && [ -n "${CI:-}" ] && [ "${CI:-}" != false ]; then
  fail "$skipped scenario(s) skipped, which CI does not accept"
fi
[ -z "$kernel_failure" ] || fail "the kernel log: $kernel_failure (plug controller: $work/plug.log)"
[ "$failed" -eq 0 ]
