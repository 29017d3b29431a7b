#!/bin/sh
# The core's libraries call a front end only through its table of
# operations: none of them may name a front-end function or the table that
# a program links.  Usage: check-core-symbols.sh NM ARCHIVE...
nm=$1
shift
found=$("$nm" --undefined-only "$@" | grep -E ' (gui_[a-z_]+|bexo_frontend)$')
if [ -n "$found" ]; then
  echo "the core refers to front-end symbols:" >&2
  echo "$found" >&2
  exit 1
fi
"$nm" --undefined-only "$@" >/dev/null
