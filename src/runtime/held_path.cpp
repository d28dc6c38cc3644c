#include "runtime/held_path.h"

#include "platform/bounded.h"
#include "platform/crt_locale.h"

#include <cctype>
#include <cstring>
#include <string>
#include <utility>

namespace {

const size_t kCapacity = 1024;

// `path` upper-cased, without a final backslash other than a root's.
bool comparable(const char* path, char (&out)[kCapacity]) {
    if (!fa9::copyText(out, sizeof out, path)) return false;
    iUpperCasePath(out);
    size_t n = std::strlen(out);
    while (n > 3 && out[n - 1] == '\\') out[--n] = '\0';
    return true;
}

}  // namespace

void iUpperCasePath(char* path) {
    char* end = path + std::strlen(path);
    for (char* p = path; p < end;) {
        const size_t unit = rspCharLength(p, end);
        if (unit == 1) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        p += unit;
    }
}

bool iHoldPath(const char* path, unique_hfile& held) {
    // Reading the data (listing a folder) makes the open take part in sharing: one for the
    // attributes alone would not stop a rename.
    held.reset(CreateFileA(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return static_cast<bool>(held);
}

bool iFoldersAbove(const char* path, std::vector<std::string>& folders) {
    folders.clear();
    char full[kCapacity] = {};
    const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return false;
    // Below the root, whose place cannot change: "C:\", "\\server\share\", and the same
    // after the prefixes "\\?\" and "\\?\UNC\".
    const char* rest = full;  // the path after its prefix
    bool unc = full[0] == '\\' && full[1] == '\\';
    if (std::strncmp(full, "\\\\?\\UNC\\", 8) == 0)
        rest = full + 8, unc = true;
    else if (std::strncmp(full, "\\\\?\\", 4) == 0)
        rest = full + 4, unc = false;
    else if (unc)
        rest = full + 2;
    size_t at = static_cast<size_t>(rest - full) + 3;
    if (unc) {
        const char* share = std::strchr(rest, '\\');
        const char* end = share ? std::strchr(share + 1, '\\') : nullptr;
        if (!end) return true;
        at = static_cast<size_t>(end - full) + 1;
    }
    size_t length = std::strlen(full);
    while (length > at && full[length - 1] == '\\') --length;
    for (size_t i = at; i < length; ++i)
        if (full[i] == '\\') folders.emplace_back(full, i);
    return true;
}

bool iHoldFoldersAbove(const char* path, std::vector<unique_hfile>& held) {
    held.clear();
    std::vector<std::string> folders;
    if (!iFoldersAbove(path, folders)) return false;
    for (const std::string& folder : folders) {
        unique_hfile handle;
        if (!iHoldPath(folder.c_str(), handle)) return held.clear(), false;
        held.push_back(std::move(handle));
    }
    return true;
}

bool iFinalPath(HANDLE held, char* out, size_t capacity) {
    char raw[kCapacity] = {};
    const DWORD n = GetFinalPathNameByHandleA(held, raw, sizeof raw, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof raw) return false;
    // "\\?\C:\a" is C:\a, "\\?\UNC\server\share" is \\server\share.
    if (std::strncmp(raw, "\\\\?\\UNC\\", 8) == 0) return fa9::formatText(out, capacity, "\\\\%s", raw + 8);
    if (std::strncmp(raw, "\\\\?\\", 4) == 0) return fa9::copyText(out, capacity, raw + 4);
    return fa9::copyText(out, capacity, raw);
}

bool iSamePath(const char* a, const char* b) {
    char left[kCapacity], right[kCapacity];
    return comparable(a, left) && comparable(b, right) && std::strcmp(left, right) == 0;
}

bool iLiesAt(HANDLE held, const char* path) {
    char final[kCapacity], full[kCapacity], named[kCapacity];
    if (!iFinalPath(held, final, sizeof final)) return false;
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return false;
    // Short (8.3) names are the same place under another name.
    n = GetLongPathNameA(full, named, sizeof named);
    if (n == 0 || n >= sizeof named) return false;
    return iSamePath(final, named);
}
