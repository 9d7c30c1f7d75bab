// Turning processor faults into result codes on Windows (the counterpart of
// fault_guard.cpp; this toolchain has no structured-exception keywords).
//
// While at least one guard is active anywhere in the process, a vectored
// exception handler is registered. For a processor fault (access violation,
// in-page error, misalignment, bounds, integer or floating-point division and
// overflow, illegal or privileged instruction) on a thread that is inside a
// guard, the handler changes the faulting context so that execution continues
// in resume_guarded_call, on the faulting thread's stack just below the fault,
// and that function jumps back to the innermost guard of the thread. The jump
// is made after the system's exception dispatch has ended, and the run-time
// library's longjmp unwinds any structured-exception frames that system code
// registered inside the guarded call. Any other exception, or a fault outside
// every guard, is left to the handlers after ours, so faults elsewhere in the
// host program keep their usual meaning.
#ifdef _WIN32

#include <csetjmp>
#include <cstdint>

#include <windows.h>

#include "dispatch/platform.h"

#if !defined(__i386__)
#error "fault_guard_win32.cpp resumes 32-bit x86 contexts only"
#endif

namespace qrl {
namespace {

struct GuardFrame {
    jmp_buf jump;
    GuardFrame *outer;
};

thread_local GuardFrame *t_innermost = nullptr;

SRWLOCK g_install_lock = SRWLOCK_INIT;
int g_active_guards = 0; // guarded calls in progress, all threads
void *g_handler = nullptr;

bool is_processor_fault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: return true;
    default: return false;
    }
}

// Entered through the changed context, never called: it takes no arguments
// and never returns, so whatever lies at its stack pointer is not read.
[[noreturn]] __attribute__((noinline)) void resume_guarded_call() {
    std::longjmp(t_innermost->jump, 1);
}

constexpr DWORD kDirectionFlag = 0x400;

LONG CALLBACK on_exception(EXCEPTION_POINTERS *info) {
    if (t_innermost == nullptr || info == nullptr || info->ExceptionRecord == nullptr ||
        info->ContextRecord == nullptr ||
        !is_processor_fault(info->ExceptionRecord->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    // Nothing is written to the stack here: the dispatcher's records lie just
    // below the faulting stack pointer until execution resumes. The new stack
    // pointer is aligned as at a function entry (16-byte boundary minus the
    // return-address slot).
    CONTEXT *context = info->ContextRecord;
    context->Esp = (context->Esp & ~static_cast<DWORD>(15)) - 4;
    context->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&resume_guarded_call));
    context->EFlags &= ~kDirectionFlag;
    return EXCEPTION_CONTINUE_EXECUTION;
}

void enter_guard() {
    AcquireSRWLockExclusive(&g_install_lock);
    if (g_active_guards++ == 0) {
        // First in the chain, so that a fault inside a guard reaches us
        // before any handler the host has registered.
        g_handler = AddVectoredExceptionHandler(1, on_exception);
    }
    ReleaseSRWLockExclusive(&g_install_lock);
}

void leave_guard() {
    AcquireSRWLockExclusive(&g_install_lock);
    if (--g_active_guards == 0 && g_handler != nullptr) {
        (void)RemoveVectoredExceptionHandler(g_handler);
        g_handler = nullptr;
    }
    ReleaseSRWLockExclusive(&g_install_lock);
}

} // namespace

int32_t run_guarded(int32_t (*fn)(void *context), void *context, int32_t fault_code) {
    GuardFrame frame;
    frame.outer = t_innermost;
    const bool outermost = frame.outer == nullptr;
    if (outermost) {
        enter_guard();
    }
    // volatile: the value must survive the jump back.
    volatile int32_t result = fault_code;
    if (setjmp(frame.jump) == 0) {
        t_innermost = &frame;
        result = fn(context);
    }
    t_innermost = frame.outer;
    if (outermost) {
        leave_guard();
    }
    return result;
}

} // namespace qrl

#endif // _WIN32
