#!/usr/bin/env bash
# The layer check of cmake/layers.cmake: the program's own tree passes, and each kind of
# wrong include, planted in a tree of its own, fails with the file named.
# Prints one line per case; exits non-zero when a case fails.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() { cmake -DVOLUMES_ROOT="$1" -P "$root/cmake/layers.cmake" 2>&1; }

failed=0
if output=$(check "$root"); then
  echo "ok: the program's tree keeps its layers"
else
  echo "FAILED: the program's tree keeps its layers"$'\n'"$output"
  failed=1
fi

# FILE INCLUDED: one file that includes one header, and nothing else in the tree.
while IFS='|' read -r name file included; do
  tree=$work/$name
  mkdir -p "$tree/$(dirname "$file")"
  printf '#include "%s"\n' "$included" >"$tree/$file"
  if output=$(check "$tree"); then
    echo "FAILED: $name passed the check"
    failed=1
  elif ! grep -qF "$file includes \"$included\"" <<<"$output"; then
    echo "FAILED: $name: the check does not name the include"$'\n'"$output"
    failed=1
  else
    echo "ok: $name fails"
  fi
done <<'CASES'
an include that points up|devices/lib.cpp|ui/edition.h
an include across, between neighbours|crash/mail_win.cpp|devices/udiskmgmt.h
the crash reporter reached past its front|ui/Ufrmvolume_win.cpp|crash/crash_win.h
window-free code that includes Windows code|ui/Ufrmvolume.cpp|platform/handles_win.h
an include without its folder|devices/lib.cpp|lib.h
CASES
exit $failed
