// The module loader of the simulated Windows: LoadLibraryA and friends on real PE
// files below the machine's root, and LoadStringA on their string tables.
//
// Nothing is mapped or run. A module is its parsed export and resource directories;
// GetProcAddress hands out host functions that tests register for a DLL's base name
// (Machine::registerNativeModule), and only for names the PE file really exports.
#include "module_table.h"
#include "paths.h"
#include "winsim/control.h"

#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <atomic>
#include <mutex>

namespace winsim {

namespace {

constexpr const char* kExecutableName = "msiexec.exe";

bool isPathSep(char c) { return c == '\\' || c == '/'; }

// A name "has a path" for the loader as soon as it names a folder or a drive.
bool hasPath(const std::string& name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

// The loader appends ".dll" to a file name without an extension; a trailing dot
// means "no extension, append nothing" and is dropped when the path is formed.
std::string withDefaultExtension(const std::string& name) {
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i)
        if (isPathSep(name[i]) || name[i] == ':') start = i + 1;
    if (name.find('.', start) != std::string::npos) return name;
    return name + ".dll";
}

std::string bareBaseName(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    return name;
}

std::string windowsDirectory(const Machine& m) {
    const std::string& sys = m.systemDirectory;
    size_t cut = sys.find_last_of('\\');
    return cut == std::string::npos || cut < 3 ? sys.substr(0, 3) : sys.substr(0, cut);
}

// Standard search order with SafeDllSearchMode (the default) for a process whose
// executable lies in the system folder: the application folder (= the system folder),
// the 16-bit system folder, the Windows folder, the current folder, then PATH.
std::vector<std::string> searchFolders(const Machine& m) {
    const std::string windows = windowsDirectory(m);
    std::vector<std::string> dirs{m.systemDirectory, windows + "\\System", windows, m.currentDirectory()};
    auto path = m.environment.find("PATH");
    if (path != m.environment.end()) {
        const std::string& list = path->second;
        size_t i = 0;
        while (i <= list.size()) {
            size_t j = list.find(';', i);
            if (j == std::string::npos) j = list.size();
            if (j > i) dirs.push_back(list.substr(i, j - i));
            i = j + 1;
        }
    }
    return dirs;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && isPathSep(dir.back())) return dir + name;
    return dir + "\\" + name;
}

// ---- ANSI conversion as LoadStringA does it (RtlUnicodeToMultiByteN) ----

class AnsiEncoder {
public:
    explicit AnsiEncoder(UINT codePage) : codePage_(codePage) {
        if (codePage_ == 65001) return;
        char name[32];
        int n = std::snprintf(name, sizeof name, "CP%u", codePage);
        if (n > 0 && size_t(n) < sizeof name) cd_ = iconv_open(name, "UTF-16LE");
    }
    ~AnsiEncoder() {
        if (cd_ != invalid()) iconv_close(cd_);
    }
    AnsiEncoder(const AnsiEncoder&) = delete;
    AnsiEncoder& operator=(const AnsiEncoder&) = delete;

    // At most `maxBytes` bytes. Code-page tables map one UTF-16 unit at a time, so each
    // half of a surrogate pair becomes the default character '?', as does every unit
    // the code page lacks; a double-byte character that does not fit in full ends the
    // copy (no lead byte alone).
    std::string encode(const uint16_t* s, size_t n, size_t maxBytes) {
        if (codePage_ == 65001) return utf8(s, n, maxBytes);
        std::string out;
        for (size_t i = 0; i < n; ++i) {
            std::string ch = unit(s[i]);
            if (out.size() + ch.size() > maxBytes) break;
            out += ch;
        }
        return out;
    }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

    std::string unit(uint16_t u) {
        if (u < 0x80) return std::string(1, char(u));
        if (u >= 0xD800 && u <= 0xDFFF) return "?";
        if (cd_ == invalid()) return "?";
        char in[2] = {char(u & 0xFF), char(u >> 8)};
        char buf[8];
        char* inp = in;
        size_t inLeft = 2;
        char* outp = buf;
        size_t outLeft = sizeof buf;
        size_t r = iconv(cd_, &inp, &inLeft, &outp, &outLeft);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (r == size_t(-1) || inLeft != 0 || outp == buf) return "?";
        return std::string(buf, outp);
    }

    static std::string utf8(const uint16_t* s, size_t n, size_t maxBytes) {
        std::string out;
        for (size_t i = 0; i < n; ++i) {
            uint32_t c = s[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            std::string ch;
            if (c < 0x80) {
                ch += char(c);
            } else if (c < 0x800) {
                ch += char(0xC0 | (c >> 6));
                ch += char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                ch += char(0xE0 | (c >> 12));
                ch += char(0x80 | ((c >> 6) & 0x3F));
                ch += char(0x80 | (c & 0x3F));
            } else {
                ch += char(0xF0 | (c >> 18));
                ch += char(0x80 | ((c >> 12) & 0x3F));
                ch += char(0x80 | ((c >> 6) & 0x3F));
                ch += char(0x80 | (c & 0x3F));
            }
            if (out.size() + ch.size() > maxBytes) break;
            out += ch;
        }
        return out;
    }

    UINT codePage_;
    iconv_t cd_ = invalid();
};

// FindResource's choice for a resource asked for in the neutral language: the
// thread's language (here the system default language, as a custom-action server
// runs), that language without its sublanguage, neutral, English, then the first
// language present.
const std::vector<uint16_t>* chooseLanguage(const PeImage::LanguageData& block, LANGID systemLanguage) {
    const LANGID order[] = {systemLanguage, LANGID(MAKELANGID(PRIMARYLANGID(systemLanguage), 0)),
                            LANGID(MAKELANGID(LANG_NEUTRAL, 0)), LANGID(MAKELANGID(0x09, SUBLANG_DEFAULT))};
    for (LANGID want : order)
        for (const auto& [lang, data] : block)
            if (lang == want) return &data;
    return block.empty() ? nullptr : &block.front().second;
}

}  // namespace

// ---- the module table ----

Machine::ModuleTable::Module* Machine::ModuleTable::byHandle(HMODULE h) const {
    for (const auto& m : modules)
        if (m->handle == h) return m.get();
    return nullptr;
}

Machine::ModuleTable::Module* Machine::ModuleTable::byFullPath(const std::string& fullPath) const {
    for (const auto& m : modules)
        if (!m->dataFile && equalsNoCase(m->fullPath, fullPath)) return m.get();
    return nullptr;
}

Machine::ModuleTable::Module* Machine::ModuleTable::byBaseName(const std::string& baseName) const {
    for (const auto& m : modules)
        if (!m->dataFile && equalsNoCase(m->baseName, baseName)) return m.get();
    return nullptr;
}

uintptr_t Machine::ModuleTable::nextBase() {
    static std::atomic<uintptr_t> next{0x10000000};
    return next.fetch_add(0x100000);
}

std::vector<std::string> Machine::loadedModules() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    std::vector<std::string> paths;
    for (const auto& m : modules_->modules)
        if (!m->dataFile) paths.push_back(m->fullPath);
    return paths;
}

std::vector<std::string> Machine::dataFileModules() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    std::vector<std::string> paths;
    for (const auto& m : modules_->modules)
        if (m->dataFile) paths.push_back(m->fullPath);
    return paths;
}

std::vector<std::string> Machine::entryPointsRun() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return modules_->entryPointsRun;
}

}  // namespace winsim

using winsim::Machine;
using Module = winsim::Machine::ModuleTable::Module;

namespace {

// The loader's common path: a module already in the list (counted once more), else the
// file found by the search rules, parsed and added; `dataFile` maps it as data only,
// which runs nothing and keeps it off the list.
HMODULE loadModule(LPCSTR lpLibFileName, bool dataFile, bool imageResource) {
    if (!lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    Machine::ModuleTable& table = m.modules();
    if (!*lpLibFileName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::string name = winsim::withDefaultExtension(lpLibFileName);

    std::string found;
    if (winsim::hasPath(name)) {
        found = m.fullPath(name);
        if (Module* loaded = table.byFullPath(found)) {
            ++loaded->refCount;
            return loaded->handle;
        }
        m.noteFileSystemCall(found);
        if (!m.fileExists(found)) found.clear();
    } else {
        // A module of the same name is used wherever it was loaded from.
        if (Module* loaded = table.byBaseName(winsim::bareBaseName(name))) {
            ++loaded->refCount;
            return loaded->handle;
        }
        for (const std::string& dir : winsim::searchFolders(m)) {
            std::string candidate = m.fullPath(winsim::joinPath(dir, name));
            m.noteFileSystemCall(candidate);
            if (m.fileExists(candidate)) {
                found = candidate;
                break;
            }
        }
    }
    if (found.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (Module* loaded = table.byFullPath(found)) {
        ++loaded->refCount;
        return loaded->handle;
    }

    std::string bytes;
    try {
        bytes = m.readFile(found);
    } catch (const std::exception&) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::optional<winsim::PeImage> image = winsim::PeImage::parse(bytes);
    if (!image) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    auto module = std::make_unique<Module>();
    module->fullPath = found;
    module->baseName = winsim::paths::baseName(found);
    // A data mapping's handle is its base with a low bit set, 2 for an image resource.
    module->handle =
        reinterpret_cast<HMODULE>(Machine::ModuleTable::nextBase() + (dataFile ? (imageResource ? 2 : 1) : 0));
    module->refCount = 1;
    module->dataFile = dataFile;
    module->image = std::move(*image);
    // Loading as code runs the library's entry point; a data mapping runs nothing.
    if (!dataFile && module->image.entryPoint() != 0) table.entryPointsRun.push_back(found);
    HMODULE h = module->handle;
    table.modules.push_back(std::move(module));
    return h;
}

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) { return loadModule(lpLibFileName, false, false); }

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    const DWORD known = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    if (hFile || (dwFlags & ~known)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return loadModule(lpLibFileName, dwFlags != 0, (dwFlags & LOAD_LIBRARY_AS_IMAGE_RESOURCE) != 0);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    using Table = Machine::ModuleTable;
    if (!lpModuleName) return Table::executableHandle();
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    const std::string name = winsim::withDefaultExtension(lpModuleName);
    if (*lpModuleName) {
        if (winsim::hasPath(name)) {
            const std::string full = m.fullPath(name);
            if (Module* loaded = m.modules().byFullPath(full)) return loaded->handle;
            if (winsim::equalsNoCase(full, winsim::joinPath(m.systemDirectory, winsim::kExecutableName)))
                return Table::executableHandle();
        } else {
            const std::string base = winsim::bareBaseName(name);
            if (Module* loaded = m.modules().byBaseName(base)) return loaded->handle;
            if (winsim::equalsNoCase(base, winsim::kExecutableName)) return Table::executableHandle();
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (!hLibModule) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The executable is loaded for the life of the process; freeing it changes nothing.
    if (hLibModule == Machine::ModuleTable::executableHandle()) return TRUE;
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    auto& modules = m.modules().modules;
    for (auto it = modules.begin(); it != modules.end(); ++it) {
        if ((*it)->handle != hLibModule) continue;
        if (--(*it)->refCount == 0) modules.erase(it);
        return TRUE;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!hModule || hModule == Machine::ModuleTable::executableHandle()) {
        SetLastError(ERROR_PROC_NOT_FOUND);  // the executable exports nothing
        return nullptr;
    }
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    Module* module = m.modules().byHandle(hModule);
    if (!module || module->dataFile) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string name;
    if (reinterpret_cast<uintptr_t>(lpProcName) <= 0xFFFF) {
        // An ordinal; a function exported by ordinal only has no name to find a host
        // implementation by.
        auto byOrdinal = module->image.nameOfOrdinal(WORD(reinterpret_cast<uintptr_t>(lpProcName)));
        if (!byOrdinal) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        name = *byOrdinal;
    } else {
        name = lpProcName;  // export names are case-sensitive
    }
    if (!module->image.exportsName(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    const std::map<std::string, FARPROC>* native = m.nativeExports(module->baseName);
    if (!native) {
        const std::string& base = module->baseName;
        size_t dot = base.find_last_of('.');
        if (dot != std::string::npos) native = m.nativeExports(base.substr(0, dot));
    }
    if (native) {
        auto it = native->find(name);
        if (it != native->end() && it->second) return it->second;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

// The machine's ANSI code page, as LoadStringA converts: the bytes needed, or 0 with
// ERROR_INSUFFICIENT_BUFFER when they do not fit.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const wchar_t* lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar) {
    if (CodePage != CP_ACP || dwFlags || lpDefaultChar || lpUsedDefaultChar || !lpWideCharStr || cchWideChar < 0 ||
        cbMultiByte < 0 || (cbMultiByte && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<uint16_t> units(lpWideCharStr, lpWideCharStr + cchWideChar);
    Machine& m = Machine::current();
    winsim::AnsiEncoder encoder(m.ansiCodePage);
    const std::string text = encoder.encode(units.data(), units.size(), SIZE_MAX);
    if (cbMultiByte == 0) return int(text.size());
    if (text.size() > size_t(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, text.data(), text.size());
    return int(text.size());
}

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    // Windows answers a zero-sized buffer with -1 and writes nothing.
    if (cchBufferMax == 0) return -1;
    // Windows would fault on these; the simulation refuses them instead.
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());

    // Only the low word is the id: string ids are 16 bits.
    const WORD id = WORD(uID & 0xFFFF);
    const std::vector<uint16_t>* block = nullptr;
    DWORD error = ERROR_SUCCESS;
    Module* module = hInstance ? m.modules().byHandle(hInstance) : nullptr;
    if (!module || !module->image.hasResources()) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;  // also the executable, which has no resources here
    } else if (!module->image.hasStringTables()) {
        error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    } else if (const auto* languages = module->image.stringBlock(WORD((id >> 4) + 1))) {
        block = winsim::chooseLanguage(*languages, m.systemLanguage);
    }
    if (!block && error == ERROR_SUCCESS) error = ERROR_RESOURCE_NAME_NOT_FOUND;
    if (!block) {
        lpBuffer[0] = '\0';
        SetLastError(error);
        return 0;
    }

    // A block holds 16 strings, each a length and that many UTF-16 units; an absent
    // string has length 0.
    size_t pos = 0;
    for (unsigned i = 0; i < (id & 0xF) && pos < block->size(); ++i) pos += size_t((*block)[pos]) + 1;
    if (pos >= block->size()) {
        lpBuffer[0] = '\0';
        return 0;
    }
    size_t length = (*block)[pos];
    if (length > block->size() - pos - 1) length = block->size() - pos - 1;
    winsim::AnsiEncoder encoder(m.ansiCodePage);
    const std::string text = encoder.encode(block->data() + pos + 1, length, size_t(cchBufferMax) - 1);
    std::memcpy(lpBuffer, text.data(), text.size());
    lpBuffer[text.size()] = '\0';
    return int(text.size());
}

}  // extern "C"
