#include "frame/message_strings.h"

#include "frame/bounded.h"
#include "frame/file_attributes.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "platform/win32.h"
#include "session/property_access.h"

#include <cstring>
#include <atomic>
#include <new>

const char* const kStringLibraryName = "fa9istring_v97.dll";

namespace {

const size_t kDirCapacity = 261;

// The engine's runtime directory, else the pFA9RuntimeDirectory property; empty when
// neither is there.
void runtimeDirectory(char* out) {
    out[0] = '\0';
    URE* engine = URE::instance();
    if (engine) engine->getRuntimeDirectory(out);
}


// Where to load the strings from: the language's folder below the runtime directory,
// else the runtime directory itself; the bare name when there is no runtime directory.
void stringLibraryPath(char* out, size_t capacity) {
    char dir[kDirCapacity];
    runtimeDirectory(dir);
    char language[URE::kLanguageCapacity];
    URE* engine = URE::instance();
    if (engine)
        engine->getLanguage(language, sizeof language);
    else
        fa9::copyText(language, sizeof language, "en_US");

    if (!dir[0]) {
        fa9::copyText(out, capacity, kStringLibraryName);
        return;
    }
    fa9::formatText(out, capacity, "%s\\locale\\%s\\%s", dir, language, kStringLibraryName);
    if (iIsUnquotedRegularFile(out)) return;
    runtimeDirectory(dir);
    fa9::formatText(out, capacity, "%s\\%s", dir, kStringLibraryName);
}

// String libraries are mapped as data only: no code in them runs, whoever put the file
// where it is looked for. Such a mapping is not a module the loader lists (GetModuleHandleA
// does not see it), so the mappings made here are kept here, for as long as this library
// stays loaded, and reused by path; a bare name finds a kept library of that file name.
const size_t kKeptLibraries = 4;
struct KeptLibrary {
    char path[kDirCapacity + 64];
    HMODULE module;
};
KeptLibrary g_kept[kKeptLibraries];
size_t g_keptCount = 0;
std::atomic_flag g_keptBusy = ATOMIC_FLAG_INIT;

// Holds the table for one short look-up or insertion (the mingw runtime of the Windows
// builds has no std::mutex; nothing here waits for long).
class KeptGuard {
public:
    KeptGuard() {
        while (g_keptBusy.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~KeptGuard() { g_keptBusy.clear(std::memory_order_release); }
    KeptGuard(const KeptGuard&) = delete;
    KeptGuard& operator=(const KeptGuard&) = delete;
};

const char* fileNameOf(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    return name;
}

// Null when no kept library answers to `path`. Caller holds a KeptGuard.
HMODULE keptLibrary(const char* path) {
    const bool bare = fileNameOf(path) == path;
    for (size_t i = 0; i < g_keptCount; ++i)
        if (fa9::equalsNoCase(bare ? fileNameOf(g_kept[i].path) : g_kept[i].path, path)) return g_kept[i].module;
    return nullptr;
}

// The library at `path`, mapped as data; `kept` false when it could not be kept (the
// caller then frees it after use). Null, with the loader's error, when it cannot be mapped.
HMODULE stringLibrary(const char* path, bool& kept) {
    KeptGuard guard;
    kept = true;
    if (HMODULE module = keptLibrary(path)) return module;
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return nullptr;
    kept = g_keptCount < kKeptLibraries && fa9::copyText(g_kept[g_keptCount].path, sizeof g_kept[0].path, path);
    if (kept) g_kept[g_keptCount++].module = module;
    return module;
}

}  // namespace

bool ureStringLibraryLoaded() {
    KeptGuard guard;
    return keptLibrary(kStringLibraryName) != nullptr;
}

void ureReleaseStringLibraries() {
    KeptGuard guard;
    for (size_t i = 0; i < g_keptCount; ++i) FreeLibrary(g_kept[i].module);
    g_keptCount = 0;
}

int ureSubstituteTokens(const char* text, const MsgTokenHolder& tokens, char* out, size_t capacity) {
    if (!out || capacity == 0) return 5006;
    size_t used = 0;
    bool cut = false;
    auto put = [&](char c) {
        if (used + 1 < capacity)
            out[used++] = c;
        else
            cut = true;
    };
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p != '%') {
            put(*p);
            continue;
        }
        ++p;
        if (*p >= '0' && *p <= '9') {
            long n = 0;
            while (*p >= '0' && *p <= '9') {
                if (n < 100000) n = n * 10 + (*p - '0');
                ++p;
            }
            --p;
            if (n == 0) {
                out[used] = '\0';
                return -1;
            }
            for (const char* t = tokens.get(static_cast<int>(n - 1)); *t; ++t) put(*t);
        } else if (*p) {
            put(*p);
        } else {
            break;  // a lone "%" at the end
        }
    }
    out[used] = '\0';
    return cut ? 5006 : 0;
}

int liteLoadString(uint32_t number, char* buffer, uint32_t size, const char* libraryPath) {
    if (!buffer || size == 0) return 5006;
    bool kept = true;
    HMODULE module = stringLibrary(libraryPath ? libraryPath : "", kept);
    if (!module) {
        DWORD error = GetLastError();
        fa9::copyText(buffer, size, "Could not load the resource library ");
        fa9::appendText(buffer, size, libraryPath);
        char reason[512];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                 reason, sizeof reason, nullptr);
        if (n > 0 && std::strlen(buffer) + n < size) fa9::appendText(buffer, size, reason);
        return 5001;
    }
    int length = LoadStringA(module, number, buffer, static_cast<int>(size));
    if (!kept) FreeLibrary(module);
    if (length <= 0) {
        fa9::formatText(buffer, size, "Unable to find the string resource %d", static_cast<int>(number));
        return 5005;
    }
    // A text that fills the buffer may have been cut: callers retry with more room.
    if (static_cast<uint32_t>(length) == size - 1) return 5006;
    return 0;
}

int ureGetString(uint32_t number, char* buffer, int size, const MsgTokenHolder* tokens) {
    if (!buffer || size <= 0) return 5006;
    char path[kDirCapacity + 64];
    stringLibraryPath(path, sizeof path);
    int rc = liteLoadString(number, buffer, static_cast<uint32_t>(size), path);
    if (rc != 0 || !tokens) return rc;
    if (static_cast<long long>(size) <= static_cast<long long>(std::strlen(buffer)) + tokens->totalLength())
        return 5006;
    char* scratch = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!scratch) {
        ureReport(URE_LOG_WARNING, "ureGetString", 60, 5002, 5002, nullptr, 0, true);
        return -1;
    }
    rc = ureSubstituteTokens(buffer, *tokens, scratch, static_cast<size_t>(size));
    fa9::copyText(buffer, static_cast<size_t>(size), scratch);
    delete[] scratch;
    return rc;
}
