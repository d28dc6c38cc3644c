// The stack protector's guard, drawn from bcrypt.dll before the protector's own start-up
// runs. That start-up keeps a guard already set; left to itself it draws one through
// CryptAcquireContext, which loads and unloads rsaenh.dll, and the installer loads this
// library anew for every custom action. bcrypt.dll is loaded with the library already.
// Built by mingw-w64 only (the GCC protector's runtime); a failed draw leaves the guard to
// that start-up as before.
#include "platform/win32.h"

extern "C" void* __stack_chk_guard;

namespace {

// Before every constructor of default priority, the protector's among them; not itself
// protected, since the guard changes while it runs.
__attribute__((constructor(101), no_stack_protector)) void drawStackGuard() {
    // The system's generator: no provider to open (and no library to load) under the
    // loader's lock.
    void* guard = nullptr;
    if (BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&guard), sizeof guard,
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG)) &&
        guard)
        __stack_chk_guard = guard;
}

}  // namespace
