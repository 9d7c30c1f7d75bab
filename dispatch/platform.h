// Platform layer: file wrappers, the module-level memory hooks, the two
// dynamically loaded modules (user and registry) and the fault guard.
#pragma once

#include <cstdint>

#include "codec/codec.h"

struct KERNEL_TABLE;

// Calling convention of the system services reached through entry points
// loaded at run time (the callee removes the arguments on 32-bit Windows).
#if defined(_WIN32)
#define QRL_SYSTEM_API __stdcall
#else
#define QRL_SYSTEM_API
#endif

namespace qrl {

// ---- Files. A handle of null means failure or no file. ----------------------
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr int32_t kSeekFromStart = 0;
constexpr int32_t kSeekFromCurrent = 1;

// Opens an existing file (no write bit in access) or creates/truncates one
// (write bit set). Returns null on failure.
void *open_file(const char *name, uint32_t access);
int32_t close_file(void *handle);                                      // nonzero on success
int32_t read_file(void *handle, void *buffer, uint32_t count, uint32_t *count_read);     // nonzero on success
int32_t write_file(void *handle, const void *buffer, uint32_t count, uint32_t *count_written);
int32_t seek_file(void *handle, int32_t distance, int32_t method);     // 1 success, 0 failure

// ---- Module-level memory hooks (installed again by every kernel-table set-up).
using CopyMemoryFn = void (*)(void *destination, const void *source, uint32_t count);
using ZeroMemoryFn = int32_t (*)(void *destination, uint32_t count);
extern CopyMemoryFn copy_memory;
extern ZeroMemoryFn zero_memory;
void install_memory_hooks();

// ---- Dynamically loaded entry points. -----------------------------------------
// The formatted-print entry of the user module (null when not loaded).
using FormatPrintFn = int32_t (*)(char *out, const char *format, ...);
extern FormatPrintFn format_print;
void load_user_library(KERNEL_TABLE *table);
void unload_user_library(KERNEL_TABLE *table);
void load_registry_library(KERNEL_TABLE *table);
void unload_registry_library(KERNEL_TABLE *table);

// ---- Fault guard. ---------------------------------------------------------------
// Runs fn(context); an access fault (SIGSEGV, SIGBUS) or arithmetic fault
// (SIGFPE) raised inside becomes fault_code instead of ending the process.
// Guards nest. Code run under a guard must not rely on destructors running.
int32_t run_guarded(int32_t (*fn)(void *context), void *context, int32_t fault_code);

} // namespace qrl
