#include "runtime/protected_folder.h"

#include "frame/bounded.h"
#include "frame/scoped_handles.h"

namespace {

// "P": nothing inherited from the parent; OICI: files and folders inside inherit each entry.
const char kAdministration[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The SID of the process token's user as text ("S-1-5-21-..."); false when it cannot be read.
bool tokenUserSid(unique_local<LPSTR>& sid) {
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

}  // namespace

bool iCreateProtectedFolder(const char* path, bool withInstallingUser) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    char sddl[sizeof kAdministration + 32 + 184];
    fa9::copyText(sddl, sizeof sddl, kAdministration);
    if (withInstallingUser) {
        unique_local<LPSTR> sid;
        if (!tokenUserSid(sid)) return false;
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
