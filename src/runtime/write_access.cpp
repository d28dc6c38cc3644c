#include "runtime/write_access.h"

#include "platform/bounded.h"
#include "platform/scoped_handles.h"
#include "platform/win32.h"
#include "runtime/protected_folder.h"

#include <cstring>
#include <string>

namespace {

// SYSTEM, Administrators, TrustedInstaller.
const char* const kTrusted[] = {"S-1-5-18", "S-1-5-32-544",
                                "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

// Rights that let the holder change the object or what it holds, or give itself that
// right; the generic ones and MAXIMUM_ALLOWED include them.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                            FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                            MAXIMUM_ALLOWED;

bool isTrusted(PSID sid, const char* self) {
    unique_local<LPSTR> text;
    if (!ConvertSidToStringSidA(sid, text.out())) return false;
    for (const char* trusted : kTrusted)
        if (fa9::equalsNoCase(text.get(), trusted)) return true;
    return fa9::equalsNoCase(text.get(), self);
}

}  // namespace

bool iOnlyTrustedCanWrite(const char* path) {
    unique_local<LPSTR> self;
    if (!path || !iTokenUserSid(self)) return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    unique_local<PSECURITY_DESCRIPTOR> descriptor;
    if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, descriptor.out()) != ERROR_SUCCESS)
        return false;
    // The owner may rewrite the list whenever it likes; a null list lets everyone in.
    if (!owner || !dacl || !isTrusted(owner, self.get())) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        // Passed on to what is made inside only; what is there has its own list.
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangeRights) && !isTrusted(&allowed->SidStart, self.get())) return false;
    }
    return true;
}

bool iOnlyTrustedCanWriteFileAndFolder(const char* path) {
    const char* cut = path ? std::strrchr(path, '\\') : nullptr;
    if (!cut || cut == path) return false;
    const std::string folder(path, static_cast<size_t>(cut - path));
    return iOnlyTrustedCanWrite(path) && iOnlyTrustedCanWrite(folder.c_str());
}
