#include "frame/osse_binding.h"

#include "platform/bounded.h"
#include "trust/trusted_accounts.h"
#include "frame/ure.h"
#include "platform/win32.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const char* const kOsseLibrary = "fa9osse_install3.dll";
const char* const kSourceName = "fa9iobs";

typedef void*(__cdecl* OssMemAlloc)(size_t, const char*, int);
typedef void(__cdecl* OssMemFree)(void*, const char*, int);

// The runtime folder's code is the installing user's to replace: it must not run as
// SYSTEM in the script, nor elevated. Only an action known to run immediately with a
// standard user's rights takes it.
// The run mode is asked here when no property read has asked it yet; without a session
// the library stays withheld.
bool withheld(const URE* engine) {
    const MSIHANDLE session = engine->sessionHandle();
    if (engine->storeMode() < 0 && session) iIsStoreMode(session);
    return engine->storeMode() != 0 || iRunsElevated();
}

// Looked up on every use, not cached: once found it stays loaded, and a lookup that
// failed (no runtime directory yet) is tried again. Only the runtime directory's copy is
// taken, by full path: a bare name lets the search order find one in any folder on it.
template <typename Function>
Function bind(const char* name) {
    URE* engine = URE::existing();
    if (!engine || withheld(engine)) return nullptr;
    char path[URE::kRuntimeDirectoryCapacity + 32];
    char directory[URE::kRuntimeDirectoryCapacity];
    if (!*engine->getRuntimeDirectory(directory) ||
        !fa9::formatText(path, sizeof path, "%s\\%s", directory, kOsseLibrary))
        return nullptr;
    HMODULE module = GetModuleHandleA(path);
    if (!module) module = LoadLibraryA(path);
    if (!module) return nullptr;
    // Through a plain function pointer type: the loader's type says nothing of the real one.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

void* ossAllocate(size_t size, int line) {
    OssMemAlloc alloc = bind<OssMemAlloc>("_ossMemAlloc");
    if (!alloc || !bind<OssMemFree>("_ossMemFree")) return nullptr;  // never take a block we could not give back
    return alloc(size, kSourceName, line);
}

void ossRelease(void* block, int line) {
    if (!block) return;
    OssMemFree release = bind<OssMemFree>("_ossMemFree");
    if (release) release(block, kSourceName, line);
}

void ureStripEnclosingQuotes(char* text) {
    if (!text) return;
    size_t n = std::strlen(text);
    // A lone quote is both first and last character but encloses nothing.
    if (n < 2 || text[0] != '"' || text[n - 1] != '"') return;
    const URE* engine = URE::existing();
    if (engine && withheld(engine)) {
        // The allocator's result, without its code.
        std::memmove(text, text + 1, n - 2);
        text[n - 2] = '\0';
        return;
    }
    char* temporary = static_cast<char*>(ossAllocate(n, __LINE__));
    if (!temporary) {
        text[0] = ' ';
        text[n - 1] = '\0';
        return;
    }
    std::memcpy(temporary, text, n);
    std::memcpy(text, temporary + 1, n - 2);
    text[n - 2] = '\0';
    ossRelease(temporary, __LINE__);
}
