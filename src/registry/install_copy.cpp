#include "registry/install_copy.h"

#include "platform/bounded.h"
#include "frame/ure.h"
#include "session/property_access.h"

#include <cstring>
#include <new>

const char* const kProductKey = "SOFTWARE\\ZNK\\FA9";
const char* const kInstalledCopiesKey = "SOFTWARE\\ZNK\\FA9\\InstalledCopies";
const char* const kVersion8CopyName = "FA9V8";

namespace {

const char* const kCurrentVersionKey = "SOFTWARE\\ZNK\\FA9\\CurrentVersion";
const char* const kPathValue = "FA9 Path Name";
const DWORD kValueCapacity = 256;
const DWORD kEnumNameCapacity = 256;  // names up to 255 characters
const DWORD kShortPathCapacity = 261;
const DWORD kCopyNameCapacity = 129;
const DWORD kCopyNameReadCapacity = 1024;  // what iGetCopyName writes
const UINT kNoSession = 5003;
const UINT kPathNotFound = 5007;

void dropTrailingBackslash(char* path) {
    size_t n = std::strlen(path);
    if (n && path[n - 1] == '\\') path[n - 1] = '\0';
}

UINT copyOut(const char* text, char* buffer, DWORD capacity) {
    if (!buffer) return kRegistryMissingArgument;
    if (std::strlen(text) + 1 > capacity) return kRegistryBufferTooSmall;
    fa9::copyText(buffer, capacity, text);
    return 0;
}

// The 8.3 form of `path` in `out` (261 characters); false when it has none.
bool shortForm(const char* path, char* out) {
    DWORD n = GetShortPathNameA(path, out, kShortPathCapacity);
    return n != 0 && n < kShortPathCapacity;
}

}  // namespace

// ---- OwnedTextList ----

OwnedTextList::~OwnedTextList() {
    destroyItems([](char* text) { delete[] text; });
}

bool OwnedTextList::appendCopy(const char* text) {
    const size_t n = fa9::textLength(text) + 1;
    char* copy = new (std::nothrow) char[n];
    if (!copy) return false;
    fa9::copyText(copy, n, text);
    if (append(copy)) return true;
    delete[] copy;
    return false;
}

// ---- InstallCopy ----

InstallCopy::InstallCopy(const char* name, bool use32BitView, bool use64BitView) {
    fa9::copyText(name_, kNameCapacity, name);  // cut to 64 characters
    view32_ = use32BitView ? KEY_WOW64_32KEY : 0;
    view64_ = use64BitView ? KEY_WOW64_64KEY : 0;
    if (!name_[0]) return;

    if (fa9::equalsNoCase(name_, kVersion8CopyName)) {
        version8_ = true;
        fa9::copyText(registryKey_, kKeyCapacity, kProductKey);
    } else {
        fa9::formatText(registryKey_, kKeyCapacity, "%s\\%s", kInstalledCopiesKey, name_);
    }

    {
        FA9iRegistry key;
        if (key.open(HKEY_LOCAL_MACHINE, registryKey_, KEY_QUERY_VALUE | viewBits()) != ERROR_SUCCESS ||
            key.queryValue(kPathValue, installPath_, kValueCapacity) != 0) {
            installPath_[0] = '\0';
            invalid_ = 1;
            return;
        }
    }
    dropTrailingBackslash(installPath_);

    char sub[kKeyCapacity + 16];
    fa9::formatText(sub, sizeof sub, "%s\\Users", registryKey_);
    FA9iRegistry users;
    perUser_ = users.open(HKEY_LOCAL_MACHINE, sub, KEY_QUERY_VALUE) == ERROR_SUCCESS;

    fa9::formatText(sub, sizeof sub, "%s\\COMPONENTS", registryKey_);
    FA9iRegistry key;
    LONG rc = perUser_ ? key.open(HKEY_CURRENT_USER, sub, KEY_QUERY_VALUE | view32_)
                       : key.open(HKEY_LOCAL_MACHINE, sub, KEY_QUERY_VALUE | viewBits());
    if (rc != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        char valueName[kEnumNameCapacity];
        DWORD length = kEnumNameCapacity;
        if (RegEnumValueA(key.key(), index, valueName, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;  // ERROR_NO_MORE_ITEMS, or a failure: keep what was read
        if (!components_.appendCopy(valueName)) break;
    }
}

InstallCopy::~InstallCopy() {
    delete products_;
    delete instances_;
}

UINT InstallCopy::getName(char* buffer, DWORD capacity) const { return copyOut(name_, buffer, capacity); }

UINT InstallCopy::getInstallPath(char* buffer, DWORD capacity) const { return copyOut(installPath_, buffer, capacity); }
UINT InstallCopy::getRegistryKey(char* buffer, DWORD capacity) const { return copyOut(registryKey_, buffer, capacity); }

UINT InstallCopy::getShortInstallPath(char* buffer, DWORD capacity) const {
    if (!buffer) return kRegistryMissingArgument;
    DWORD n = GetShortPathNameA(installPath_, buffer, capacity);
    if (n == 0) return kRegistryFailed;
    // A buffer that is too small is left untouched and the size it needs comes back.
    if (n >= capacity) return kRegistryBufferTooSmall;
    return 0;
}

bool InstallCopy::readFlag(const char* valueName) const {
    if (!name_[0]) return false;
    char sub[kKeyCapacity];
    if (!fa9::formatText(sub, sizeof sub, "%s\\%s", kInstalledCopiesKey, name_)) return false;
    FA9iRegistry key;
    char value[kValueCapacity];
    return key.open(HKEY_LOCAL_MACHINE, sub, KEY_QUERY_VALUE | viewBits()) == ERROR_SUCCESS &&
           key.queryValue(valueName, value, kValueCapacity) == 0 && fa9::equalsNoCase(value, "YES");
}

bool InstallCopy::isMergeModuleCopy() const { return readFlag("IsMergeModuleCopy"); }

bool InstallCopy::isClientInterfaceOnlyCopy() const { return readFlag("ClientInterfaceOnlyCopy"); }

bool InstallCopy::matchesInstalledCopiesValue(const char* valueName) const {
    if (!name_[0]) return false;
    FA9iRegistry key;
    char value[kValueCapacity];
    return key.open(HKEY_LOCAL_MACHINE, kInstalledCopiesKey, KEY_QUERY_VALUE | viewBits()) == ERROR_SUCCESS &&
           key.queryValue(valueName, value, kValueCapacity) == 0 && fa9::equalsNoCase(value, name_);
}

// The version 8 copy is the default one; else the key's default value names it.
bool InstallCopy::isDefaultCopy() const { return version8_ || matchesInstalledCopiesValue(nullptr); }

bool InstallCopy::isDefaultClientInterfaceCopy() const {
    return matchesInstalledCopiesValue("defaultClientInterfaceCopy");
}

UINT InstallCopy::readGlobalProfile(const char* valueName, char* buffer, DWORD size) const {
    char sub[kKeyCapacity + 16];
    fa9::formatText(sub, sizeof sub, "%s\\GLOBAL_PROFILE", registryKey_);
    FA9iRegistry key;
    if (key.open(HKEY_LOCAL_MACHINE, sub, KEY_QUERY_VALUE | viewBits()) != ERROR_SUCCESS) {
        if (size) buffer[0] = '\0';
        return kRegistryFailed;
    }
    LONG rc = key.queryText(valueName, buffer, size);
    if (rc == ERROR_SUCCESS) return 0;
    return rc == ERROR_MORE_DATA ? kRegistryBufferTooSmall : kRegistryFailed;
}

UINT InstallCopy::getDefaultInstance(char* buffer, DWORD size) const {
    if (!name_[0] || !buffer) return kRegistryMissingArgument;
    return readGlobalProfile("FA9INSTDEF", buffer, size);
}

UINT InstallCopy::getAdminGroup(char* buffer, DWORD capacity) const {
    if (!buffer) return kRegistryMissingArgument;
    if (capacity < kAdminGroupCapacity) return kRegistryBufferTooSmall;
    return readGlobalProfile("FA9_ADMINGROUP", buffer, kAdminGroupCapacity) == 0 ? 0 : kRegistryFailed;
}

// ---- InstallCopyList ----

InstallCopyList::InstallCopyList(bool use32BitView, bool use64BitView) {
    view32_ = use32BitView ? KEY_WOW64_32KEY : 0;
    view64_ = use64BitView ? KEY_WOW64_64KEY : 0;
    const DWORD view = view32_ | view64_;

    {
        FA9iRegistry current;
        char version[kValueCapacity];
        if (current.open(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_QUERY_VALUE | view) == ERROR_SUCCESS &&
            current.queryValue("Version", version, kValueCapacity) == 0 && fa9::leadingInteger(version) == 8) {
            InstallCopy* copy = new (std::nothrow) InstallCopy(kVersion8CopyName, use32BitView, false);
            if (!copy || copy->isInvalid()) {
                // Without its version 8 copy the list would mislead; read nothing more.
                delete copy;
                loadError_ = true;
                return;
            }
            if (!adopt(copy)) {
                loadError_ = true;
                return;
            }
            version8_ = copy;
        }
    }

    FA9iRegistry copies;
    if (copies.open(HKEY_LOCAL_MACHINE, kInstalledCopiesKey, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | view) !=
        ERROR_SUCCESS)
        return;  // no copies of the current generation: not an error
    for (DWORD index = 0;; ++index) {
        char name[kEnumNameCapacity];
        DWORD length = kEnumNameCapacity;
        LONG rc = RegEnumKeyExA(copies.key(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            loadError_ = true;
            break;
        }
        InstallCopy* copy = new (std::nothrow) InstallCopy(name, use32BitView, false);
        if (!copy) {
            loadError_ = true;
            break;
        }
        if (copy->isInvalid()) {
            OutputDebugStringA("Invalid Installation Name");
            OutputDebugStringA(name);
            delete copy;
            continue;
        }
        if (!adopt(copy)) {
            loadError_ = true;
            break;
        }
    }
}

InstallCopyList::~InstallCopyList() {
    destroyItems([](InstallCopy* copy) { delete copy; });
}

bool InstallCopyList::adopt(InstallCopy* copy) {
    if (append(copy)) return true;
    delete copy;
    return false;
}

template <typename Match>
UINT InstallCopyList::find(InstallCopy** out, Match match) {
    Node* saved = cursorNode();
    resetCursor();
    InstallCopy* found = nullptr;
    for (InstallCopy* copy = next(); copy; copy = next()) {
        if (match(*copy)) {
            found = copy;
            break;
        }
    }
    setCursorNode(saved);
    *out = found;
    return found ? 0 : kRegistryNoMatch;
}

UINT InstallCopyList::findByPath(const char* path, InstallCopy** out) {
    if (!out) return kRegistryMissingArgument;
    *out = nullptr;
    if (!path) return kRegistryMissingArgument;
    char wanted[kShortPathCapacity];
    // A path longer than MAX_PATH has no short form either.
    if (!fa9::copyText(wanted, sizeof wanted, path)) return kRegistryFailed;
    dropTrailingBackslash(wanted);
    char wantedShort[kShortPathCapacity];
    if (!shortForm(wanted, wantedShort)) return kRegistryFailed;
    return find(out, [&](const InstallCopy& copy) {
        char copyShort[kShortPathCapacity];
        return shortForm(copy.installPath(), copyShort) && fa9::equalsNoCase(copyShort, wantedShort);
    });
}

UINT InstallCopyList::findByName(const char* name, InstallCopy** out) {
    if (!out) return kRegistryMissingArgument;
    *out = nullptr;
    if (!name) return kRegistryMissingArgument;
    return find(out, [&](const InstallCopy& copy) { return fa9::equalsNoCase(copy.name(), name); });
}

bool InstallCopyList::containsName(const char* name) {
    InstallCopy* found = nullptr;
    return name && findByName(name, &found) == 0;
}

bool InstallCopyList::contains(const InstallCopy* copy) { return copy && containsName(copy->name()); }

UINT InstallCopyList::findDefaultCopy(InstallCopy** out) {
    if (!out) return kRegistryMissingArgument;
    return find(out, [](const InstallCopy& copy) { return copy.isDefaultCopy(); });
}

UINT InstallCopyList::findDefaultClientInterfaceCopy(InstallCopy** out) {
    if (!out) return kRegistryMissingArgument;
    return find(out, [](const InstallCopy& copy) { return copy.isDefaultClientInterfaceCopy(); });
}

InstallCopyListSingleton* InstallCopyListSingleton::getInstance() {
    // Built once, without a lock: custom actions run one at a time.
    static InstallCopyListSingleton* instance = nullptr;
    if (!instance) instance = new (std::nothrow) InstallCopyListSingleton();
    return instance;
}

// ---- liteGetCopyInstallPath ----

namespace {

// Reads the copy's "FA9 Path Name" under `root`.
bool readCopyPath(HKEY root, const char* copyName, char* buffer, DWORD capacity) {
    char key[64];
    fa9::formatText(key, sizeof key, "%s\\$CurrentInstallationName$", kInstalledCopiesKey);
    FA9iCopyNameRegistry copy(root, key, false, copyName, KEY_READ);
    return copy.status() == ERROR_SUCCESS && copy.queryValue(kPathValue, buffer, capacity) == 0;
}

// The copy the installation works on, found through its name; kPathNotFound otherwise.
UINT currentCopyPath(MSIHANDLE hInstall, char* buffer, DWORD capacity) {
    char read[kCopyNameReadCapacity];
    read[0] = '\0';
    char copyName[kCopyNameCapacity];
    if (iGetCopyName(hInstall, read) != 0 || !read[0] || std::strcmp(read, kPropertyNotSet) == 0 ||
        !fa9::copyText(copyName, sizeof copyName, read))
        return kPathNotFound;

    if (!readCopyPath(HKEY_LOCAL_MACHINE, copyName, buffer, capacity)) {
        // A copy installed for one user only is recorded in that user's hive, which an
        // administrator's installation does not consult.
        char admin[kCopyNameReadCapacity];
        admin[0] = '\0';
        DWORD adminCapacity = sizeof admin;
        if (iMsiGetProperty(hInstall, "AdminUser", admin, &adminCapacity) != ERROR_SUCCESS ||
            std::strcmp(admin, "1") == 0)
            return kPathNotFound;
        if (!readCopyPath(HKEY_CURRENT_USER, copyName, buffer, capacity)) return kPathNotFound;
    }
    dropTrailingBackslash(buffer);
    return 0;
}

}  // namespace

UINT liteGetCopyInstallPath(char* buffer, DWORD capacity, MSIHANDLE hInstall) {
    if (!buffer || capacity == 0) return kNoSession;
    if (!hInstall) {
        URE* engine = URE::existing();
        hInstall = engine ? engine->sessionHandle() : 0;
    }
    UINT pending = hInstall ? currentCopyPath(hInstall, buffer, capacity) : kNoSession;
    if (pending == 0) return 0;

    // A migration from version 8 still finds the old product's path.
    if (!iIsMigrateMode(hInstall)) return pending;
    FA9iRegistry product;
    if (product.open(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ) != ERROR_SUCCESS) return kPathNotFound;
    if (product.queryValue(kPathValue, buffer, capacity) == 0) return 0;
    return product.queryValue("FA9V8Path", buffer, capacity) == 0 ? 0 : kPathNotFound;
}
