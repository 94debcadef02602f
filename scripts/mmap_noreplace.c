/* Preloaded into Wine's 32-bit processes where they run under qemu-i386 (see
 * scripts/emulation.sh); built with -m32 -nostdlib, so it uses libc only through the two
 * symbols below, which the process has loaded anyway.
 *
 * qemu 7.2 takes MAP_FIXED_NOREPLACE for a mere hint: where the range is taken it maps
 * the memory somewhere else and reports success. Wine reserves its address space with
 * that flag, halving a range until each piece fits; handed pieces it never asked for, it
 * keeps them, fills the top two gigabytes with them and then halves every later range
 * down to 64 KiB: about 130,000 calls, a minute per process start. This wrapper gives
 * the flag the kernel's meaning (the range or EEXIST), which brings a start to well
 * under a second. The kernel also refuses a file offset that is not a whole page, and
 * Wine relies on that; mmap2 counts in pages, so the wrapper refuses it itself. */

extern long syscall(long number, ...);
extern int *__errno_location(void);

enum {
  kSysMunmap = 91,
  kSysMmap2 = 192,
  kEExist = 17,
  kEInval = 22,
  kMapFixedNoReplace = 0x100000,
  kPageMask = 0xfff,
  kPageShift = 12
};

static void *map(void *address, unsigned long length, int protection, int flags, int fd,
                 unsigned long long offset) {
  long result;
  if (offset & kPageMask) {
    *__errno_location() = kEInval;
    return (void *)-1;
  }
  result = syscall(kSysMmap2, address, length, protection, flags, fd,
                   (unsigned long)(offset >> kPageShift));
  if (result == -1) return (void *)-1;
  if ((flags & kMapFixedNoReplace) && (void *)result != address) {
    syscall(kSysMunmap, result, length);
    *__errno_location() = kEExist;
    return (void *)-1;
  }
  return (void *)result;
}

void *mmap(void *address, unsigned long length, int protection, int flags, int fd, long offset) {
  return map(address, length, protection, flags, fd, (unsigned long)offset);
}

void *mmap64(void *address, unsigned long length, int protection, int flags, int fd,
             long long offset) {
  return map(address, length, protection, flags, fd, (unsigned long long)offset);
}
