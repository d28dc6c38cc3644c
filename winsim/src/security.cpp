// The process token, SIDs (binary and string forms, compared as SIDs), security
// descriptors in their string form (the SDDL subset of owner and DACL entries) and as
// GetNamedSecurityInfoA and GetSecurityInfo hand them out (owner and DACL), and the write
// checks they make: who may create, change or delete files, folders and keys. Only write
// rights are checked; reading is open.
#include "security.h"

#include "kernel_handles.h"
#include "paths.h"

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace winsim {

namespace {

struct TokenObject : KernelObject {
    Machine::Token token;
};

// What ConvertStringSecurityDescriptorToSecurityDescriptorA or GetNamedSecurityInfoA made.
struct Descriptor {
    AccessList list;
    std::vector<BYTE> owner;  // GetNamedSecurityInfoA's owner SID and DACL, which point into here
    std::vector<BYTE> dacl;
};

// LocalAlloc'd blocks handed out by the security calls, freed by LocalFree: descriptors,
// and plain blocks (SID strings, binary SIDs).
std::mutex g_localLock;
std::map<const void*, std::unique_ptr<Descriptor>> g_descriptors;
std::map<const void*, std::unique_ptr<char[]>> g_blocks;

// A LocalAlloc'd copy of `bytes`.
char* localCopy(const void* bytes, size_t size) {
    std::unique_ptr<char[]> block(new char[size]);
    std::memcpy(block.get(), bytes, size);
    char* at = block.get();
    std::lock_guard<std::mutex> g(g_localLock);
    g_blocks[at] = std::move(block);
    return at;
}

constexpr DWORD kKeyAllAccess = 0x000F003F;
constexpr DWORD kKeyRead = 0x00020019;
constexpr DWORD kKeyWrite = 0x00020006;
// Rights that let the holder change an object or what it holds: write or append data
// (add file, add subfolder), delete, change the list or the owner.
constexpr DWORD kWriteRights = 0x00000002 | 0x00000004 | 0x00000040 | DELETE | WRITE_DAC | WRITE_OWNER |
                               GENERIC_WRITE | GENERIC_ALL;

bool startsWith(const std::string& s, size_t at, const char* p) { return s.compare(at, std::strlen(p), p) == 0; }

// A SID written as an alias or as "S-1-<authority>-<sub-authority>...": the authority
// fits 48 bits, each of at most 15 sub-authorities 32 bits. The aliases are the
// machine-independent ones; those relative to a domain (DA, DU, LA, ...) are not modelled.
bool parseSid(const std::string& text, std::string& sid) {
    static const std::map<std::string, const char*> aliases = {
        {"SY", kSidSystem}, {"BA", kSidAdministrators}, {"BU", kSidUsers}, {"WD", kSidEveryone},
        {"AU", kSidAuthenticatedUsers}, {"CO", kSidCreatorOwner}, {"CG", "S-1-3-1"}, {"BG", "S-1-5-32-546"},
        {"PU", "S-1-5-32-547"}, {"LS", "S-1-5-19"}, {"NS", "S-1-5-20"}, {"IU", "S-1-5-4"}, {"NU", "S-1-5-2"},
        {"SU", "S-1-5-6"}, {"AN", "S-1-5-7"}};
    auto it = aliases.find(text);
    if (it != aliases.end()) {
        sid = it->second;
        return true;
    }
    if (text.size() < 5 || !startsWith(text, 0, "S-1-")) return false;
    size_t parts = 0;
    for (size_t i = 4; i <= text.size();) {
        size_t j = text.find('-', i);
        if (j == std::string::npos) j = text.size();
        if (j == i || j - i > 15) return false;
        for (size_t k = i; k < j; ++k)
            if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
        const unsigned long long v = std::stoull(text.substr(i, j - i));
        if (v > (parts == 0 ? 0xFFFFFFFFFFFFull : 0xFFFFFFFFull) || ++parts > 16) return false;
        i = j + 1;
    }
    sid = text;
    return true;
}

bool parseRights(const std::string& text, DWORD& mask) {
    static const std::map<std::string, DWORD> rights = {
        {"GA", GENERIC_ALL}, {"GR", GENERIC_READ}, {"GW", GENERIC_WRITE}, {"GX", GENERIC_EXECUTE},
        {"FA", FILE_ALL_ACCESS}, {"FR", FILE_GENERIC_READ}, {"FW", FILE_GENERIC_WRITE}, {"FX", FILE_GENERIC_EXECUTE},
        {"KA", kKeyAllAccess}, {"KR", kKeyRead}, {"KW", kKeyWrite}, {"KX", kKeyRead},
        {"SD", DELETE}, {"RC", READ_CONTROL}, {"WD", WRITE_DAC}, {"WO", WRITE_OWNER}};
    mask = 0;
    if (startsWith(text, 0, "0x") || startsWith(text, 0, "0X")) {
        char* end = nullptr;
        unsigned long v = std::strtoul(text.c_str() + 2, &end, 16);
        if (text.size() == 2 || *end) return false;
        mask = static_cast<DWORD>(v);
        return true;
    }
    if (text.empty() || text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        auto it = rights.find(text.substr(i, 2));
        if (it == rights.end()) return false;
        mask |= it->second;
    }
    return true;
}

// "(A;OICI;FA;;;SY)": type, flags, rights, object guid, inherited-object guid, SID.
bool parseAce(const std::string& body, AccessList& list) {
    std::vector<std::string> f;
    size_t i = 0;
    for (;;) {
        size_t j = body.find(';', i);
        f.push_back(body.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    if (f.size() != 6 || (f[0] != "A" && f[0] != "D") || !f[3].empty() || !f[4].empty()) return false;
    bool inheritable = false, inheritOnly = false;
    for (size_t k = 0; k < f[1].size(); k += 2) {
        const std::string flag = f[1].substr(k, 2);
        if (flag == "OI" || flag == "CI") inheritable = true;
        else if (flag == "IO") inheritOnly = true;
        else if (flag != "NP" && flag != "ID") return false;
    }
    DWORD mask = 0;
    std::string sid;
    if (!parseRights(f[2], mask) || !parseSid(f[5], sid)) return false;
    list.entries.push_back({sid, f[0] == "A", inheritable, mask, inheritOnly});
    return true;
}

bool parseDescriptor(const std::string& sddl, AccessList& list) {
    size_t i = 0;
    while (i < sddl.size()) {
        if (startsWith(sddl, i, "O:")) {
            size_t end = sddl.find(':', i + 2);
            end = end == std::string::npos ? sddl.size() : end - 1;
            if (!parseSid(sddl.substr(i + 2, end - i - 2), list.owner)) return false;
            i = end;
        } else if (startsWith(sddl, i, "G:")) {
            size_t end = sddl.find(':', i + 2);
            i = end == std::string::npos ? sddl.size() : end - 1;
        } else if (startsWith(sddl, i, "D:")) {
            i += 2;
            while (i < sddl.size() && sddl[i] != '(') {
                if (sddl[i] == 'P') ++i, list.isProtected = true;
                else if (startsWith(sddl, i, "AI") || startsWith(sddl, i, "AR")) i += 2;
                else return false;
            }
            while (i < sddl.size() && sddl[i] == '(') {
                size_t close = sddl.find(')', i);
                if (close == std::string::npos || !parseAce(sddl.substr(i + 1, close - i - 1), list)) return false;
                i = close + 1;
            }
        } else {
            return false;
        }
    }
    return true;
}

// The binary SID: revision 1, count, 48-bit authority (big-endian), sub-authorities.
std::vector<BYTE> sidBytes(const std::string& sid) {
    std::vector<unsigned long long> parts;
    for (size_t i = 4; i <= sid.size();) {
        size_t j = sid.find('-', i);
        if (j == std::string::npos) j = sid.size();
        parts.push_back(std::stoull(sid.substr(i, j - i)));
        i = j + 1;
    }
    std::vector<BYTE> out(8 + 4 * (parts.size() - 1));
    out[0] = 1;
    out[1] = static_cast<BYTE>(parts.size() - 1);
    for (int k = 0; k < 6; ++k) out[2 + k] = static_cast<BYTE>(parts[0] >> (8 * (5 - k)));
    for (size_t k = 1; k < parts.size(); ++k) {
        DWORD v = static_cast<DWORD>(parts[k]);
        std::memcpy(&out[8 + 4 * (k - 1)], &v, 4);
    }
    return out;
}

// Generic rights as Windows maps them for files and folders.
DWORD fileRights(DWORD mask) {
    if (mask & GENERIC_READ) mask |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE) mask |= FILE_GENERIC_EXECUTE;
    if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
    return mask & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

// The DACL of a file or folder in Windows' layout: an ACL header, then one
// ACCESS_ALLOWED_ACE or ACCESS_DENIED_ACE (header, mask, SID) per entry. A file has no
// inheritance flags and no inheritance-only entries; what applies to the object itself
// carries file rights, what is only passed on keeps generic ones.
std::vector<BYTE> daclBytes(const std::vector<EffectiveEntry>& entries, bool folder) {
    std::vector<BYTE> out(sizeof(ACL));
    WORD count = 0;
    for (const EffectiveEntry& e : entries) {
        if (e.entry.inheritOnly && !folder) continue;
        BYTE flags = e.inherited ? INHERITED_ACE : 0;
        if (folder && e.entry.inheritable) flags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        if (e.entry.inheritOnly) flags |= INHERIT_ONLY_ACE;
        const std::vector<BYTE> sid = sidBytes(e.entry.sid);
        ACCESS_ALLOWED_ACE ace = {};
        ace.Header.AceType = e.entry.allow ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE;
        ace.Header.AceFlags = flags;
        ace.Header.AceSize = static_cast<WORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart) + sid.size());
        ace.Mask = e.entry.inheritOnly ? e.entry.rights : fileRights(e.entry.rights);
        const BYTE* head = reinterpret_cast<const BYTE*>(&ace);
        out.insert(out.end(), head, head + offsetof(ACCESS_ALLOWED_ACE, SidStart));
        out.insert(out.end(), sid.begin(), sid.end());
        ++count;
    }
    ACL acl = {ACL_REVISION, 0, static_cast<WORD>(out.size()), count, 0};
    std::memcpy(out.data(), &acl, sizeof acl);
    return out;
}

}  // namespace

size_t openLocalAllocationCount() {
    std::lock_guard<std::mutex> g(g_localLock);
    return g_descriptors.size() + g_blocks.size();
}

std::vector<EffectiveEntry> effectiveEntries(const std::vector<const AccessList*>& chain) {
    // Worked out from the root down; a root without a list lets everyone do everything.
    std::vector<EffectiveEntry> effective = {{{kSidEveryone, true, true, GENERIC_ALL}, false}};
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        std::vector<EffectiveEntry> inherited;
        for (const EffectiveEntry& e : effective) {
            if (!e.entry.inheritable) continue;
            inherited.push_back({e.entry, true});
            // CREATOR OWNER is only ever passed on: Windows turns it into an entry for
            // the maker of each object, which is not modelled.
            inherited.back().entry.inheritOnly = equalsNoCase(e.entry.sid, kSidCreatorOwner);
        }
        if (!*it) {
            effective = inherited;
            continue;
        }
        effective.clear();
        for (const WriteEntry& e : (*it)->entries) effective.push_back({e, false});
        if (!(*it)->isProtected) effective.insert(effective.end(), inherited.begin(), inherited.end());
    }
    return effective;
}

bool writeAllowed(const std::vector<const AccessList*>& chain, const std::vector<std::string>& sids) {
    auto held = [&](const std::string& sid) {
        for (const std::string& s : sids)
            if (equalsNoCase(s, sid)) return true;
        return false;
    };
    bool allowed = false;
    for (const EffectiveEntry& e : effectiveEntries(chain)) {
        if (e.entry.inheritOnly || !(e.entry.rights & kWriteRights) || !held(e.entry.sid)) continue;
        if (!e.entry.allow) return false;
        allowed = true;
    }
    return allowed;
}

bool descriptorAccessList(const void* descriptor, AccessList& out) {
    std::lock_guard<std::mutex> g(g_localLock);
    auto it = g_descriptors.find(descriptor);
    if (it == g_descriptors.end()) return false;
    out = it->second->list;
    return true;
}

void recordCreated(Machine& m, const std::string& winPath, const SECURITY_ATTRIBUTES* sa) {
    AccessList list;
    if (sa && sa->lpSecurityDescriptor && descriptorAccessList(sa->lpSecurityDescriptor, list)) {
        if (list.owner.empty()) list.owner = m.defaultOwner();
        m.setAccessList(winPath, list);
    } else {
        m.forgetSecurity(winPath);
        m.setOwner(winPath, m.defaultOwner());
    }
}

// A binary SID as IsValidSid checks it: revision 1, at most 15 sub-authorities.
bool validSid(const void* sid) {
    const BYTE* b = static_cast<const BYTE*>(sid);
    return b && b[0] == 1 && b[1] <= 15;
}

DWORD sidLength(const void* sid) { return 8 + 4 * static_cast<const BYTE*>(sid)[1]; }

// What the security calls ask for, as the part of them that is modelled takes it: the
// owner and/or the DACL, into the descriptor the caller frees.
bool validRequest(SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group, PACL* dacl,
                  PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    const bool wantOwner = (info & OWNER_SECURITY_INFORMATION) != 0;
    const bool wantDacl = (info & DACL_SECURITY_INFORMATION) != 0;
    return type == SE_FILE_OBJECT && !(info & ~(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) &&
           (wantOwner || wantDacl) && (!wantOwner || owner) && (!wantDacl || dacl) && !group && !sacl &&
           descriptor;
}

// The owner and the DACL of the file or folder at `winPath` (the link there itself with
// `linkItself`), handed out as the security calls do. The owner is what was recorded,
// else SYSTEM; the DACL is the effective list: the object's own entries, then those it
// inherits.
DWORD handOutSecurity(Machine& m, const std::string& winPath, bool linkItself, bool folder,
                      SECURITY_INFORMATION info, PSID* owner, PACL* dacl, PSECURITY_DESCRIPTOR* descriptor) {
    auto d = std::make_unique<Descriptor>();
    const std::string ownerSid = m.owner(winPath, linkItself).value_or("");
    d->owner = sidBytes(ownerSid.empty() ? kSidSystem : ownerSid);
    d->dacl = daclBytes(m.effectiveAccessList(winPath, linkItself), folder);
    if (info & OWNER_SECURITY_INFORMATION) *owner = d->owner.data();
    if (info & DACL_SECURITY_INFORMATION) *dacl = reinterpret_cast<PACL>(d->dacl.data());
    *descriptor = d.get();
    std::lock_guard<std::mutex> g(g_localLock);
    g_descriptors[d.get()] = std::move(d);
    return ERROR_SUCCESS;
}

bool checkWrite(Machine& m, const std::string& winPath) {
    if (m.tokenCanWrite(winPath)) return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

// ---- Machine's security face ----

// A folder is the same with or without a trailing backslash; a path through a link, or
// by short names, names the object it leads to, whose list is the one that counts. A
// link meant itself is its real folder's entry of that name.
std::string Machine::securityKey(const std::string& winPath, bool linkItself) const {
    std::string full = fullPath(winPath);
    auto trim = [](std::string& p) {
        while (p.size() > paths::rootLength(p) && p.back() == '\\') p.pop_back();
    };
    trim(full);
    std::string real;
    const size_t slash = full.rfind('\\');
    if (linkItself && full.size() > paths::rootLength(full) && slash != std::string::npos) {
        const std::string folderHost = hostPath(full.substr(0, slash + 1));
        const std::string folder = paths::realWindowsPath(root_, folderHost);
        const std::string name = full.substr(slash + 1);
        const std::string onDisk = paths::entryNamed(folderHost, name);
        if (!folder.empty()) real = paths::joinName(folder, onDisk.empty() ? name : onDisk);
    } else {
        real = paths::realWindowsPath(root_, hostPath(full));
    }
    if (!real.empty()) full = real;
    trim(full);
    return full;
}

std::vector<std::string> Machine::tokenSids() const {
    std::vector<std::string> sids = {token.userSid, kSidEveryone, kSidAuthenticatedUsers, kSidUsers};
    if (token.administrator) sids.push_back(kSidAdministrators);
    return sids;
}

std::string Machine::defaultOwner() const { return token.administrator ? kSidAdministrators : token.userSid; }

void Machine::setAccessList(const std::string& winPath, AccessList list, bool linkItself) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    const std::string key = securityKey(winPath, linkItself);
    if (!list.owner.empty()) owners_[key] = list.owner;
    accessLists_[key] = std::move(list);
}

std::optional<AccessList> Machine::accessList(const std::string& winPath) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = accessLists_.find(securityKey(winPath));
    return it == accessLists_.end() ? std::nullopt : std::optional<AccessList>(it->second);
}

std::optional<std::string> Machine::owner(const std::string& winPath, bool linkItself) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    auto it = owners_.find(securityKey(winPath, linkItself));
    return it == owners_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void Machine::setOwner(const std::string& winPath, const std::string& sid, bool linkItself) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    owners_[securityKey(winPath, linkItself)] = sid;
}

void Machine::forgetSecurity(const std::string& winPath) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    const std::string key = securityKey(winPath);
    accessLists_.erase(key);
    owners_.erase(key);
}

void Machine::moveSecurity(const std::string& fromPath, const std::string& toPath) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    const std::string from = securityKey(fromPath, true), to = securityKey(toPath, true);
    // The length of `base` when `key` is it or lies below it, else 0.
    auto within = [](const std::string& key, const std::string& base) -> size_t {
        const std::string below = paths::joinName(base, "");
        if (equalsNoCase(key, base)) return key.size();
        return key.size() > below.size() && equalsNoCase(key.substr(0, below.size()), below) ? base.size() : 0;
    };
    auto carry = [&](auto& records) {
        std::remove_reference_t<decltype(records)> kept;
        std::vector<std::pair<std::string, typename std::remove_reference_t<decltype(records)>::mapped_type>> taken;
        for (auto& [key, record] : records) {
            if (const size_t n = within(key, from)) taken.emplace_back(to + key.substr(n), std::move(record));
            else if (!within(key, to)) kept[key] = std::move(record);  // what the rename replaced is gone
        }
        for (auto& [key, record] : taken) kept[key] = std::move(record);
        records.swap(kept);
    };
    carry(owners_);
    carry(accessLists_);
}

void Machine::makeLink(const std::string& linkPath, const std::string& target) {
    const std::string link = hostPath(linkPath);
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    std::filesystem::create_symlink(hostPath(target), link);
}

std::vector<const AccessList*> Machine::accessChain(std::string key) const {
    std::vector<const AccessList*> chain;
    for (;;) {
        auto it = accessLists_.find(key);
        chain.push_back(it == accessLists_.end() ? nullptr : &it->second);
        if (key.size() <= paths::rootLength(key)) break;
        key = securityKey(key + "\\..");
    }
    return chain;
}

bool Machine::tokenCanWrite(const std::string& winPath) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    std::string key = securityKey(winPath);
    std::error_code ec;
    // A missing object is created inside its folder: the folder's list decides.
    if (!std::filesystem::exists(hostPath(key), ec) && key.size() > paths::rootLength(key))
        key = securityKey(key + "\\..");
    return writeAllowed(accessChain(key), tokenSids());
}

std::vector<EffectiveEntry> Machine::effectiveAccessList(const std::string& winPath, bool linkItself) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return effectiveEntries(accessChain(securityKey(winPath, linkItself)));
}

}  // namespace winsim

using namespace winsim;

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD, PHANDLE TokenHandle) {
    if (ProcessHandle != GetCurrentProcess() || !TokenHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto t = std::make_shared<TokenObject>();
    t->token = Machine::current().token;
    *TokenHandle = allocKernelHandle(t);
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
    auto t = std::dynamic_pointer_cast<TokenObject>(lookupKernelHandle(TokenHandle));
    if (!t || !ReturnLength) {
        SetLastError(t ? ERROR_NOACCESS : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (TokenInformationClass == TokenElevation) {
        // An administrator's token here is always the full one, as an elevated process's.
        *ReturnLength = sizeof(TOKEN_ELEVATION);
        if (!TokenInformation || TokenInformationLength < sizeof(TOKEN_ELEVATION)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        static_cast<TOKEN_ELEVATION*>(TokenInformation)->TokenIsElevated = t->token.administrator ? 1 : 0;
        return TRUE;
    }
    if (TokenInformationClass == TokenElevationType) {
        // An administrator's token is the full half of a split one; a standard user's and
        // SYSTEM's are not split.
        *ReturnLength = sizeof(TOKEN_ELEVATION_TYPE);
        if (!TokenInformation || TokenInformationLength < sizeof(TOKEN_ELEVATION_TYPE)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        const bool split = t->token.administrator && t->token.userSid != kSidSystem;
        *static_cast<TOKEN_ELEVATION_TYPE*>(TokenInformation) = split ? TokenElevationTypeFull : TokenElevationTypeDefault;
        return TRUE;
    }
    if (TokenInformationClass != TokenUser) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The SID follows the structure in the caller's buffer, as Windows lays it out.
    const std::vector<BYTE> sid = sidBytes(t->token.userSid);
    const DWORD need = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *ReturnLength = need;
    if (!TokenInformation || TokenInformationLength < need) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(TokenInformation);
    BYTE* at = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
    std::memcpy(at, sid.data(), sid.size());
    user->User.Sid = at;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
    const BYTE* b = static_cast<const BYTE*>(Sid);
    if (!b || !StringSid || b[0] != 1 || b[1] > 15) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    unsigned long long authority = 0;
    for (int k = 0; k < 6; ++k) authority = (authority << 8) | b[2 + k];
    std::string text = "S-1-" + std::to_string(authority);
    for (int k = 0; k < b[1]; ++k) {
        DWORD v;
        std::memcpy(&v, b + 8 + 4 * k, 4);
        text += "-" + std::to_string(v);
    }
    *StringSid = localCopy(text.c_str(), text.size() + 1);
    return TRUE;
}

// The aliases and the "S-1-..." form parseSid takes; the SID in a block freed by LocalFree.
BOOL WINAPI ConvertStringSidToSidA(LPCSTR StringSid, PSID* Sid) {
    if (!StringSid || !Sid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string sid;
    if (!parseSid(StringSid, sid)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    const std::vector<BYTE> bytes = sidBytes(sid);
    *Sid = localCopy(bytes.data(), bytes.size());
    return TRUE;
}

BOOL WINAPI IsValidSid(PSID pSid) { return validSid(pSid) ? TRUE : FALSE; }

// Undefined for an invalid SID on Windows; 0 here.
DWORD WINAPI GetLengthSid(PSID pSid) { return validSid(pSid) ? sidLength(pSid) : 0; }

// Equal revision, authority and sub-authorities. Windows leaves the answer for an invalid
// SID undefined: here it is FALSE with ERROR_INVALID_SID, and an honest "not equal" clears
// the last error as Windows does.
BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    if (!validSid(pSid1) || !validSid(pSid2)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return sidLength(pSid1) == sidLength(pSid2) && std::memcmp(pSid1, pSid2, sidLength(pSid1)) == 0;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize) {
    if (!StringSecurityDescriptor || !SecurityDescriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (StringSDRevision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    auto d = std::make_unique<Descriptor>();
    if (!parseDescriptor(StringSecurityDescriptor, d->list)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *SecurityDescriptor = d.get();
    // A self-relative descriptor's size: header, then four words per entry (an estimate;
    // callers only pass it on).
    if (SecurityDescriptorSize) *SecurityDescriptorSize = static_cast<ULONG>(20 + 8 + 36 * d->list.entries.size());
    std::lock_guard<std::mutex> g(g_localLock);
    g_descriptors[d.get()] = std::move(d);
    return TRUE;
}

// The owner and the DACL of an existing file or folder (the parts asked for), through
// links on the way and at its name. The owner is Administrators for what an administrator
// made, else the maker's user SID; anything else's (a drive root, what a test put in place)
// is SYSTEM.
DWORD WINAPI GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                                   PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    if (!pObjectName ||
        !validRequest(ObjectType, SecurityInfo, ppsidOwner, ppsidGroup, ppDacl, ppSacl, ppSecurityDescriptor))
        return ERROR_INVALID_PARAMETER;
    Machine& m = Machine::current();
    m.noteFileSystemCall(pObjectName);
    std::error_code ec;
    const std::string host = m.hostPath(pObjectName);
    if (!fs::exists(fs::symlink_status(host, ec))) return ERROR_FILE_NOT_FOUND;
    return handOutSecurity(m, pObjectName, false, fs::is_directory(host, ec), SecurityInfo, ppsidOwner, ppDacl,
                           ppSecurityDescriptor);
}

// The same answer for the object a file or folder handle holds, wherever its name now
// leads: found by the handle's own place (a link opened as itself answers for itself).
// Reading it needs READ_CONTROL in the handle's access, which the generic rights and
// MAXIMUM_ALLOWED (the owner always has it) bring.
DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                             PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                             PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    auto file = std::dynamic_pointer_cast<FileObject>(lookupKernelHandle(handle));
    struct stat st {};
    if (!file || file->fd < 0 || ::fstat(file->fd, &st) != 0) return ERROR_INVALID_HANDLE;
    if (!validRequest(ObjectType, SecurityInfo, ppsidOwner, ppsidGroup, ppDacl, ppSacl, ppSecurityDescriptor))
        return ERROR_INVALID_PARAMETER;
    if (!(fileRights(file->access) & READ_CONTROL) && !(file->access & MAXIMUM_ALLOWED)) return ERROR_ACCESS_DENIED;
    // Its real path, links resolved: naming it again leads to the same object.
    const std::string held = heldWindowsPath(*file);
    if (held.empty()) return ERROR_FILE_NOT_FOUND;
    std::error_code ec;
    const bool folder = file->link ? fs::is_directory(heldHostPath(file->fd), ec) : S_ISDIR(st.st_mode);
    return handOutSecurity(Machine::current(), held, file->link, folder, SecurityInfo, ppsidOwner, ppDacl,
                           ppSecurityDescriptor);
}

BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    if (!pAcl || !pAce || dwAceIndex >= pAcl->AceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BYTE* at = reinterpret_cast<BYTE*>(pAcl) + sizeof(ACL);
    BYTE* const end = reinterpret_cast<BYTE*>(pAcl) + pAcl->AclSize;
    for (DWORD i = 0;; ++i) {
        const ACE_HEADER* header = reinterpret_cast<const ACE_HEADER*>(at);
        if (end - at < static_cast<ptrdiff_t>(sizeof(ACE_HEADER)) || header->AceSize < sizeof(ACE_HEADER) ||
            end - at < header->AceSize) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (i == dwAceIndex) {
            *pAce = at;
            return TRUE;
        }
        at += header->AceSize;
    }
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (!hMem) return nullptr;
    std::lock_guard<std::mutex> g(g_localLock);
    if (g_descriptors.erase(hMem) || g_blocks.erase(hMem)) return nullptr;
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
}

}  // extern "C"
