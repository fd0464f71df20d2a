#!/bin/bash
# installed-tree.sh BUILD_DIR SOURCE_DIR: `cmake --install` lays out the tree
# the package is made of, and the programs run from it through /usr/bin.
set -euo pipefail
build=$1
source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build" --prefix /usr > "$stage.log" 2>&1 || { cat "$stage.log"; fail "cmake --install"; }
rm -f "$stage.log"
root=$stage/usr
for file in lib/parvane/parvane lib/parvane/parvane-cli lib/parvane/FXO.so lib/parvane/FXO_02.so \
            lib/parvane/Vexlin.so lib/parvane/Vexlin_02.so lib/parvane/libparvane_vadapter.so \
            lib/parvane/null.wav lib/parvane/Lang/English.ini lib/parvane/Help/Parvane-English.html \
            lib/udev/rules.d/70-parvane-adapter.rules share/applications/parvane.desktop \
            share/icons/hicolor/64x64/apps/parvane.png share/man/man1/parvane.1.gz \
            share/man/man1/parvane-cli.1.gz share/bash-completion/completions/parvane-cli \
            share/doc/parvane/copyright share/doc/parvane/changelog.gz; do
  [ -f "$root/$file" ] || fail "$file was not installed"
done
for program in parvane parvane-cli; do
  [ "$(readlink "$root/bin/$program")" = "../lib/parvane/$program" ] ||
    fail "bin/$program is not a relative link into the program directory"
done
# Nothing of the tests, nor the test doubles of the libraries.
stray=$(find "$stage" -name '*_tests' -o -name 'libparvane_fake*' -o -name 'app_screenshots')
[ -z "$stray" ] || fail "test files installed: $stray"

# Found on the PATH and started from elsewhere, the program finds the
# installed libraries beside its own file (the virtual adapter's too); with
# the line-device library missing from the tree it finds no adapter.
status=0
out=$(cd / && PATH=$root/bin:$PATH parvane-cli info --virtual-adapter=cn 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "info exited with $status: $out"
grep -q 'Tarnbox' <<<"$out" || fail "info did not read the model name: $out"
mv "$root/lib/parvane/FXO.so" "$stage/FXO.so"
(cd / && PATH=$root/bin:$PATH parvane-cli info --virtual-adapter=cn) > /dev/null 2>&1 || status=$?
[ "$status" -eq 3 ] || fail "without the installed FXO.so info exited with $status, not 3 (no adapter)"

# The manual pages format without a warning.
for page in parvane parvane-cli; do
  warnings=$(man --warnings -E UTF-8 -l "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done

# The bash completion offers the commands, each command's options and the presets.
completion_of() {
  (cd "$stage" && bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _parvane_cli; echo "${COMPREPLY[*]}"' _ "$root/share/bash-completion/completions/parvane-cli" "$@")
}
if [ -f /usr/share/bash-completion/bash_completion ]; then
  [ "$(completion_of parvane-cli le)" = learn ] || fail "completion of 'le': $(completion_of parvane-cli le)"
  [ "$(completion_of parvane-cli verify --f)" = "--freq1 --freq2" ] ||
    fail "completion of 'verify --f': $(completion_of parvane-cli verify --f)"
  [ "$(completion_of parvane-cli --virtual-adapter=c)" = cn ] ||
    fail "completion of '--virtual-adapter=c': $(completion_of parvane-cli --virtual-adapter=c)"
  [ "$(completion_of parvane-cli su)" = survey ] || fail "completion of 'su': $(completion_of parvane-cli su)"
  [ "$(completion_of parvane-cli survey --dtmf)" = "--dtmf-on-ms --dtmf-off-ms --dtmf-level-dbm" ] ||
    fail "completion of 'survey --dtmf': $(completion_of parvane-cli survey --dtmf)"
  [ "$(completion_of parvane-cli learn --buffer 1)" = "16K 1K" ] ||
    fail "completion of '--buffer 1': $(completion_of parvane-cli learn --buffer 1)"
fi
echo "installed tree complete; parvane-cli runs from it"
