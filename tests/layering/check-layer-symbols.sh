#!/bin/sh
# What the core's libraries call, read from their symbols, so that no
# spelling of an include gets around the layering: each layer may call only
# its own functions, those of the layers it uses and those of outside
# libraries, and no layer may call a front end but through its table.
#
# Usage: check-layer-symbols.sh NM LAYER=ARCHIVE[:USED,USED...] ...
set -eu
nm=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for spec in "$@"; do
  name=${spec%%=*}
  rest=${spec#*=}
  archive=${rest%%:*}
  # Strong definitions only: inline functions are defined weakly wherever
  # they are used.
  "$nm" --defined-only -g "$archive" | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' |
    sort -u >"$work/$name.defined"
  "$nm" --undefined-only "$archive" | awk 'NF == 2 && $1 == "U" { print $2 }' |
    sort -u >"$work/$name.called"
done
cat "$work"/*.defined | sort -u >"$work/all"

status=0
for spec in "$@"; do
  name=${spec%%=*}
  rest=${spec#*=}
  uses=""
  case $rest in *:*) uses=$(echo "${rest#*:}" | tr ',' ' ') ;; esac
  allowed="$work/$name.defined"
  for used in $uses; do
    allowed="$allowed $work/$used.defined"
  done
  # shellcheck disable=SC2086
  cat $allowed | sort -u >"$work/allowed"
  comm -23 "$work/all" "$work/allowed" >"$work/others"
  comm -12 "$work/$name.called" "$work/others" >"$work/wrong"
  if [ -s "$work/wrong" ]; then
    echo "layer $name calls layers it may not use:" >&2
    c++filt <"$work/wrong" >&2
    status=1
  fi
done

for spec in "$@"; do
  rest=${spec#*=}
  archive=${rest%%:*}
  if "$nm" -C --undefined-only "$archive" | grep -E ' (gui_[a-z_]+(\(.*)?|bexo_frontend)$' >&2; then
    echo "${spec%%=*} names a front end" >&2
    status=1
  fi
done
exit $status
