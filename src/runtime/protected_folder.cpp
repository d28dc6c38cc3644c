#include "runtime/protected_folder.h"

#include "platform/bounded.h"
#include "platform/scoped_handles.h"

namespace {

// "P": nothing inherited from the parent; OICI: files and folders inside inherit each entry.
const char kAdministration[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

}  // namespace

bool iTokenUserSid(unique_local<LPSTR>& sid) {
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) return false;
    // TOKEN_USER and the SID it points to, which follows it in the same buffer.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, &info, sizeof info, &size)) return false;
    return ConvertSidToStringSidA(info.user.User.Sid, sid.out()) != FALSE;
}

bool iOwnedByAccountOrAdministrators(const char* path) {
    PSID owner = nullptr;
    unique_local<PSECURITY_DESCRIPTOR> descriptor;
    if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                              descriptor.out()) != ERROR_SUCCESS)
        return false;
    unique_local<LPSTR> text, self;
    if (!ConvertSidToStringSidA(owner, text.out())) return false;
    if (fa9::equalsNoCase(text.get(), "S-1-5-18") || fa9::equalsNoCase(text.get(), "S-1-5-32-544")) return true;
    return iTokenUserSid(self) && fa9::equalsNoCase(text.get(), self.get());
}

bool iCreateProtectedFolder(const char* path, bool withInstallingUser) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    char sddl[sizeof kAdministration + 32 + 184];
    fa9::copyText(sddl, sizeof sddl, kAdministration);
    if (withInstallingUser) {
        unique_local<LPSTR> sid;
        if (!iTokenUserSid(sid)) return false;
        char entry[200];
        if (!fa9::formatText(entry, sizeof entry, "(A;OICI;FA;;;%s)", sid.get()) ||
            !fa9::appendText(sddl, sizeof sddl, entry)) {
            SetLastError(ERROR_INVALID_SID);
            return false;
        }
    }
    unique_local<PSECURITY_DESCRIPTOR> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, descriptor.out(), nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryA(path, &attributes) != FALSE;
}
