# The guest side of the plug controller (tools/hwtest/plug-controller.sh):
# sourced by the guest's scripts. PLUG_PORT is the virtio-serial port named
# parvane.plug (guest.sh finds it).

# plug_command WORDS...: sends one command and prints the controller's reply
# (without its tag); fails when the reply is not "ok". The tag tells this
# command's reply from a late one to an earlier command that timed out. The
# controller's own waits are at most 10 s, so 60 s means it is gone.
plug_command() {
  [ -n "${PLUG_PORT:-}" ] && [ -e "$PLUG_PORT" ] || { echo "no plug port (PLUG_PORT=${PLUG_PORT:-})"; return 1; }
  plug_tag=$$.$(date +%s%N)
  plug_reply=$(exec 5<>"$PLUG_PORT" && printf '%s %s\n' "$plug_tag" "$*" >&5 &&
    timeout 60 sh -c 'while IFS= read -r line; do
        case "$line" in "$1 "*) printf "%s\n" "${line#"$1 "}"; exit 0 ;; esac
      done; exit 1' _ "$plug_tag" <&5) || plug_reply="no reply from the plug controller within 60 s"
  echo "$plug_reply"
  [ "$plug_reply" = ok ]
}
