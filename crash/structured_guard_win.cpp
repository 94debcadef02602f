// How the guard gets from a structured exception back to itself:
//
// 1. The guard registers a frame-based handler (i386: a record on the FS:[0] chain;
//    x86-64: an assembler thunk whose unwind data names the handler). Frames inside
//    the guarded call that handle the exception themselves never let it reach us.
// 2. The handler copies the exception and its context into the guard's frame and
//    resumes the thread in a trampoline, with the stack pointer of the faulting
//    instruction and that instruction's address as the trampoline's return address,
//    so the trampoline looks called from the faulting place and its stack stands.
// 3. The trampoline, now outside the exception dispatcher, reports the error (message
//    loops, dialogs and the stack walk all work there) and jumps back to the guard
//    with __builtin_longjmp, which restores registers only: no unwinding runs through
//    the abandoned frames, whose unwind state is not to be trusted.
#include <float.h>
#include <malloc.h>
#include <windows.h>

#include <cstdint>

#include "crash/crash_win.h"
#include "crash/guard_win.h"

namespace vol::crash_detail {
namespace {

#if defined(__i386__)
struct SehRegistration {
  SehRegistration* next;
  void* handler;
};
#endif

struct GuardFrame {
  GuardFrame* outer = nullptr;
  void* jump[5] = {};
  bool report = true;
  bool handling = false;  // the trampoline of this guard is running
  std::uintptr_t stack_pointer = 0;
  EXCEPTION_RECORD record{};
  CONTEXT context{};
#if defined(__i386__)
  SehRegistration registration{};
#endif
};

thread_local GuardFrame* innermost_guard = nullptr;

bool IsFloatException(DWORD code) {
  switch (code) {
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
      return true;
    default:
      return false;
  }
}

// After a stack overflow there is no room below the fault; the trampoline runs in the
// part of the stack that the overflowing calls used, just below the guard. That
// overwrites the outermost abandoned frames only; the innermost, where the walk of
// the report starts, stay intact.
constexpr std::uintptr_t kOverflowGap = 16 * 1024;

std::uintptr_t TrampolineStack(const GuardFrame& frame, DWORD code, std::uintptr_t fault_sp) {
  if (code != EXCEPTION_STACK_OVERFLOW) return fault_sp;
  const std::uintptr_t below_guard = frame.stack_pointer - kOverflowGap;
  return below_guard > fault_sp ? below_guard : fault_sp;
}

}  // namespace
}  // namespace vol::crash_detail

using vol::crash_detail::GuardFrame;
using vol::crash_detail::innermost_guard;

extern "C" {

void vol_crash_TrampolineEntry();

[[noreturn]] void vol_crash_Trampoline() {
  GuardFrame* frame = innermost_guard;
#if defined(__i386__)
  // Drop the handler records of the abandoned frames, so that nothing of them runs
  // if the report itself faults.
  __writefsdword(0, reinterpret_cast<DWORD>(&frame->registration));
#endif
  if (vol::crash_detail::IsFloatException(frame->record.ExceptionCode)) {
    _clearfp();
    _fpreset();
  }
  if (frame->report && !frame->handling) {
    frame->handling = true;
    EXCEPTION_POINTERS pointers{&frame->record, &frame->context};
    try {
      vol::crash_detail::ReportStructuredError(pointers);
    } catch (...) {
      // The reporter failed; the guard still returns to its caller.
    }
  }
  __builtin_longjmp(frame->jump, 1);
}

EXCEPTION_DISPOSITION vol_crash_FrameHandler(EXCEPTION_RECORD* record, void* /*establisher*/,
                                             CONTEXT* context, void* /*dispatcher*/) {
  using namespace vol::crash_detail;
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  GuardFrame* frame = innermost_guard;
  if (frame == nullptr || IsCxxException(record->ExceptionCode) ||
      !IsFailure(record->ExceptionCode)) {
    return ExceptionContinueSearch;
  }
  frame->record = *record;
  frame->record.ExceptionRecord = nullptr;
  frame->context = *context;
  // The faulting code is abandoned, not continued: the flag that forbids continuing
  // does not apply to resuming in the trampoline.
  record->ExceptionFlags &= ~static_cast<DWORD>(EXCEPTION_NONCONTINUABLE);
  constexpr DWORD kDirectionFlag = 0x400;
#if defined(__x86_64__)
  context->R11 = context->Rip;
  context->Rsp = TrampolineStack(*frame, record->ExceptionCode, context->Rsp);
  context->Rip = reinterpret_cast<DWORD64>(&vol_crash_TrampolineEntry);
#else
  context->Ecx = context->Eip;
  context->Esp = TrampolineStack(*frame, record->ExceptionCode, context->Esp);
  context->Eip = reinterpret_cast<DWORD>(&vol_crash_TrampolineEntry);
#endif
  context->EFlags &= ~kDirectionFlag;
  return ExceptionContinueExecution;
}

}  // extern "C"

#if defined(__x86_64__)
// The thunk that carries the frame handler: vol_crash_CallWithFrameHandler(call,
// target) calls call(target). The trampoline entry pushes the faulting address as a
// return address and keeps a frame pointer, so unwinding through it reaches the
// faulting frame exactly.
asm(R"(
    .text
    .p2align 4
    .globl vol_crash_CallWithFrameHandler
    .def vol_crash_CallWithFrameHandler; .scl 2; .type 32; .endef
    .seh_proc vol_crash_CallWithFrameHandler
vol_crash_CallWithFrameHandler:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler vol_crash_FrameHandler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    nop
    addq $40, %rsp
    ret
    .seh_endproc

    .p2align 4
    .globl vol_crash_TrampolineEntry
vol_crash_TrampolineEntry:
    pushq %r11
    .def vol_crash_TrampolineFrame; .scl 3; .type 32; .endef
    .seh_proc vol_crash_TrampolineFrame
vol_crash_TrampolineFrame:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call vol_crash_Trampoline
    int3
    .seh_endproc
)");
extern "C" void vol_crash_CallWithFrameHandler(void (*call)(void*), void* target);
#else
// The trampoline entry pushes the faulting address as a return address and keeps an
// EBP frame, so a frame-pointer walk from the trampoline reaches the faulting frame.
asm(R"(
    .text
    .p2align 4
    .globl _vol_crash_TrampolineEntry
_vol_crash_TrampolineEntry:
    pushl %ecx
    pushl %ebp
    movl %esp, %ebp
    andl $-16, %esp
    call _vol_crash_Trampoline
    int3
)");
#endif

namespace vol::crash_detail {
namespace {

// Puts back the guard state of the enclosing code when the guarded call ends in any way.
class GuardScope {
 public:
  explicit GuardScope(GuardFrame& frame) : frame_(frame) {
    frame_.outer = innermost_guard;
#if defined(__i386__)
    frame_.registration.next = reinterpret_cast<SehRegistration*>(__readfsdword(0));
    frame_.registration.handler = reinterpret_cast<void*>(&vol_crash_FrameHandler);
#endif
  }
  GuardScope(const GuardScope&) = delete;
  GuardScope& operator=(const GuardScope&) = delete;
  ~GuardScope() {
#if defined(__i386__)
    __writefsdword(0, reinterpret_cast<DWORD>(frame_.registration.next));
#endif
    innermost_guard = frame_.outer;
  }

 private:
  GuardFrame& frame_;
};

void CallGuarded(GuardFrame& frame, void (*call)(void*), void* target) {
  innermost_guard = &frame;
#if defined(__x86_64__)
  vol_crash_CallWithFrameHandler(call, target);
#else
  __writefsdword(0, reinterpret_cast<DWORD>(&frame.registration));
  call(target);
#endif
}

}  // namespace

bool RunGuarded(void (*call)(void*), void* target, bool report) {
  GuardFrame frame;
  frame.report = report;
  frame.stack_pointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  GuardScope scope(frame);
  if (__builtin_setjmp(frame.jump) != 0) {
    if (frame.record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
    return false;
  }
  CallGuarded(frame, call, target);
  return true;
}

bool RunCatchingStructured(void (*call)(void* target), void* target) {
  return RunGuarded(call, target, true);
}

bool RunIgnoringStructured(void (*call)(void* target), void* target) {
  return RunGuarded(call, target, false);
}

}  // namespace vol::crash_detail
