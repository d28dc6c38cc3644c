#include "trust/trusted_accounts.h"

#include "platform/bounded.h"
#include "platform/scoped_handles.h"

#include <string>

namespace {

struct Account {
    const char* sid;
    bool granted;  // given full control of the folders the library makes
};
const Account kTrusted[] = {
    {"S-1-5-18", true},      // SYSTEM
    {"S-1-5-32-544", true},  // Administrators
    {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", false},  // TrustedInstaller
};

// Rights that let the holder change the object or what it holds, or give itself that
// right; the generic ones and MAXIMUM_ALLOWED include them.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                            FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                            MAXIMUM_ALLOWED;

bool tokenInformation(TOKEN_INFORMATION_CLASS kind, void* out, DWORD size) {
    unique_handle token;
    DWORD needed = 0;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()) &&
           GetTokenInformation(token.get(), kind, out, size, &needed);
}

// TOKEN_USER and the SID it points to, which follows it in the same buffer.
union UserInfo {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

bool sameSid(PSID sid, const char* text) {
    unique_local<PSID> other;
    return ConvertStringSidToSidA(text, other.out()) && EqualSid(sid, other.get());
}

// Wine runs every process of a prefix as one account that owns every file: there is no
// unelevated twin to keep out. Its ntdll exports its version; Windows' does not.
bool underWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The account the process runs as is trusted, except in the full half of a split token (an
// elevated administrator): its unelevated programs run as the same account, so a thing
// owned by, or granted to, the account itself is one they made or may change. A token that
// cannot be read trusts no one but the table.
bool ownAccountTrusted() {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    return tokenInformation(TokenElevationType, &type, sizeof type) &&
           (type != TokenElevationTypeFull || underWine());
}

bool isTrusted(PSID sid) {
    if (!sid || !IsValidSid(sid)) return false;
    for (const Account& account : kTrusted)
        if (sameSid(sid, account.sid)) return true;
    UserInfo self;
    return tokenInformation(TokenUser, &self, sizeof self) && EqualSid(sid, self.user.User.Sid) &&
           ownAccountTrusted();
}

// The SID of the process token's user as text ("S-1-5-21-...").
bool tokenUserSid(std::string& sid) {
    UserInfo self;
    unique_local<LPSTR> text;
    if (!tokenInformation(TokenUser, &self, sizeof self) || !ConvertSidToStringSidA(self.user.User.Sid, text.out()))
        return false;
    sid = text.get();
    return true;
}

}  // namespace

bool iRunsElevated() {
    TOKEN_ELEVATION elevation = {};
    return tokenInformation(TokenElevation, &elevation, sizeof elevation) && elevation.TokenIsElevated != 0;
}

bool iRunsAsSystem() {
    UserInfo self;
    return tokenInformation(TokenUser, &self, sizeof self) && sameSid(self.user.User.Sid, kTrusted[0].sid);
}

bool iOwnedByTrusted(HANDLE held) {
    PSID owner = nullptr;
    unique_local<PSECURITY_DESCRIPTOR> descriptor;
    return GetSecurityInfo(held, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                           descriptor.out()) == ERROR_SUCCESS &&
           isTrusted(owner);
}

bool iOnlyTrustedCanChange(HANDLE held) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    unique_local<PSECURITY_DESCRIPTOR> descriptor;
    if (GetSecurityInfo(held, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, descriptor.out()) != ERROR_SUCCESS)
        return false;
    // The owner may rewrite the list whenever it likes; a null list lets everyone in.
    if (!dacl || !isTrusted(owner)) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        // Passed on to what is made inside only; what is there has its own list.
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangeRights) && !isTrusted(&allowed->SidStart)) return false;
    }
    return true;
}

bool iCreateProtectedFolder(const char* path, bool withProcessUser) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // "P": nothing inherited from the parent; OICI: files and folders inside inherit each entry.
    std::string sddl = "D:P";
    for (const Account& account : kTrusted)
        if (account.granted) sddl = sddl + "(A;OICI;FA;;;" + account.sid + ")";
    std::string self;
    if (withProcessUser) {
        if (!tokenUserSid(self)) return false;
        sddl += "(A;OICI;FA;;;" + self + ")";
    }
    unique_local<PSECURITY_DESCRIPTOR> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, descriptor.out(),
                                                              nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryA(path, &attributes) != FALSE;
}
