#!/usr/bin/env bash
# make install-udev: writes the udev rule that gives users access to the
# adapter's HID node, for the vendor id in force: VENDOR_ID=0xNNNN if given,
# else the one in the settings file (the invoking user's, then the system's),
# else the built-in 0x1234. Then reloads udev's rules and applies them.
# Usage: tools/install-udev.sh [RULES_FILE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rules=${1:-/etc/udev/rules.d/70-parvane-adapter.rules}

# vendor_id = ... in [adapter] of a settings file.
setting() {
  [ -r "$1" ] || return 0
  awk -F= '/^[ \t]*\[/ { section = $0; gsub(/[][ \t]/, "", section) }
           section == "adapter" && $1 ~ /^[ \t]*vendor_id[ \t]*$/ { v = $2; sub(/;.*/, "", v); gsub(/[ \t\r]/, "", v); print v; exit }' "$1"
}
user_home=$HOME
[ -n "${SUDO_USER:-}" ] && user_home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
vendor=${VENDOR_ID:-}
[ -z "$vendor" ] && vendor=$(setting "${XDG_CONFIG_HOME:-$user_home/.config}/parvane/parvane.conf")
if [ -z "$vendor" ]; then
  IFS=: read -r -a dirs <<< "${XDG_CONFIG_DIRS:-/etc/xdg}"
  for dir in "${dirs[@]}"; do
    vendor=$(setting "$dir/parvane/parvane.conf"); [ -n "$vendor" ] && break
  done
fi
vendor=${vendor:-0x1234}
case "$vendor" in
  0x*|0X*) number=$((vendor)) ;;
  *[!0-9]*|'') echo "install-udev: '$vendor' is not a vendor id (e.g. 0x1234)" >&2; exit 2 ;;
  *) number=$((10#$vendor)) ;;
esac
if [ "$number" -lt 1 ] || [ "$number" -gt 65535 ]; then
  echo "install-udev: '$vendor' is not a vendor id (1 to 0xFFFF)" >&2; exit 2
fi
hex=$(printf '%04X' "$number")

mkdir -p "$(dirname "$rules")"
{
  sed -n '1,/^# `make install-udev`/p' "$here/70-parvane-adapter.rules"
  for product in 0110 2110 2111; do
    echo "SUBSYSTEM==\"hidraw\", KERNELS==\"0003:$hex:$product.*\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\""
  done
} > "$rules"
echo "install-udev: wrote $rules for vendor id 0x$hex"
if command -v udevadm >/dev/null && udevadm control --reload-rules 2>/dev/null; then
  udevadm trigger --subsystem-match=hidraw --action=change || true
  echo "install-udev: rules reloaded; unplug and replug the adapter if it does not open"
else
  echo "install-udev: udev is not running; the rule applies from the next start"
fi
