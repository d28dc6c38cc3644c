#include "frame/message_strings.h"

#include "frame/builtin_strings.h"

#include "platform/bounded.h"
#include "frame/file_attributes.h"
#include "frame/process_record.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "platform/win32.h"
#include "frame/string_resource.h"
#include "session/action_data.h"
#include "trust/held_path.h"
#include "trust/package_tables.h"
#include "session/property_access.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <atomic>
#include <new>
#include <string>
#include <vector>

const char* const kStringLibraryName = "fa9istring_v97.dll";
const char* const kEnglishStringsRow = "FA9ISTRING_EN_US";

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
// there. The loader does not list such mappings (GetModuleHandleA does not see them), so
// they are recorded in the process's environment, where a later custom action (a new load
// of this library) finds them; they go with the run's runtime folders
// (ureReleaseStringLibraries). This table caches the ones this load has used; a bare name
// finds a mapped library of that file name.
const size_t kKeptLibraries = 4;
const char* const kMappedVariable = "FA9WOLT_STRING_LIBRARIES";
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

bool answersTo(const char* kept, const char* path) {
    return fa9::equalsNoCase(fileNameOf(path) == path ? fileNameOf(kept) : kept, path);
}

// Keeps `module` in this load's table when there is room.
bool cache(const char* path, HMODULE module) {
    if (g_keptCount == kKeptLibraries || !fa9::copyText(g_kept[g_keptCount].path, sizeof g_kept[0].path, path))
        return false;
    g_kept[g_keptCount++].module = module;
    return true;
}

// Null when no library mapped in this process answers to `path`: this load's table
// first, then the process's record. Caller holds a KeptGuard.
HMODULE keptLibrary(const char* path) {
    for (size_t i = 0; i < g_keptCount; ++i)
        if (answersTo(g_kept[i].path, path)) return g_kept[i].module;
    for (const ProcessRecordEntry& mapped : iReadProcessRecord(kMappedVariable))
        if (answersTo(mapped.path.c_str(), path)) {
            HMODULE module = static_cast<HMODULE>(mapped.handle);
            cache(mapped.path.c_str(), module);
            return module;
        }
    return nullptr;
}

// The library at `path`, mapped as data; `kept` false when it could not be recorded (the
// caller then frees it after use). Null, with the loader's error, when it cannot be mapped.
HMODULE stringLibrary(const char* path, bool& kept) {
    KeptGuard guard;
    kept = true;
    if (HMODULE module = keptLibrary(path)) return module;
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return nullptr;
    std::vector<ProcessRecordEntry> record = iReadProcessRecord(kMappedVariable);
    kept = cache(path, module);
    if (kept) {
        record.push_back({module, path});
        iWriteProcessRecord(kMappedVariable, record);
    }
    return module;
}

// ---- the script's texts: from the installer's copy of the package

// In the script the runtime folder is the installing user's, so its string library is
// never read: the texts come from the package's row for the language (else the English
// row), read once a custom action, or when the package cannot be had (a copy others could
// change) from the English library built into this one.
struct ScriptStrings {
    int script = -1;  // whether the action runs in the script: asked once
    bool tried = false;
    std::vector<unsigned char> image;  // the library's file
};
ScriptStrings g_script;  // its state guarded like the kept libraries

bool inScript() {
    {
        KeptGuard guard;
        if (g_script.script >= 0) return g_script.script == 1;
    }
    URE* engine = URE::existing();
    if (!engine || engine->sessionHandle() == 0) return false;
    const bool script = iRunsInScript(engine->sessionHandle());
    KeptGuard guard;
    g_script.script = script ? 1 : 0;
    return script;
}

// The package's library for the language, else the built-in English one. Nothing here
// reports (a report would ask for its text again).
std::vector<unsigned char> readScriptStrings() {
    std::vector<unsigned char> image;
    URE* engine = URE::existing();
    std::string path;
    HeldPath held;
    PackageFile package;
    if (engine && iOpenPackageCopy(engine->sessionHandle(), held, package, path)) {
        char row[64];
        ureStringLibraryRow(row, sizeof row);
        if (package.readBinary(row, image) || package.readBinary(kEnglishStringsRow, image)) return image;
    }
    size_t size = 0;
    const unsigned char* builtIn = iBuiltInStrings(size);
    return std::vector<unsigned char>(builtIn, builtIn + size);
}

// Read once a custom action, outside the guard (it asks the installer and reads a file).
const std::vector<unsigned char>& scriptStrings() {
    {
        KeptGuard guard;
        if (g_script.tried) return g_script.image;
    }
    std::vector<unsigned char> image = readScriptStrings();
    KeptGuard guard;
    if (!g_script.tried) {
        g_script.tried = true;
        g_script.image.swap(image);
    }
    return g_script.image;
}

// String `number` of the library's file `image`, as LoadStringA gives it: in the ANSI
// code page, cut to `size` (5006 when it may have been cut).
int imageString(const std::vector<unsigned char>& image, uint32_t number, char* buffer, uint32_t size) {
    std::u16string text;
    if (!iFindStringResource(image.data(), image.size(), number, text)) {
        fa9::formatText(buffer, size, "Unable to find the string resource %d", static_cast<int>(number));
        return 5005;
    }
    const std::wstring wide(text.begin(), text.end());  // each UTF-16 unit as it is
    const int needed = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string ansi(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0 && WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &ansi[0], needed,
                                          nullptr, nullptr) != needed)
        ansi.clear();
    const size_t kept = ansi.size() < size - 1 ? ansi.size() : size - 1;
    std::memcpy(buffer, ansi.data(), kept);
    buffer[kept] = '\0';
    // A text that fills the buffer may have been cut: callers retry with more room.
    return kept == size - 1 ? 5006 : 0;
}

}  // namespace

void ureStringLibraryRow(char* out, size_t capacity) {
    char language[URE::kLanguageCapacity] = "en_US";
    if (const URE* engine = URE::instance()) engine->getLanguage(language, sizeof language);
    fa9::formatText(out, capacity, "FA9ISTRING_%s", language);
    for (char* c = out; *c; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
}

bool ureStringLibraryLoaded() {
    KeptGuard guard;
    return g_script.tried || keptLibrary(kStringLibraryName) != nullptr;
}

void ureReleaseStringLibraries() {
    KeptGuard guard;
    g_script = ScriptStrings();
    std::vector<HMODULE> freed;
    for (const ProcessRecordEntry& mapped : iReadProcessRecord(kMappedVariable)) {
        freed.push_back(static_cast<HMODULE>(mapped.handle));
        FreeLibrary(freed.back());
    }
    for (size_t i = 0; i < g_keptCount; ++i)
        if (std::find(freed.begin(), freed.end(), g_kept[i].module) == freed.end()) FreeLibrary(g_kept[i].module);
    g_keptCount = 0;
    iWriteProcessRecord(kMappedVariable, {});
}

void ureForgetStringLibraries() {
    KeptGuard guard;
    g_script = ScriptStrings();
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
    if (inScript()) return imageString(scriptStrings(), number, buffer, size);
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

uint32_t ureRefusalMessage(Gate verdict) {
    switch (verdict) {
    case Gate::OpenToOthers: return 7114;
    case Gate::Link:
    case Gate::Elsewhere: return 7117;
    case Gate::NotLocal: return 7118;
    default: return 7119;  // Missing, Busy (Accepted is no refusal)
    }
}
