#!/usr/bin/env bash
# parvane-cli.exe under wine64, through the whole program: learn on the
# virtual line (cn) prints the tone the Linux build prints, and file reads a
# WAV written here. Wine's prefix and server are the caller's (WINEPREFIX).
#   tools/windows-cli-check.sh BIN_DIR WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$(mkdir -p "$2" && cd "$2" && pwd)
wine=/usr/lib/wine/wine64

# Headless wine offers a waveIn device only when ALSA has one.
mkdir -p "$work/home"
printf 'pcm.!default { type null }\n' >"$work/home/.asoundrc"
rm -f "$work/learn.out" "$work/file.out" "$work/tone.wav"

status=0
# expect NAME PATTERN: the output of NAME holds a line matching PATTERN.
expect() {
  # The C runtime writes text with CRLF line ends.
  if ! tr -d '\r' <"$work/$1.out" | grep -qx -- "$2"; then
    echo "windows-cli-check: parvane-cli.exe $1 did not print '$2':" >&2
    cat "$work/$1.out" >&2
    status=1
  fi
}

(cd "$bin" && HOME=$work/home timeout 300 "$wine" parvane-cli.exe learn --virtual-adapter=cn \
  </dev/null >"$work/learn.out" 2>&1) || echo "windows-cli-check: learn exited with $?" >>"$work/learn.out"
expect learn 'busy = 450/350,0/350'
expect learn 'Busy tone: 450 Hz, 350 ms on, 350 ms off (verified.*'

perl "$here/../tests/windows/write-tone-wav.pl" "$work/tone.wav"
(cd "$bin" && HOME=$work/home timeout 300 "$wine" parvane-cli.exe file "$work/tone.wav" \
  </dev/null >"$work/file.out" 2>&1) || echo "windows-cli-check: file exited with $?" >>"$work/file.out"
expect file 'Tone list: 450/350,0/350'

[ $status -eq 0 ] && echo "windows-cli-check: parvane-cli.exe learn and file passed in $bin"
exit $status
