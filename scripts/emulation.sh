# How this machine runs 32-bit x86 Linux programs, Wine's 32-bit loader among them, and
# with it the 32-bit volumes.exe and its tests. Sourced by install-deps.sh and common.sh.
#
# Most kernels run them natively. Some run 64-bit code only: there every 32-bit program
# fails with "Exec format error". Debian's qemu-i386-static, registered with
# binfmt_misc, then runs them instead, slowly. An entry there is consulted before the
# kernel's own loader, so it is registered only where the kernel refuses 32-bit code.

I386_BINFMT_DIR=/proc/sys/fs/binfmt_misc
I386_ENTRY=$I386_BINFMT_DIR/qemu-i386
I386_EMULATOR=/usr/bin/qemu-i386-static
# i386 ELF executables, as Debian's qemu-user-static describes them.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A complete i386 Linux program of 96 bytes (ELF header, one program header, and
# exit(42) through int 0x80), written to FILE.
write_i386_probe() {
  local elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
  elf+='\x00\x00\x00\x00'
  elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  elf+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  elf+='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  printf "$elf" >"$1" && chmod +x "$1"
}

# Whether a 32-bit program runs here now (natively, or through a binfmt_misc entry).
i386_runs() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/volumes-i386.XXXXXX") || return 1
  write_i386_probe "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

i386_entry_enabled() { [ -f "$I386_ENTRY" ] && [ "$(head -n 1 "$I386_ENTRY")" = enabled ]; }

# How 32-bit programs run here: native, emulated or none.
i386_kind() {
  if i386_entry_enabled; then
    i386_runs && echo emulated || echo none
  elif i386_runs; then
    echo native
  else
    echo none
  fi
}

# Makes 32-bit programs run, and says in one line how they do. Needs root where it has
# to change something, and the emulator installed (install-deps.sh installs it on every
# machine: it changes nothing until it is registered). Idempotent.
setup_i386() {
  if [ -f "$I386_ENTRY" ]; then
    # Ask the kernel itself, with the entry out of the way for a moment.
    echo 0 >"$I386_ENTRY" || return 1
    if i386_runs; then
      echo "volumes: 32-bit programs run natively; the qemu-i386 entry of binfmt_misc stays disabled (it would emulate them all)"
      return 0
    fi
    echo 1 >"$I386_ENTRY" || return 1
    if i386_runs; then
      echo "volumes: 32-bit programs run under emulation (qemu-i386, registered before)"
      return 0
    fi
    echo "volumes: the kernel refuses 32-bit programs, and its qemu-i386 entry does not run them either (see $I386_ENTRY)" >&2
    return 1
  fi
  if i386_runs; then
    echo "volumes: 32-bit programs run natively"
    return 0
  fi
  if [ ! -x "$I386_EMULATOR" ]; then
    echo "volumes: the kernel refuses 32-bit programs, and there is no $I386_EMULATOR (package qemu-user-static) to emulate them" >&2
    return 1
  fi
  if [ ! -e "$I386_BINFMT_DIR/register" ] &&
    ! mount -t binfmt_misc binfmt_misc "$I386_BINFMT_DIR" 2>/dev/null; then
    echo "volumes: the kernel refuses 32-bit programs, and binfmt_misc cannot be mounted at $I386_BINFMT_DIR to emulate them" >&2
    return 1
  fi
  if ! printf ':qemu-i386:M::%s:%s:%s:F' "$I386_MAGIC" "$I386_MASK" "$I386_EMULATOR" \
    >"$I386_BINFMT_DIR/register" 2>/dev/null || ! i386_runs; then
    echo "volumes: the kernel refuses 32-bit programs, and registering $I386_EMULATOR with binfmt_misc did not help" >&2
    return 1
  fi
  echo "volumes: the kernel refuses 32-bit programs; registered $I386_EMULATOR with binfmt_misc to run them"
}

# Where 32-bit programs are emulated: builds the wrapper that makes Wine's 32-bit start
# take a second instead of a minute and keeps each thread on its own thread storage
# (scripts/qemu_i386_preload.c) into FOLDER and exports
# QEMU_SET_ENV, through which qemu preloads it into each 32-bit program. A 64-bit
# program that inherits the variable through Wine finds an empty library of its own
# bitness under the same name ($LIB is each loader's own library folder).
# Elsewhere it does nothing.
use_i386_emulation() {
  local folder=$1 source=$VOLUMES_ROOT/scripts/qemu_i386_preload.c
  [ "$(i386_kind)" = emulated ] || return 0
  local lib32=$folder/lib/i386-linux-gnu lib64=$folder/lib/x86_64-linux-gnu
  if [ ! "$lib32/qemu_i386_preload.so" -nt "$source" ]; then
    # Built beside and then renamed: tests started in parallel may arrive here together.
    mkdir -p "$lib32" "$lib64" &&
      gcc -m32 -O2 -fPIC -shared -nostdlib -o "$lib32/qemu_i386_preload.so.$$" "$source" &&
      : | gcc -x c -O2 -fPIC -shared -nostdlib -o "$lib64/qemu_i386_preload.so.$$" - &&
      mv -f "$lib64/qemu_i386_preload.so.$$" "$lib64/qemu_i386_preload.so" &&
      mv -f "$lib32/qemu_i386_preload.so.$$" "$lib32/qemu_i386_preload.so" || return 1
  fi
  export QEMU_SET_ENV="LD_PRELOAD=$folder/\$LIB/qemu_i386_preload.so"
}

# in_refusing_kernel COMMAND...: runs COMMAND as on a kernel that refuses 32-bit programs,
# whatever this kernel does: in a user and mount namespace with a binfmt_misc of its own,
# whose first entry hands every i386 program to an interpreter that is no program (the
# kernel then answers "Exec format error"). Nothing outside the namespace changes; there,
# setup_i386 registers the emulator as on such a machine. Returns 77 where the kernel
# offers no such namespace (binfmt_misc has one of its own from Linux 6.7 on).
in_refusing_kernel() {
  local refuser status
  unshare --user --map-root-user --mount true 2>/dev/null || return 77
  refuser=$(mktemp "${TMPDIR:-/tmp}/volumes-refuser.XXXXXX") || return 1
  printf 'not a program\n' >"$refuser" && chmod +x "$refuser"
  unshare --user --map-root-user --mount bash -c '
    mount -t binfmt_misc binfmt_misc "$1" 2>/dev/null &&
      printf ":refuser:M::%s:%s:%s:F" "$2" "$3" "$4" >"$1/register" || exit 77
    shift 4
    exec "$@"' in_refusing_kernel "$I386_BINFMT_DIR" "$I386_MAGIC" "$I386_MASK" "$refuser" "$@"
  status=$?
  rm -f "$refuser"
  return $status
}

# as_on_a_refusing_kernel COMMAND...: COMMAND with 32-bit programs emulated as on a
# machine whose kernel refuses them: the played kernel above, with the emulator set up
# there as install-deps.sh sets it up on such a machine.
as_on_a_refusing_kernel() {
  in_refusing_kernel bash -c 'source "$1" && setup_i386 >/dev/null && [ "$(i386_kind)" = emulated ] &&
    shift && exec "$@"' as_on_a_refusing_kernel "${BASH_SOURCE[0]}" "$@"
}
