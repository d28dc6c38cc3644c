#include "session/property_access.h"

#include "platform/bounded.h"
#include "frame/install_log.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "session/action_data.h"

#include <cstring>
#include <string>

const char* const kPropertyStoreKey = "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";
const char* const kPropertyNotSet = "___NotSet___";

namespace {

const DWORD kSidCapacity = 1024;
const DWORD kCopyNameCapacity = 1024;
const UINT kStoreWriteFailed = 0x90000002;


// Registry data need not end in a terminator; the caller's buffer always does.
void terminateStored(char* buffer, DWORD stored, DWORD capacity) {
    if (capacity == 0) return;
    if (stored < capacity)
        buffer[stored] = '\0';
    else
        buffer[capacity - 1] = '\0';
}

UINT getFromStore(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity) {
    char sid[kSidCapacity];
    sid[0] = '\0';
    DWORD sidCapacity = kSidCapacity;
    UINT sidResult = MsiGetPropertyA(hInstall, "UserSID", sid, &sidCapacity);
    if (sidResult != ERROR_SUCCESS) sid[0] = '\0';

    unique_hkey userKey;
    HKEY root = iUserRoot(sid, userKey);
    const DWORD requested = *capacity;
    unique_hkey store;
    if (RegOpenKeyExA(root, kPropertyStoreKey, 0, KEY_ALL_ACCESS, store.out()) == ERROR_SUCCESS) {
        LONG rc = RegQueryValueExA(store.get(), name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), capacity);
        if (rc == ERROR_SUCCESS) {
            terminateStored(buffer, *capacity, requested);
            return sidResult;
        }
    }
    // Not in the store (or too large for the buffer): the session may still have it.
    *capacity = requested;
    return MsiGetPropertyA(hInstall, name, buffer, capacity);
}

// A value the installer handed this action: it was fixed before the script was written,
// so nothing written into the user's store since can change it. Returned like a stored
// value (size in bytes with the terminator); one that does not fit is cut and answers
// ERROR_MORE_DATA with the size it needs.
bool getFromActionData(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity, UINT* rc) {
    std::string value;
    if (!iGetActionValue(hInstall, name, value)) return false;
    const DWORD requested = *capacity;
    const DWORD needed = static_cast<DWORD>(value.size() + 1);
    *capacity = needed;
    if (requested == 0) {
        *rc = ERROR_MORE_DATA;
        return true;
    }
    fa9::copyText(buffer, requested, value.c_str());
    *rc = needed <= requested ? static_cast<UINT>(ERROR_SUCCESS) : static_cast<UINT>(ERROR_MORE_DATA);
    return true;
}

UINT setInStore(MSIHANDLE hInstall, const char* name, const char* value) {
    char sid[kSidCapacity];
    sid[0] = '\0';
    DWORD sidCapacity = kSidCapacity;
    if (iMsiGetProperty(hInstall, "UserSID", sid, &sidCapacity) != ERROR_SUCCESS) sid[0] = '\0';

    unique_hkey userKey;
    const UINT result = iStoreValue(iUserRoot(sid, userKey), name, value);
    MsiSetPropertyA(hInstall, name, value);
    return result;
}

}  // namespace

HKEY iUserRoot(const char* sid, unique_hkey& userKey) {
    if (sid && sid[0] && RegOpenKeyExA(HKEY_USERS, sid, 0, KEY_ALL_ACCESS, userKey.out()) == ERROR_SUCCESS)
        return userKey.get();
    return HKEY_CURRENT_USER;
}

StoreKey::StoreKey(HKEY root)
    : created_(RegCreateKeyExA(root, kPropertyStoreKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               key_.out(), nullptr)) {}

UINT StoreKey::write(const char* name, const char* value) const {
    LONG rc = created_;
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
    if (rc == ERROR_SUCCESS) return ERROR_SUCCESS;
    return rc == ERROR_ACCESS_DENIED ? static_cast<UINT>(ERROR_ACCESS_DENIED) : kStoreWriteFailed;
}

UINT iStoreValue(HKEY root, const char* name, const char* value) { return StoreKey(root).write(name, value); }

bool iIsStoreMode(MSIHANDLE hInstall) {
    // Asked once per custom action: the engine keeps the answer for the session it is bound to.
    URE* engine = URE::existing();
    const bool bound = engine && hInstall != 0 && engine->sessionHandle() == hInstall;
    if (bound && engine->storeMode() >= 0) return engine->storeMode() != 0;
    const bool store = MsiGetMode(hInstall, MSIRUNMODE_SCHEDULED) || MsiGetMode(hInstall, MSIRUNMODE_ROLLBACK);
    if (bound) engine->setStoreMode(store);
    return store;
}

bool iRunsInScript(MSIHANDLE hInstall) {
    return MsiGetMode(hInstall, MSIRUNMODE_SCHEDULED) || MsiGetMode(hInstall, MSIRUNMODE_ROLLBACK) ||
           MsiGetMode(hInstall, MSIRUNMODE_COMMIT);
}

UINT iMsiGetProperty(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity) {
    if (!iIsStoreMode(hInstall)) {
        if (!name || !buffer) return 5021;
        return MsiGetPropertyA(hInstall, name, buffer, capacity);
    }
    if (!name || !buffer || !capacity) return ERROR_INVALID_PARAMETER;
    UINT rc = ERROR_SUCCESS;
    if (getFromActionData(hInstall, name, buffer, capacity, &rc)) return rc;
    return getFromStore(hInstall, name, buffer, capacity);
}

UINT iMsiGetActionProperty(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity) {
    if (!iIsStoreMode(hInstall)) return iMsiGetProperty(hInstall, name, buffer, capacity);
    if (!name || !buffer || !capacity) return ERROR_INVALID_PARAMETER;
    UINT rc = ERROR_SUCCESS;
    return getFromActionData(hInstall, name, buffer, capacity, &rc) ? rc : kNotInActionData;
}

UINT iMsiSetProperty(MSIHANDLE hInstall, const char* name, const char* value) {
    if (!iIsStoreMode(hInstall)) return MsiSetPropertyA(hInstall, name, value);
    if (!name || !value) return ERROR_INVALID_PARAMETER;
    return setInStore(hInstall, name, value);
}

UINT iGetCopyName(MSIHANDLE hInstall, char* out) {
    char value[kCopyNameCapacity];
    value[0] = '\0';
    DWORD capacity = kCopyNameCapacity;
    UINT rc = iMsiGetProperty(hInstall, "FA9_COPY_NAME", value, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", "FA9_COPY_NAME", static_cast<int>(rc));
    if (rc != ERROR_SUCCESS) return 6112;
    if (value[0] && std::strcmp(value, kPropertyNotSet) != 0) {
        fa9::copyText(out, kCopyNameCapacity, value);
        return 0;
    }

    char productCode[kCopyNameCapacity];
    productCode[0] = '\0';
    capacity = kCopyNameCapacity;
    rc = iMsiGetProperty(hInstall, "ProductCode", productCode, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", "ProductCode", static_cast<int>(rc));
    if (rc != ERROR_SUCCESS) return 6112;

    char keyPath[2 * kCopyNameCapacity];
    if (!fa9::formatText(keyPath, sizeof keyPath, "%s\\%s\\PersistentProperties", "SOFTWARE\\ZNK\\FA9\\ProductData",
                         productCode))
        return 6112;
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.out()) != ERROR_SUCCESS &&
        RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return static_cast<UINT>(-1);
    DWORD size = kCopyNameCapacity;
    if (RegQueryValueExA(key.get(), "FA9_COPY_NAME", nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size) !=
        ERROR_SUCCESS)
        return 6112;
    terminateStored(value, size, kCopyNameCapacity);
    fa9::copyText(out, kCopyNameCapacity, value);
    return 0;
}

bool iIsPropertySet(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity) {
    if (!name || !*name) return false;
    UINT rc = iMsiGetProperty(hInstall, name, buffer, capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", name, static_cast<int>(rc));
    return rc == ERROR_SUCCESS && capacity && *capacity != 0 && std::strcmp(buffer, kPropertyNotSet) != 0;
}

bool iIsMigrateMode(MSIHANDLE hInstall) {
    char mode[1024];
    mode[0] = '\0';
    DWORD capacity = sizeof mode;
    return iMsiGetProperty(hInstall, "INSTALL_MODE", mode, &capacity) == ERROR_SUCCESS &&
           fa9::equalsNoCase(mode, "MIGRATE");
}
