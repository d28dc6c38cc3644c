#include "platform/key_tree.h"

#include "platform/bounded.h"
#include "platform/scoped_handles.h"

namespace fa9 {

LONG deleteKeyTree(HKEY parent, const char* path, const char* keep) {
    // Sub-key names as it enumerates them: up to 256 characters.
    const DWORD kSubKeyNameCapacity = 257;
    if (!path || !*path) return ERROR_BADKEY;
    LONG rc;
    {
        unique_hkey key;
        rc = RegOpenKeyExA(parent, path, 0, KEY_ENUMERATE_SUB_KEYS | DELETE, key.out());
        if (rc != ERROR_SUCCESS) return rc;
        DWORD index = 0;
        for (;;) {
            char name[kSubKeyNameCapacity];
            DWORD length = kSubKeyNameCapacity;
            rc = RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) return rc;
            if (keep && fa9::equalsNoCase(name, keep)) {
                ++index;
                continue;
            }
            // The deleted key's successors move down one index.
            rc = deleteKeyTree(key.get(), name, nullptr);
            if (rc != ERROR_SUCCESS) return rc;
        }
    }
    return RegDeleteKeyA(parent, path);
}

}  // namespace fa9
