#!/usr/bin/env bash
# The host side of the VM rig's USB port: the guest's scenarios plug and
# unplug the twin by commands on a virtio-serial port. QEMU's pipe chardev
# reads PIPE.in (to the guest) and writes PIPE.out (from the guest); one
# command a line, each answered by one line with the same tag:
#   TAG plug LOGFILE [parvane-twin options] SCENARIO   -> TAG ok | TAG error TEXT
#   TAG unplug                                         -> TAG ok | TAG error TEXT
# LOGFILE is relative to SHARE (the directory the guest sees over 9p), so the
# twin's output is readable on both sides. plug connects
# `parvane-twin --usb-redir SOCKET` as the device on QEMU's usb-redir socket;
# unplug stops it, which closes the socket, and QEMU detaches the device (the
# socket takes the next twin as a new device). Runs until SIGTERM, then
# unplugs whatever is still plugged. Usage:
#   plug-controller.sh TWIN SOCKET PIPE SHARE
set -uo pipefail
twin=$1 sock=$2 pipe=$3 share=$4
twin_pid=

say() { printf '%s\n' "$*" >&4; }
trace() { echo "plug-controller: $*" >&2; }

# Stops the twin: SIGTERM unplugs it (device_disconnect), SIGKILL after 10 s.
stop_twin() {
  [ -n "$twin_pid" ] || return 0
  kill "$twin_pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$twin_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$twin_pid" 2>/dev/null; then
    trace "the twin (pid $twin_pid) ignored SIGTERM for 10 s; killed"
    kill -9 "$twin_pid" 2>/dev/null
  fi
  wait "$twin_pid" 2>/dev/null
  twin_pid=
}

# plug and unplug leave their reply in $answer (not printed: a command
# substitution would run them in a subshell, which loses the twin's pid).
# plug LOGFILE ARGS...: starts the twin and answers once it is connected as
# the device (its "plugged in" line), or with its last line when it exits.
plug() {
  local logfile=$1; shift
  case "$logfile" in
    ''|/*|*..*) answer="error the log file must be a path inside the share: $logfile"; return ;;
  esac
  [ -n "$twin_pid" ] && { answer="error a twin is already plugged (unplug first)"; return; }
  [ -S "$sock" ] || { answer="error no usb-redir socket at $sock"; return; }
  local log=$share/$logfile
  mkdir -p "$(dirname "$log")" || { answer="error cannot make the directory of $logfile"; return; }
  # The log may hold earlier twins' lines: only this twin's count.
  local before
  before=$(stat -c %s "$log" 2>/dev/null || echo 0)
  "$twin" --usb-redir "$sock" "$@" >>"$log" 2>&1 &
  twin_pid=$!
  for _ in $(seq 100); do
    tail -c +$((before + 1)) "$log" | grep -q 'plugged in as USB device' && { answer=ok; return; }
    if ! kill -0 "$twin_pid" 2>/dev/null; then
      wait "$twin_pid"
      answer="error the twin exited ($?): $(tail -n 1 "$log" | tr -d '\r\n')"
      twin_pid=
      return
    fi
    sleep 0.1
  done
  stop_twin
  answer="error the twin did not connect within 10 s: $(tail -n 1 "$log" | tr -d '\r\n')"
}

unplug() {
  if [ -z "$twin_pid" ]; then answer="error nothing is plugged"; return; fi
  if ! kill -0 "$twin_pid" 2>/dev/null; then
    wait "$twin_pid"; local code=$?
    twin_pid=
    answer="error the twin had already exited ($code)"
    return
  fi
  stop_twin
  answer=ok
}

# Read-write opens never block on a fifo, whichever side comes first.
exec 3<>"$pipe.out" 4<>"$pipe.in" || { trace "cannot open $pipe.in/.out"; exit 1; }
stopping=0
trap 'stopping=1' TERM INT
while [ "$stopping" = 0 ]; do
  # The timeout lets the TERM trap run between commands.
  IFS= read -r -t 1 line <&3 || continue
  line=${line%$'\r'}
  read -r -a words <<< "$line"
  [ ${#words[@]} -ge 2 ] || { trace "ignored: $line"; continue; }
  tag=${words[0]} command=${words[1]}
  case "$command" in
    plug) if [ ${#words[@]} -ge 4 ]; then plug "${words[@]:2}"; else answer="error usage: plug LOGFILE [options] SCENARIO"; fi ;;
    unplug) unplug ;;
    *) answer="error unknown command: $command" ;;
  esac
  trace "$command: $answer (${words[*]:2})"
  say "$tag $answer"
done
stop_twin
