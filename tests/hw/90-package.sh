#!/bin/bash
# The Debian package from `make deb`: installed with dpkg, its programs run
# from anywhere by a user who cannot write to the program directory
# (parvane-cli learns the virtual line's busy tone, the dialog started from
# the desktop entry's Exec line comes up under Xvfb with the model name in its
# caption and is closed), then purged without leaving anything behind.
# Needs root (exit 77, skipped, without it) and the package: make hwtest
# builds it, so a missing one is a failure.
#   BUILD=/path/to/build tests/hw/90-package.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD:-$PWD/build}

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
shopt -s nullglob
packages=("$build"/deb/parvane_*_amd64.deb)
[ ${#packages[@]} -gt 0 ] || fail "no package in $build/deb (make deb builds it)"
deb=${packages[-1]}
if dpkg-query -W -f='${Status}' parvane 2>/dev/null | grep -q ' installed'; then
  fail "parvane is already installed here; dpkg --purge parvane first"
fi

user=nobody
work=$(mktemp -d /tmp/parvane-package.XXXXXX)
chmod 755 "$work"
home=$work/home
runtime=$work/runtime
mkdir -p "$home" "$runtime"
chmod 700 "$runtime"
chown "$user" "$home" "$runtime"
installed=0
cleanup() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  [ "$installed" -eq 1 ] && dpkg --purge parvane >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# What of the package's tree was there before it (shared directories such as
# /usr/bin stay after the purge; everything else must go).
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$' > "$work/contents"
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done < "$work/contents" > "$work/existing"

echo "installing $(basename "$deb")"
dpkg -i "$deb" > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
installed=1
dpkg -L parvane > "$work/listed"

program_dir=$(dirname "$(readlink -f /usr/bin/parvane-cli)")
[ "$program_dir" = /usr/lib/parvane ] || fail "/usr/bin/parvane-cli leads to $program_dir, not /usr/lib/parvane"
for file in parvane parvane-cli FXO.so FXO_02.so Vexlin.so Vexlin_02.so libparvane_vadapter.so \
            null.wav Lang/English.ini Lang/Chinese.ini Help/Parvane-English.html; do
  [ -e "$program_dir/$file" ] || fail "$program_dir/$file is missing"
done
for file in /usr/lib/udev/rules.d/70-parvane-adapter.rules /usr/share/applications/parvane.desktop \
            /usr/share/icons/hicolor/64x64/apps/parvane.png /usr/share/man/man1/parvane.1.gz \
            /usr/share/man/man1/parvane-cli.1.gz /usr/share/bash-completion/completions/parvane-cli; do
  [ -e "$file" ] || fail "$file is missing"
done
if find "$program_dir" -name '*_tests' -o -name 'app_screenshots' | grep -q .; then
  fail "test programs were packaged: $(find "$program_dir" -name '*_tests' | head -3)"
fi
find "$program_dir" | sort > "$work/program-dir-before"

as_user() {
  runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" "$@"
}

# The headless front end, through the PATH, from the user's home directory.
echo "parvane-cli learn --virtual-adapter=cn"
status=0
(cd "$home" && as_user parvane-cli learn --virtual-adapter=cn --wait 90) > "$work/learn.out" 2> "$work/learn.err" || status=$?
[ "$status" -eq 0 ] || { cat "$work/learn.err"; fail "parvane-cli learn exited with $status"; }
cat "$work/learn.out"
grep -qx 'busy = 450/350,0/350' "$work/learn.out" || fail "learn printed no tone list of the cn line"

# The dialog, started as the desktop entry says, under Xvfb.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/parvane.desktop | head -1 | sed 's/ *%[fFuUdDnNickvm]//g')
[ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
echo "dialog: $exec_line"
display=:$((90 + RANDOM % 400))
runuser -u "$user" -- Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -S "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.2
done
[ -S "/tmp/.X11-unix/X${display#:}" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start on $display"; }
(cd "$home" && as_user DISPLAY="$display" PARVANE_VIRTUAL_ADAPTER=cn PARVANE_MESSAGE_BOX_TIMEOUT_MS=2000 \
  sh -c "exec $exec_line") > "$work/dialog.log" 2>&1 &
dialog_pid=$!
caption='Busy Tone Finder \(Tarnbox\)'
window=$(as_user DISPLAY="$display" timeout 60 xdotool search --sync --onlyvisible --name "$caption" | head -1) || true
if [ -z "$window" ]; then
  kill "$dialog_pid" 2>/dev/null
  cat "$work/dialog.log"
  fail "no dialog with the model name in its caption came up"
fi
echo "dialog came up: $(as_user DISPLAY="$display" xdotool getwindowname "$window")"
# Escape closes the dialog as its Cancel would.
as_user DISPLAY="$display" timeout 10 xdotool windowfocus --sync "$window" key Escape || true
status=0
for _ in $(seq 100); do
  kill -0 "$dialog_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$dialog_pid" 2>/dev/null; then
  kill "$dialog_pid"
  cat "$work/dialog.log"
  fail "the dialog did not close on Escape"
fi
wait "$dialog_pid" || status=$?
[ "$status" -eq 0 ] || { cat "$work/dialog.log"; fail "the dialog exited with $status"; }

find "$program_dir" | sort > "$work/program-dir-after"
cmp -s "$work/program-dir-before" "$work/program-dir-after" ||
  fail "the programs wrote into $program_dir: $(comm -13 "$work/program-dir-before" "$work/program-dir-after")"

# Purge, then nothing the package listed is left but what was there before.
dpkg --purge parvane > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
installed=0
left=()
while read -r path; do
  [ "$path" = /. ] && continue
  grep -qxF "$path" "$work/existing" && continue
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done < "$work/listed"
[ ${#left[@]} -eq 0 ] || fail "left behind after the purge: ${left[*]}"
echo "package installed, run from /usr/bin and purged cleanly"
