// The two dynamically loaded modules: "user32" (message box, message peek,
// quit post, formatted print) and "advapi32" (registry open/query/close).
//
// On Windows they are the system's modules, loaded with LoadLibraryA and
// searched with GetProcAddress (modules_win32.cpp). Elsewhere the library
// provides them through a small table that stands in for the system loader;
// the lookups go by name and stop at the first name missing, exactly as with
// a real module. The stand-in registry module answers one value: USECPU
// under HKEY_LOCAL_MACHINE "Software\Corvane Corporation\Mirelle\Quorrel",
// read from the environment variable QUORREL_USECPU (absent or not a decimal
// number: the query fails).
#pragma once

#include <cstdint>

#include "dispatch/platform.h"

namespace qrl {

constexpr uintptr_t kHkeyLocalMachine = 0x80000002u;
constexpr uint32_t kKeyQueryValue = 1;
constexpr int32_t kRegSuccess = 0;
constexpr int32_t kRegNotFound = 2;
constexpr int32_t kRegMoreData = 234;
constexpr uint32_t kRegDword = 4;
constexpr const char *kRegistryKeyPath = "Software\\Corvane Corporation\\Mirelle\\Quorrel";
constexpr const char *kCpuOverrideValue = "USECPU";
constexpr const char *kCpuOverrideEnvironment = "QUORREL_USECPU";

// The formatted-print entry assumes a destination of this many bytes, the
// limit of the system service it stands in for; longer output is cut and
// always zero-terminated.
constexpr int32_t kFormatPrintLimit = 1024;

// The three user entry points looked up before the formatted print. Only
// their presence matters; the stand-ins do nothing.
using MessageBoxFn = int32_t(QRL_SYSTEM_API *)(void *window, const char *text,
                                               const char *caption, uint32_t type);
using PeekMessageFn = int32_t(QRL_SYSTEM_API *)(void *message, void *window, uint32_t first,
                                                uint32_t last, uint32_t remove);
using PostQuitMessageFn = void(QRL_SYSTEM_API *)(int32_t exit_code);
extern MessageBoxFn message_box;
extern PeekMessageFn peek_message;
extern PostQuitMessageFn post_quit_message;

// load_user_library fills these and format_print; unload_user_library clears
// all four once no kernel table holds the user module any more.

// Module access (the stand-in for the system loader). open_module returns
// null for an unknown or unavailable module.
using ModuleSymbol = void (*)();
void *open_module(const char *name);
ModuleSymbol find_module_symbol(void *module, const char *name);
void close_module(void *module);

// Test hook: makes a module appear missing (false) or present (true).
// Returns false for an unknown name.
bool set_module_available(const char *name, bool available);

} // namespace qrl
