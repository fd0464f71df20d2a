#!/usr/bin/env bash
# Checks that a DLL's export table holds exactly the names of a list, one a
# line, undecorated, and nothing else.
#   tools/check-exports.sh OBJDUMP DLL LIST
set -euo pipefail
objdump=$1 dll=$2 list=$3
actual=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | LC_ALL=C sort)
expected=$(grep -v '^[[:space:]]*$' "$list" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "$dll: the export table differs from $list (< missing, > not expected):" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "$dll: exactly the $(echo "$expected" | wc -l) names of $(basename "$list")"
