// Turning processor faults into result codes.
//
// run_guarded installs handlers for SIGSEGV, SIGBUS and SIGFPE while at least
// one guard is active anywhere in the process and restores the previous
// handlers when the last one ends. Each thread keeps its own chain of jump
// points; the handler jumps back to the innermost guard of the faulting
// thread. A fault outside any guard goes to the handler that was installed
// before ours (or to the default action), so faults elsewhere in the host
// program keep their usual meaning.
#ifndef _WIN32 // the Windows build uses fault_guard_win32.cpp

#include <csetjmp>
#include <csignal>
#include <mutex>

#include "dispatch/platform.h"

namespace qrl {
namespace {

struct GuardFrame {
    sigjmp_buf jump;
    GuardFrame *outer;
};

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE};
constexpr int kSignalCount = 3;

// initial-exec: reading the chain from the handler must not allocate.
__attribute__((tls_model("initial-exec"))) thread_local GuardFrame *t_innermost = nullptr;

std::mutex g_install_mutex;
int g_active_guards = 0;               // guarded calls in progress, all threads
struct sigaction g_previous[kSignalCount]; // handlers to restore and to forward to

int signal_slot(int signal_number) {
    for (int i = 0; i < kSignalCount; ++i) {
        if (kGuardedSignals[i] == signal_number) {
            return i;
        }
    }
    return -1;
}

// Async-signal-safe: touches only the thread's own chain, sigaction and
// siglongjmp.
void on_fault(int signal_number, siginfo_t *info, void *ucontext) {
    GuardFrame *frame = t_innermost;
    if (frame != nullptr) {
        siglongjmp(frame->jump, 1);
    }
    const int slot = signal_slot(signal_number);
    if (slot < 0) {
        return;
    }
    const struct sigaction &previous = g_previous[slot];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal_number, info, ucontext);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
        previous.sa_handler != nullptr) {
        previous.sa_handler(signal_number);
        return;
    }
    // Default action: reinstate it; the faulting instruction runs again and
    // the process ends as it would have without us.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
}

void enter_guard() {
    std::lock_guard<std::mutex> lock(g_install_mutex);
    if (g_active_guards++ == 0) {
        struct sigaction action = {};
        action.sa_sigaction = on_fault;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < kSignalCount; ++i) {
            sigaction(kGuardedSignals[i], &action, &g_previous[i]);
        }
    }
}

void leave_guard() {
    std::lock_guard<std::mutex> lock(g_install_mutex);
    if (--g_active_guards == 0) {
        for (int i = 0; i < kSignalCount; ++i) {
            sigaction(kGuardedSignals[i], &g_previous[i], nullptr);
        }
    }
}

} // namespace

int32_t run_guarded(int32_t (*fn)(void *context), void *context, int32_t fault_code) {
    GuardFrame frame;
    frame.outer = t_innermost;
    const bool outermost = frame.outer == nullptr;
    if (outermost) {
        enter_guard();
    }
    int32_t result;
    // The signal mask is saved so that the jump back also unblocks the
    // signal that was being handled.
    if (sigsetjmp(frame.jump, 1) == 0) {
        t_innermost = &frame;
        result = fn(context);
    } else {
        result = fault_code;
    }
    t_innermost = frame.outer;
    if (outermost) {
        leave_guard();
    }
    return result;
}

} // namespace qrl

#endif // !_WIN32
