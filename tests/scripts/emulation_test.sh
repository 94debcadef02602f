#!/usr/bin/env bash
# How scripts/emulation.sh decides what kind of machine this is, and what it registers,
# tried on both kinds whatever this machine is: each case runs in a user and mount
# namespace of its own, with a binfmt_misc of its own, so nothing here touches the
# machine's own entries. A kernel that refuses 32-bit programs is played by an entry
# whose interpreter is no program (the kernel then answers "Exec format error").
# Prints one line per case; exits non-zero when a case fails, 77 when it cannot run.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

if ! unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "skipped: this kernel offers no user namespaces"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'not a program\n' >"$work/refuser"
chmod +x "$work/refuser"

# in_namespace SETUP COMMANDS: runs COMMANDS (bash, with emulation.sh sourced) after
# SETUP, one of: plain (no entries), refusing (the refusing kernel), qemu (the emulator
# registered by hand).
in_namespace() {
  unshare --user --map-root-user --mount bash -c '
    set -u
    source "$1/scripts/emulation.sh"
    mount -t binfmt_misc binfmt_misc "$I386_BINFMT_DIR" || exit 1
    case $2 in
      refusing) printf ":refuser:M::%s:%s:%s:F" "$I386_MAGIC" "$I386_MASK" "$3/refuser" ;;
      qemu) printf ":qemu-i386:M::%s:%s:%s:F" "$I386_MAGIC" "$I386_MASK" "$I386_EMULATOR" ;;
      plain) true ;;
    esac >"$I386_BINFMT_DIR/register" || exit 1
    eval "$4"
  ' in_namespace "$root" "$1" "$work" "$2"
}

failed=0
expect() {  # expect NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected '$2', got '$3'"
    failed=1
  fi
}

# This machine's own kernel, without any entry: the native cases need one that runs
# 32-bit programs; a kernel that refuses them is a refusing case of its own.
if [ "$(in_namespace plain 'i386_kind')" = native ]; then
  expect "on a kernel that runs 32-bit programs, setting up registers nothing" "native, no entry" \
    "$(in_namespace plain 'setup_i386 >/dev/null; echo "$(i386_kind), $([ -e "$I386_ENTRY" ] && echo entry || echo no entry)"')"
  expect "an emulator entry found there is disabled again" "native, disabled" \
    "$(in_namespace qemu 'setup_i386 >/dev/null; echo "$(i386_kind), $(head -n 1 "$I386_ENTRY")"')"
else
  echo "not tried: the native cases (this kernel itself refuses 32-bit programs)"
fi
expect "a refusing kernel is seen as such" none "$(in_namespace refusing 'i386_kind')"
if [ -x /usr/bin/qemu-i386-static ]; then
  expect "on it, setting up registers the emulator, once" "emulated, emulated, 1" \
    "$(in_namespace refusing 'setup_i386 >/dev/null; first=$(i386_kind); setup_i386 >/dev/null;
       echo "$first, $(i386_kind), $(ls "$I386_BINFMT_DIR" | grep -c qemu)"')"
else
  echo "FAILED: no /usr/bin/qemu-i386-static (install-deps.sh installs it)"
  failed=1
fi
exit $failed
