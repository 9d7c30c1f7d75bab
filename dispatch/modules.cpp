// The user and registry modules and their loaders.
#include "dispatch/modules.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#ifndef _WIN32
#include <strings.h>
#endif

#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"

namespace qrl {

MessageBoxFn message_box = nullptr;
PeekMessageFn peek_message = nullptr;
PostQuitMessageFn post_quit_message = nullptr;
FormatPrintFn format_print = nullptr;

namespace {

#ifndef _WIN32 // on Windows the system loader serves the modules (modules_win32.cpp)
// ---- user32 stand-ins ---------------------------------------------------------
int32_t message_box_stand_in(void *, const char *, const char *, uint32_t) { return 0; }
int32_t peek_message_stand_in(void *, void *, uint32_t, uint32_t, uint32_t) { return 0; }
void post_quit_message_stand_in(int32_t) {}

// Formats into a destination assumed to hold kFormatPrintLimit bytes; returns
// the characters stored, terminator excluded.
int32_t format_print_stand_in(char *out, const char *format, ...) {
    if (out == nullptr || format == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out, kFormatPrintLimit, format, args);
    va_end(args);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return n < kFormatPrintLimit ? n : kFormatPrintLimit - 1;
}

// ---- advapi32 stand-ins ----------------------------------------------------------
// The one key this module knows, as an opaque key value.
constexpr uintptr_t kQuorrelKey = 0x51524c31u;

int32_t reg_open_key_stand_in(uintptr_t root, const char *subkey, uint32_t, uint32_t,
                              uintptr_t *key_out) {
    if (key_out == nullptr) {
        return kRegNotFound;
    }
    *key_out = 0;
    // Registry key names compare without regard to case.
    if (root != kHkeyLocalMachine || subkey == nullptr ||
        strcasecmp(subkey, kRegistryKeyPath) != 0) {
        return kRegNotFound;
    }
    *key_out = kQuorrelKey;
    return kRegSuccess;
}

// Reads QUORREL_USECPU as a decimal 32-bit integer. False when absent or not
// a number.
bool read_cpu_override_environment(int32_t *value) {
    const char *text = std::getenv(kCpuOverrideEnvironment);
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    while (*end == ' ' || *end == '\t' || *end == '\n') {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    *value = static_cast<int32_t>(parsed);
    return true;
}

int32_t reg_query_value_stand_in(uintptr_t key, const char *name, uint32_t *, uint32_t *type,
                                 uint8_t *data, uint32_t *size) {
    int32_t value = 0;
    if (key != kQuorrelKey || name == nullptr || strcasecmp(name, kCpuOverrideValue) != 0 ||
        !read_cpu_override_environment(&value)) {
        return kRegNotFound;
    }
    if (type != nullptr) {
        *type = kRegDword;
    }
    if (size == nullptr) {
        return kRegSuccess; // the caller asked for the type only
    }
    if (data == nullptr || *size < sizeof(value)) {
        *size = sizeof(value);
        return data == nullptr ? kRegSuccess : kRegMoreData;
    }
    std::memcpy(data, &value, sizeof(value));
    *size = sizeof(value);
    return kRegSuccess;
}

int32_t reg_close_key_stand_in(uintptr_t key) {
    return key == kQuorrelKey ? kRegSuccess : kRegNotFound;
}

// ---- The module table -----------------------------------------------------------
struct Symbol {
    const char *name;
    ModuleSymbol address;
};

template <typename Fn>
ModuleSymbol as_symbol(Fn fn) {
    return reinterpret_cast<ModuleSymbol>(fn);
}

struct Module {
    const char *name;
    bool available;
    const Symbol *symbols;
    int count;
};

const Symbol kUserSymbols[] = {
    {"MessageBoxA", as_symbol(message_box_stand_in)},
    {"PeekMessageA", as_symbol(peek_message_stand_in)},
    {"PostQuitMessage", as_symbol(post_quit_message_stand_in)},
    {"wsprintfA", as_symbol(format_print_stand_in)},
};

const Symbol kRegistrySymbols[] = {
    {"RegOpenKeyExA", as_symbol(reg_open_key_stand_in)},
    {"RegQueryValueExA", as_symbol(reg_query_value_stand_in)},
    {"RegCloseKey", as_symbol(reg_close_key_stand_in)},
};

// `available` is the only mutable part; tests switch it.
Module g_modules[] = {
    {"user32", true, kUserSymbols, static_cast<int>(std::size(kUserSymbols))},
    {"advapi32", true, kRegistrySymbols, static_cast<int>(std::size(kRegistrySymbols))},
};

Module *module_named(const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (Module &m : g_modules) {
        if (strcasecmp(m.name, name) == 0) {
            return &m;
        }
    }
    return nullptr;
}

#endif // !_WIN32

template <typename Fn>
bool look_up(void *module, const char *name, Fn *out) {
    const ModuleSymbol symbol = find_module_symbol(module, name);
    if (symbol == nullptr) {
        return false;
    }
    *out = reinterpret_cast<Fn>(symbol);
    return true;
}

// Kernel tables that currently hold the user module. The four user entry
// points are module-wide: they are cleared only when the last table lets go
// of the module, so freeing one record does not take the formatted print
// away from another record that is still in use.
int g_user_module_holders = 0;

} // namespace

#ifndef _WIN32
void *open_module(const char *name) {
    Module *m = module_named(name);
    return (m != nullptr && m->available) ? m : nullptr;
}

ModuleSymbol find_module_symbol(void *module, const char *name) {
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    const auto *m = static_cast<const Module *>(module);
    for (int i = 0; i < m->count; ++i) {
        if (std::strcmp(m->symbols[i].name, name) == 0) {
            return m->symbols[i].address;
        }
    }
    return nullptr;
}

void close_module(void *) {}

bool set_module_available(const char *name, bool available) {
    Module *m = module_named(name);
    if (m == nullptr) {
        return false;
    }
    m->available = available;
    return true;
}

#endif // !_WIN32

void load_user_library(KERNEL_TABLE *table) {
    if (table == nullptr) {
        return;
    }
    if (table->user32_module == nullptr) {
        table->user32_module = open_module("user32");
        if (table->user32_module == nullptr) {
            return;
        }
        ++g_user_module_holders;
    }
    // In this order, stopping at the first name not found; the formatted
    // print is therefore only present when the three before it are.
    void *m = table->user32_module;
    if (look_up(m, "MessageBoxA", &message_box) && look_up(m, "PeekMessageA", &peek_message) &&
        look_up(m, "PostQuitMessage", &post_quit_message)) {
        (void)look_up(m, "wsprintfA", &format_print);
    }
}

void unload_user_library(KERNEL_TABLE *table) {
    if (table == nullptr) {
        return;
    }
    if (table->user32_module != nullptr) {
        close_module(table->user32_module);
        table->user32_module = nullptr;
        if (g_user_module_holders > 0) {
            --g_user_module_holders;
        }
    }
    if (g_user_module_holders > 0) {
        return; // another table still holds the module
    }
    message_box = nullptr;
    peek_message = nullptr;
    post_quit_message = nullptr;
    format_print = nullptr;
}

void load_registry_library(KERNEL_TABLE *table) {
    if (table == nullptr) {
        return;
    }
    if (table->advapi32_module == nullptr) {
        table->advapi32_module = open_module("advapi32");
        if (table->advapi32_module == nullptr) {
            return;
        }
    }
    void *m = table->advapi32_module;
    if (look_up(m, "RegOpenKeyExA", &table->reg_open_key) &&
        look_up(m, "RegQueryValueExA", &table->reg_query_value)) {
        (void)look_up(m, "RegCloseKey", &table->reg_close_key);
    }
}

void unload_registry_library(KERNEL_TABLE *table) {
    if (table == nullptr) {
        return;
    }
    if (table->advapi32_module != nullptr) {
        close_module(table->advapi32_module);
        table->advapi32_module = nullptr;
    }
    table->reg_open_key = nullptr;
    table->reg_query_value = nullptr;
    table->reg_close_key = nullptr;
}

} // namespace qrl
