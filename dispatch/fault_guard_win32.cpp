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

SRWLOCK g_install_lock = SRWLOCK_INIT;
int g_active_guards = 0; // guarded calls in progress, all threads
void *g_handler = nullptr;
// Each thread's innermost guard, in a system TLS slot taken by the first
// guard: unlike the compiler's emulated thread-locals, reading it from the
// exception handler never allocates (the fault may have struck inside the
// heap). The slot is kept for the life of the process.
DWORD g_frame_slot = TLS_OUT_OF_INDEXES;

// The TLS services reset the thread's last-error value, which a caller may
// still want to read from a system call made inside the guarded call.
GuardFrame *innermost() {
    const DWORD slot = g_frame_slot;
    if (slot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    const DWORD error = GetLastError();
    auto *frame = static_cast<GuardFrame *>(TlsGetValue(slot));
    SetLastError(error);
    return frame;
}

void set_innermost(GuardFrame *frame) {
    const DWORD error = GetLastError();
    (void)TlsSetValue(g_frame_slot, frame);
    SetLastError(error);
}

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
    std::longjmp(innermost()->jump, 1);
}

constexpr DWORD kDirectionFlag = 0x400;

LONG CALLBACK on_exception(EXCEPTION_POINTERS *info) {
    if (info == nullptr || innermost() == nullptr || info->ExceptionRecord == nullptr ||
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

// False when no TLS slot can be had; the call then runs unguarded.
bool enter_guard() {
    AcquireSRWLockExclusive(&g_install_lock);
    if (g_frame_slot == TLS_OUT_OF_INDEXES) {
        g_frame_slot = TlsAlloc();
        if (g_frame_slot == TLS_OUT_OF_INDEXES) {
            ReleaseSRWLockExclusive(&g_install_lock);
            return false;
        }
    }
    if (g_active_guards++ == 0) {
        // First in the chain, so that a fault inside a guard reaches us
        // before any handler the host has registered.
        g_handler = AddVectoredExceptionHandler(1, on_exception);
    }
    ReleaseSRWLockExclusive(&g_install_lock);
    return true;
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
    frame.outer = innermost();
    const bool outermost = frame.outer == nullptr;
    if (outermost && !enter_guard()) {
        return fn(context);
    }
    // volatile: the value must survive the jump back.
    volatile int32_t result = fault_code;
    if (setjmp(frame.jump) == 0) {
        set_innermost(&frame);
        result = fn(context);
    }
    set_innermost(frame.outer);
    if (outermost) {
        leave_guard();
    }
    return result;
}

} // namespace qrl

#endif // _WIN32
