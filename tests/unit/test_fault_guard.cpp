// run_guarded: faults become codes, guards nest, handlers are restored.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

#include "dispatch/platform.h"

namespace {

constexpr int32_t kFault = -77;

void *g_bad = nullptr; // a PROT_NONE page

class FaultGuard : public ::testing::Test {
protected:
    void SetUp() override {
        page_size_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        g_bad = mmap(nullptr, page_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(g_bad, MAP_FAILED);
    }
    void TearDown() override { munmap(g_bad, page_size_); }
    std::size_t page_size_ = 0;
};

int32_t read_bad(void *) {
    return *static_cast<volatile int32_t *>(g_bad);
}

int32_t write_bad(void *) {
    *static_cast<volatile int32_t *>(g_bad) = 1;
    return 0;
}

int32_t returns_context(void *context) { return *static_cast<int32_t *>(context); }

// Inner guard faults; the outer one carries on and returns its own result.
int32_t outer_with_faulting_inner(void *context) {
    auto *inner_result = static_cast<int32_t *>(context);
    *inner_result = qrl::run_guarded(read_bad, nullptr, -5);
    return 42;
}

int32_t inner_ok_then_fault(void *) {
    int32_t value = 3;
    if (qrl::run_guarded(returns_context, &value, -5) != 3) {
        return 0;
    }
    return read_bad(nullptr);
}

TEST_F(FaultGuard, NoFaultPassesTheResultThrough) {
    int32_t value = 1234;
    EXPECT_EQ(qrl::run_guarded(returns_context, &value, kFault), 1234);
    value = kFault;
    EXPECT_EQ(qrl::run_guarded(returns_context, &value, -1), kFault);
}

TEST_F(FaultGuard, AccessFaultsBecomeTheCode) {
    EXPECT_EQ(qrl::run_guarded(read_bad, nullptr, kFault), kFault);
    EXPECT_EQ(qrl::run_guarded(write_bad, nullptr, kFault), kFault);
    // Repeatedly: the signal is unblocked again after every jump back.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(qrl::run_guarded(read_bad, nullptr, -i - 1), -i - 1);
    }
}

#if defined(__i386__) || defined(__x86_64__)
// The undefined-behaviour sanitizer would stop at the division itself; the
// point here is the processor's trap.
__attribute__((no_sanitize("undefined"))) int32_t divide_by_zero(void *context) {
    volatile int32_t divisor = *static_cast<int32_t *>(context);
    volatile int32_t dividend = 7;
    return dividend / divisor;
}

TEST_F(FaultGuard, IntegerDivisionByZeroBecomesTheCode) {
    int32_t zero = 0;
    EXPECT_EQ(qrl::run_guarded(divide_by_zero, &zero, kFault), kFault);
}
#endif

TEST_F(FaultGuard, GuardsNest) {
    int32_t inner = 0;
    EXPECT_EQ(qrl::run_guarded(outer_with_faulting_inner, &inner, kFault), 42);
    EXPECT_EQ(inner, -5);
    EXPECT_EQ(qrl::run_guarded(inner_ok_then_fault, nullptr, kFault), kFault);
}

void custom_handler(int) {}

TEST_F(FaultGuard, PreviousHandlersAreRestored) {
    struct sigaction mine = {};
    mine.sa_handler = custom_handler;
    sigemptyset(&mine.sa_mask);
    struct sigaction saved[3];
    const int signals[3] = {SIGSEGV, SIGBUS, SIGFPE};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sigaction(signals[i], &mine, &saved[i]), 0);
    }
    EXPECT_EQ(qrl::run_guarded(read_bad, nullptr, kFault), kFault);
    int32_t value = 5;
    EXPECT_EQ(qrl::run_guarded(returns_context, &value, kFault), 5);
    for (int i = 0; i < 3; ++i) {
        struct sigaction now = {};
        ASSERT_EQ(sigaction(signals[i], nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, custom_handler) << "signal " << signals[i];
        sigaction(signals[i], &saved[i], nullptr);
    }
}

TEST_F(FaultGuard, ThreadsFaultIndependently) {
    struct sigaction before = {};
    ASSERT_EQ(sigaction(SIGSEGV, nullptr, &before), 0);
    std::atomic<int> wrong{0};
    auto worker = [&wrong](int32_t code) {
        for (int i = 0; i < 200; ++i) {
            int32_t value = code + 1;
            if (qrl::run_guarded(read_bad, nullptr, code) != code ||
                qrl::run_guarded(returns_context, &value, code) != code + 1) {
                ++wrong;
            }
        }
    };
    std::thread a(worker, -10);
    std::thread b(worker, -20);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
    struct sigaction after = {};
    ASSERT_EQ(sigaction(SIGSEGV, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler); // the last guard restored it
}

TEST_F(FaultGuard, FaultOutsideAnyGuardStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int32_t value = 1;
    ASSERT_EQ(qrl::run_guarded(returns_context, &value, kFault), 1);
    EXPECT_DEATH((void)read_bad(nullptr), "");
}

} // namespace
