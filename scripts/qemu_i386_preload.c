/* Preloaded into Wine's 32-bit processes where they run under qemu-i386 (see
 * scripts/emulation.sh); built with -m32 -nostdlib, so it uses libc only through the
 * symbols declared below, which the process has loaded anyway. It mends two faults of
 * qemu 7.2's user-mode emulation that Wine runs into.
 *
 * 1. mmap: qemu 7.2 takes MAP_FIXED_NOREPLACE for a mere hint: where the range is taken
 * it maps the memory somewhere else and reports success. Wine reserves its address space with
 * that flag, halving a range until each piece fits; handed pieces it never asked for, it
 * keeps them, fills the top two gigabytes with them and then halves every later range
 * down to 64 KiB: about 130,000 calls, a minute per process start. This wrapper gives
 * the flag the kernel's meaning (the range or EEXIST), which brings a start to well
 * under a second. The kernel also refuses a file offset that is not a whole page, and
 * Wine relies on that; mmap2 counts in pages, so the wrapper refuses it itself.
 *
 * 2. Signals and thread storage: every thread finds its own storage through the same two
 * selectors (%gs for glibc's, %fs for Wine's TEB), each naming a thread-local entry of
 * the descriptor table. The kernel keeps those entries per thread; qemu keeps one table
 * for the whole process, so each new thread writes its own bases over them. A thread's
 * loaded bases stay right until it reloads the selectors, and qemu reloads them from the
 * table when a signal handler returns: the thread then runs on with the newest thread's
 * TEB, glibc storage and Wine-server connection ("stack smashing detected", "wine client
 * error: read: Bad address", segmentation faults, hangs). Wine's server interrupts
 * threads with signals all the time, so any process with a second thread is at risk.
 * The wrapper below runs each handler through a trampoline that notes the thread's own
 * bases on entry, while they are still right, and writes them back into the table just
 * before the handler returns, so the reload finds this thread's bases. */

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

enum {
  kSysGetThreadArea = 244,
  kSysSetThreadArea = 243,
  kSignals = 65,
  kSigIgn = 1,
  kFirstTlsEntry = 6, /* GDT_ENTRY_TLS_MIN of i386 Linux */
  kLastTlsEntry = 8,
  kUserPrivilege = 3
};

typedef void (*Handler)(int, void *, void *);

/* The C library's struct sigaction on i386. */
struct Sigaction {
  Handler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

/* The kernel's struct user_desc, with its bit fields kept as one word. */
struct UserDesc {
  unsigned int entry_number;
  unsigned int base_addr;
  unsigned int limit;
  unsigned int flags;
};

extern void *dlsym(void *handle, const char *symbol);
#define RTLD_NEXT ((void *)-1l)

static Handler handlers[kSignals];

/* One of the two segment registers that name a thread-local entry: the entry, and the
 * thread's base as the thread itself still sees it. */
struct OwnBase {
  int entry;
  unsigned int base;
};

static int tls_entry(unsigned short selector) {
  unsigned int index = selector >> 3;
  if ((selector & 7) != kUserPrivilege || index < kFirstTlsEntry || index > kLastTlsEntry)
    return -1;
  return (int)index;
}

/* glibc's thread block starts with its own address, and holds it again at offset 8; a
 * Windows TEB holds its own address at offset 0x18. */
static void own_bases(struct OwnBase *gs, struct OwnBase *fs) {
  unsigned short gs_selector, fs_selector;
  unsigned int self = 0;
  __asm__ volatile("mov %%gs, %0" : "=r"(gs_selector));
  __asm__ volatile("mov %%fs, %0" : "=r"(fs_selector));
  gs->entry = tls_entry(gs_selector);
  fs->entry = tls_entry(fs_selector);
  if (gs->entry >= 0) {
    __asm__ volatile("movl %%gs:0, %0" : "=r"(gs->base));
    __asm__ volatile("movl %%gs:8, %0" : "=r"(self));
    if (self != gs->base || gs->base == 0) gs->entry = -1;
  }
  if (fs->entry >= 0 && fs->entry != gs->entry) {
    __asm__ volatile("movl %%fs:0x18, %0" : "=r"(fs->base));
    if (fs->base == 0) fs->entry = -1;
  } else {
    fs->entry = -1;
  }
}

static void put_base(const struct OwnBase *own) {
  struct UserDesc desc = {0, 0, 0, 0};
  if (own->entry < 0) return;
  desc.entry_number = (unsigned int)own->entry;
  if (syscall(kSysGetThreadArea, &desc) != 0 || desc.base_addr == own->base) return;
  desc.base_addr = own->base;
  syscall(kSysSetThreadArea, &desc);
}

static void put_bases(const struct OwnBase *gs, const struct OwnBase *fs) {
  int saved_errno = *__errno_location();
  put_base(gs);
  put_base(fs);
  *__errno_location() = saved_errno;
}

/* Wine's handlers reload %fs themselves, and qemu reloads both registers on return: the
 * table holds this thread's bases for both. */
static void trampoline(int signal, void *info, void *context) {
  struct OwnBase gs, fs;
  own_bases(&gs, &fs);
  put_bases(&gs, &fs);
  handlers[signal](signal, info, context);
  put_bases(&gs, &fs);
}

int sigaction(int signal, const struct Sigaction *action, struct Sigaction *old) {
  static int (*next)(int, const struct Sigaction *, struct Sigaction *);
  struct Sigaction wrapped;
  Handler previous;
  int result;
  if (!next)
    next =
        (int (*)(int, const struct Sigaction *, struct Sigaction *))dlsym(RTLD_NEXT, "sigaction");
  if (signal <= 0 || signal >= kSignals) return next(signal, action, old);
  previous = handlers[signal];
  if (action && (unsigned long)action->handler > kSigIgn) {
    wrapped = *action;
    handlers[signal] = action->handler;
    wrapped.handler = trampoline;
    action = &wrapped;
  }
  result = next(signal, action, old);
  if (result != 0) handlers[signal] = previous;
  if (old && old->handler == trampoline) old->handler = previous;
  return result;
}
