// Module access on Windows: the system loader (LoadLibraryA, GetProcAddress,
// FreeLibrary). The loaders in modules.cpp call these for "user32" and
// "advapi32"; the registry entry points found here are the system's own, so
// the processor-class override is the USECPU value in the registry.
#ifdef _WIN32

#include <cstdint>
#include <cstring>
#include <iterator>

#include <windows.h>

#include "dispatch/modules.h"

namespace qrl {
namespace {

// The root key is passed to the registry services as it is; it equals the
// system's (sign-extended) HKEY_LOCAL_MACHINE only in a 32-bit build.
static_assert(static_cast<uintptr_t>(static_cast<LONG>(0x80000002u)) == kHkeyLocalMachine,
              "HKEY_LOCAL_MACHINE differs from kHkeyLocalMachine");

// Test hook state: a module made to appear missing is not loaded.
struct Availability {
    const char *name;
    bool available;
};
Availability g_availability[] = {{"user32", true}, {"advapi32", true}};

Availability *availability_of(const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (Availability &a : g_availability) {
        if (lstrcmpiA(a.name, name) == 0) {
            return &a;
        }
    }
    return nullptr;
}

} // namespace

void *open_module(const char *name) {
    const Availability *a = availability_of(name);
    if (a == nullptr || !a->available) {
        return nullptr;
    }
    return LoadLibraryA(name);
}

ModuleSymbol find_module_symbol(void *module, const char *name) {
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<ModuleSymbol>(
        reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name)));
}

void close_module(void *module) {
    if (module != nullptr) {
        (void)FreeLibrary(static_cast<HMODULE>(module));
    }
}

bool set_module_available(const char *name, bool available) {
    Availability *a = availability_of(name);
    if (a == nullptr) {
        return false;
    }
    a->available = available;
    return true;
}

} // namespace qrl

#endif // _WIN32
