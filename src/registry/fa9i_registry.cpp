#include "registry/fa9i_registry.h"

#include "platform/bounded.h"
#include "platform/key_tree.h"

#include <cstring>
#include <new>

namespace {

const size_t kResolveCapacity = 1024;
const char* const kCurrentPlaceholder = "$CurrentInstallationName$";
const char* const kDefaultPlaceholder = "$DefaultInstallationName$";

char g_resolved[kResolveCapacity];

}  // namespace

const char* resolveInstallationName(const char* text, const char* name, size_t capacity, char* out) {
    if (!text) return nullptr;
    const size_t textLength = std::strlen(text);
    if (textLength >= kResolveCapacity) return nullptr;
    if (capacity && (!out || textLength + 1 > capacity)) return nullptr;

    char work[kResolveCapacity];
    std::memcpy(work, text, textLength + 1);

    if (name) {
        const char* placeholder = nullptr;
        if (std::strstr(text, kCurrentPlaceholder))
            placeholder = kCurrentPlaceholder;
        else if (std::strstr(text, kDefaultPlaceholder))
            placeholder = kDefaultPlaceholder;
        if (placeholder) {
            // Scanning the original text means an inserted name is never searched again.
            const size_t placeholderLength = std::strlen(placeholder);
            work[0] = '\0';
            const char* from = text;
            for (const char* at = std::strstr(from, placeholder); at; at = std::strstr(from, placeholder)) {
                const size_t used = std::strlen(work);
                const size_t prefix = static_cast<size_t>(at - from);
                if (used + prefix >= kResolveCapacity) return nullptr;
                std::memcpy(work + used, from, prefix);
                work[used + prefix] = '\0';
                if (!fa9::appendText(work, kResolveCapacity, name)) return nullptr;
                from = at + placeholderLength;
            }
            if (!fa9::appendText(work, kResolveCapacity, from)) return nullptr;
        }
    }

    char* output = g_resolved;
    size_t outputCapacity = kResolveCapacity;
    if (capacity) {
        output = out;
        outputCapacity = capacity;
    }
    if (std::strlen(work) + 1 > outputCapacity) return nullptr;
    fa9::copyText(output, outputCapacity, work);
    return std::strcmp(output, text) != 0 ? output : text;
}

// ---- FA9iRegistry ----

FA9iRegistry::FA9iRegistry() = default;

FA9iRegistry::~FA9iRegistry() { close(); }

void FA9iRegistry::close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

LONG FA9iRegistry::open(HKEY root, const char* path, REGSAM access) {
    close();
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(root, path, 0, access, &key);
    if (rc == ERROR_SUCCESS) key_ = key;
    return rc;
}

LONG FA9iRegistry::create(HKEY root, const char* path, REGSAM access, DWORD options) {
    close();
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, path, 0, nullptr, options, KEY_ALL_ACCESS | access, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) key_ = key;
    return rc;
}

LONG FA9iRegistry::queryText(const char* name, char* buffer, DWORD capacityBytes) {
    if (!buffer || capacityBytes == 0) return ERROR_INVALID_PARAMETER;
    buffer[0] = '\0';
    if (!key_) return ERROR_INVALID_HANDLE;
    DWORD size = capacityBytes;
    LONG rc = RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    if (rc != ERROR_SUCCESS) {
        buffer[0] = '\0';
        return rc;
    }
    if (size < capacityBytes) {
        buffer[size] = '\0';
    } else if (!std::memchr(buffer, '\0', capacityBytes)) {
        // The data fills the buffer with no room for the terminator.
        buffer[0] = '\0';
        return ERROR_MORE_DATA;
    }
    return ERROR_SUCCESS;
}

UINT FA9iRegistry::queryValue(const char* name, char* buffer, DWORD capacityBytes) {
    return queryText(name, buffer, capacityBytes) == ERROR_SUCCESS ? 0 : kRegistryFailed;
}

UINT FA9iRegistry::setValue(const char* name, const BYTE* data, DWORD size, DWORD type) {
    LONG rc = RegSetValueExA(key_, name, 0, type, data, size);
    if (rc == ERROR_SUCCESS) return 0;
    if (rc == ERROR_ACCESS_DENIED) return ERROR_ACCESS_DENIED;
    return kRegistryFailed;
}

UINT FA9iRegistry::hasValue(const char* name, bool* present) {
    if (!present) return kRegistryMissingArgument;
    *present = false;
    if (!key_) return 0;
    if (!name) name = "";
    // A value name that does not fit in the wanted name's length plus one cannot be it,
    // so ERROR_MORE_DATA just moves on.
    const DWORD capacity = static_cast<DWORD>(std::strlen(name) + 2);
    char* found = new (std::nothrow) char[capacity];
    if (!found) return kRegistryFailed;
    for (DWORD index = 0;; ++index) {
        DWORD length = capacity;
        LONG rc = RegEnumValueA(key_, index, found, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) break;
        if (std::strcmp(found, name) == 0) {
            *present = true;
            break;
        }
    }
    delete[] found;
    return 0;
}

// ---- FA9iCopyNameRegistry ----

FA9iCopyNameRegistry::FA9iCopyNameRegistry() = default;

FA9iCopyNameRegistry::FA9iCopyNameRegistry(HKEY root, const char* path, bool create, const char* installationName,
                                           REGSAM access, DWORD options) {
    status_ = create ? this->create(root, path, installationName, access, options)
                     : open(root, path, installationName, access);
}

LONG FA9iCopyNameRegistry::open(HKEY root, const char* path, const char* installationName, REGSAM access) {
    if (!path) return FA9iRegistry::open(root, path, access);
    const char* resolved = resolveInstallationName(path, installationName, 0, nullptr);
    if (!resolved) {
        close();
        return ERROR_INVALID_PARAMETER;
    }
    return FA9iRegistry::open(root, resolved, access);
}

LONG FA9iCopyNameRegistry::create(HKEY root, const char* path, const char* installationName, REGSAM access,
                                  DWORD options) {
    if (!path) return FA9iRegistry::create(root, path, access, options);
    const char* resolved = resolveInstallationName(path, installationName, 0, nullptr);
    if (!resolved) {
        close();
        return ERROR_INVALID_PARAMETER;
    }
    return FA9iRegistry::create(root, resolved, access, options);
}

LONG FA9iCopyNameRegistry::deleteKeyTree(HKEY parent, const char* path, const char* keep,
                                         const char* installationName) {
    if (!path || !*path) return ERROR_BADKEY;
    // The process-wide result would not survive another resolution; keep a copy.
    char resolved[kResolveCapacity];
    if (!resolveInstallationName(path, installationName, sizeof resolved, resolved)) return ERROR_INVALID_PARAMETER;
    return fa9::deleteKeyTree(parent, resolved, keep);
}
