#include "trust/held_path.h"

#include "platform/bounded.h"
#include "platform/crt_locale.h"
#include "trust/trusted_accounts.h"

#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const size_t kCapacity = 1024;
const int kDeepest = 32;  // deeper than anything the library makes
const DWORD kFolderAccess = FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const DWORD kRemoveAccess = kFolderAccess | DELETE | FILE_WRITE_ATTRIBUTES;

// The full path of what `held` is, every link on the way resolved ("C:\a\b"; on a share,
// which only a process that is not checked gets to, "UNC\server\share\b", as good for
// comparing as any); false when it cannot be read or does not fit.
bool finalPath(HANDLE held, std::string& out) {
    char raw[kCapacity] = {};
    const DWORD n = GetFinalPathNameByHandleA(held, raw, sizeof raw, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof raw || std::strncmp(raw, "\\\\?\\", 4) != 0) return false;
    out.assign(raw + 4);
    return true;
}

// `path` upper-cased, without a final backslash other than a root's.
bool comparable(const char* path, char (&out)[kCapacity]) {
    if (!fa9::copyText(out, sizeof out, path)) return false;
    iUpperCasePath(out);
    size_t n = std::strlen(out);
    while (n > 3 && out[n - 1] == '\\') out[--n] = '\0';
    return true;
}

bool isSlash(char c) { return c == '\\' || c == '/'; }

// "X:\..." on a fixed drive of this machine. Anything else is refused before it is
// touched: a share's server answers with any owner and list it likes, and even a
// refused open has made the machine account sign in to it.
bool isLocal(const char* raw, const char* full) {
    if (isSlash(raw[0]) && isSlash(raw[1])) return false;  // \\server, \\?\, \\.\ forms
    if (!std::isalpha(static_cast<unsigned char>(full[0])) || full[1] != ':' || full[2] != '\\') return false;
    if (std::strchr(full + 2, ':')) return false;  // a stream of a file, or a device
    const char root[] = {full[0], ':', '\\', '\0'};
    return GetDriveTypeA(root) == DRIVE_FIXED;
}

bool attributesOf(HANDLE handle, DWORD& attributes) {
    FILE_BASIC_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info)) return false;
    attributes = info.FileAttributes;
    return true;
}

// The held object's final path, `final`, is `expected` (8.3 names and case aside).
bool liesAt(HANDLE held, const char* expected, std::string& final) {
    char named[kCapacity];
    const DWORD n = GetLongPathNameA(expected, named, sizeof named);
    return n > 0 && n < sizeof named && finalPath(held, final) && iSamePath(final.c_str(), named);
}

// The held object's final path, `final`, is `name` directly below the folder whose final
// path is `above` (asked once by whoever holds that folder).
bool liesBelow(HANDLE held, const std::string& above, const char* name, std::string& final) {
    const std::string expected = above + (above.size() == 3 ? "" : "\\") + name;  // "C:\" keeps its backslash
    return !above.empty() && finalPath(held, final) && iSamePath(final.c_str(), expected.c_str());
}
bool liesBelow(HANDLE held, const std::string& above, const char* name) {
    std::string final;
    return liesBelow(held, above, name, final);
}

bool isEntryName(const char* name) {
    return name && *name && std::strcmp(name, ".") && std::strcmp(name, "..") && !std::strpbrk(name, "\\/:");
}

// Deletes through `handle` (opened with DELETE), a read-only file made writable first.
bool deleteThrough(HANDLE handle, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO discard = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &discard, sizeof discard) != FALSE;
}

bool removeEntry(const std::string& place, const std::string& above, const std::string& name, int depth);

// The entries of the folder at `place`, held with the final path `above`, listed by name
// and each opened as itself and checked to lie directly below it.
bool removeContents(const std::string& place, const std::string& above, int depth) {
    std::vector<std::string> names;
    {
        WIN32_FIND_DATAA entry;
        unique_hfind find(FindFirstFileA((place + "\\*").c_str(), &entry));
        if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
        do {
            if (isEntryName(entry.cFileName)) names.emplace_back(entry.cFileName);
        } while (FindNextFileA(find.get(), &entry));
    }
    bool all = true;
    for (const std::string& name : names) all = removeEntry(place + "\\" + name, above, name, depth) && all;
    return all;
}

// A file or a link (the link itself, never what it leads to) is deleted through its own
// handle; a folder is held while what it holds goes, so that no link can take its place in
// between, then removed by name once let go: a folder that is gone by then, or a link put
// in its place, is all that name can remove, never what a link leads to. An entry that no
// longer lies below its folder (a mount point made of that folder meanwhile) is left.
bool removeEntry(const std::string& place, const std::string& above, const std::string& name, int depth) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    DWORD attributes = 0;
    unique_hfile entry(CreateFileA(place.c_str(), kRemoveAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, flags, nullptr));
    if (!entry) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (!attributesOf(entry.get(), attributes) || !liesBelow(entry.get(), above, name.c_str())) return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return deleteThrough(entry.get(), attributes);
    // Listed while held without DELETE access: a search opens the folder again, sharing
    // no deleting (so the DELETE handle goes first).
    entry.reset();
    entry.reset(CreateFileA(place.c_str(), kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            flags, nullptr));
    std::string final;
    if (!entry || !liesBelow(entry.get(), above, name.c_str(), final) || depth >= kDeepest ||
        !removeContents(place, final, depth + 1))
        return false;
    entry.reset();
    return RemoveDirectoryA(place.c_str()) != FALSE;
}

}  // namespace

bool iDeleteThrough(HANDLE handle) {
    DWORD attributes = 0;
    return attributesOf(handle, attributes) && deleteThrough(handle, attributes);
}

void iUpperCasePath(char* path) {
    char* end = path + std::strlen(path);
    for (char* p = path; p < end;) {
        const size_t unit = rspCharLength(p, end);
        if (unit == 1) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        p += unit;
    }
}

bool iSamePath(const char* a, const char* b) {
    char left[kCapacity], right[kCapacity];
    return comparable(a, left) && comparable(b, right) && std::strcmp(left, right) == 0;
}

const std::string& HeldPath::finalPath() const {
    if (final_.empty() && held() && !::finalPath(handle(), final_)) final_.clear();
    return final_;
}

Gate HeldPath::refuse(Gate verdict, const std::string& place) {
    held_.clear();
    places_.clear();
    final_.clear();
    refused_ = place;
    return verdict;
}

Gate HeldPath::open(const std::string& place, Held kind, bool last, bool trusted) {
    DWORD access = kFolderAccess, share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (last && kind == Held::Program) access = GENERIC_READ | READ_CONTROL, share = FILE_SHARE_READ;
    if (last && kind == Held::Data) access = GENERIC_READ | READ_CONTROL;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (checks_ ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    unique_hfile handle(CreateFileA(place.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    DWORD attributes = 0;
    if (!handle) {
        const DWORD error = GetLastError();
        return refuse(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Gate::Missing : Gate::Busy,
                      place);
    }
    if (!attributesOf(handle.get(), attributes)) return refuse(Gate::Busy, place);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return refuse(Gate::Link, place);
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (last ? (kind == Held::Folder && !folder) || ((kind == Held::Program || kind == Held::Data) && folder)
             : !folder)
        return refuse(Gate::Missing, place);
    if (checks_ && trusted && !iOnlyTrustedCanChange(handle.get())) return refuse(Gate::OpenToOthers, place);
    held_.push_back(std::move(handle));
    places_.push_back(place);
    return Gate::Accepted;
}

Gate HeldPath::hold(const char* path, Held kind, int trusted) {
    held_.clear();
    places_.clear();
    refused_.clear();
    final_.clear();
    checks_ = iRunsElevated();
    char full[kCapacity] = {};
    const DWORD n = path ? GetFullPathNameA(path, sizeof full, full, nullptr) : 0;
    path_ = n > 0 && n < sizeof full ? full : (path ? path : "");
    if (n == 0 || n >= sizeof full) return refuse(Gate::Missing, path_);
    // Not acting for others: the target alone, as its own user would open it.
    if (!checks_) return open(path_, kind, true, false);
    if (!isLocal(path, full)) return refuse(Gate::NotLocal, path_);
    size_t length = path_.size();
    while (length > 3 && path_[length - 1] == '\\') --length;
    path_.resize(length);
    if (length <= 3) return refuse(Gate::Missing, path_);  // a drive's root is no file or folder of ours
    std::vector<size_t> ends;
    for (size_t i = 3; i < length; ++i)
        if (path_[i] == '\\') ends.push_back(i);
    ends.push_back(length);
    for (size_t i = 0; i < ends.size(); ++i) {
        const bool last = i + 1 == ends.size();
        const Gate gate = open(path_.substr(0, ends[i]), kind, last, static_cast<int>(ends.size() - i) <= trusted);
        if (gate != Gate::Accepted) return gate;
    }
    if (!liesAt(handle(), path_.c_str(), final_)) return refuse(Gate::Elsewhere, path_);
    return Gate::Accepted;
}

Gate HeldPath::holdChild(const char* name, Held kind, bool trusted, HeldPath& child) const {
    child.held_.clear();
    child.places_.clear();
    child.final_.clear();
    child.checks_ = checks_;
    child.path_ = path_ + (!path_.empty() && path_.back() == '\\' ? "" : "\\") + (name ? name : "");
    if (!held() || !isEntryName(name)) return child.refuse(Gate::Missing, child.path_);
    const Gate gate = child.open(child.path_, kind, true, trusted);
    if (gate != Gate::Accepted) return gate;
    if (checks_ && !liesBelow(child.handle(), finalPath(), name, child.final_))
        return child.refuse(Gate::Elsewhere, child.path_);
    return Gate::Accepted;
}

std::string HeldPath::firstChangeableFolder() const {
    for (size_t i = 0; i + 1 < held_.size(); ++i)
        if (!iOnlyTrustedCanChange(held_[i].get())) return places_[i];
    return std::string();
}

bool iRemoveTree(HeldPath& folder) {
    if (!folder.held()) return false;
    const std::string path = folder.path();
    const bool emptied = removeContents(path, folder.finalPath(), 0);
    folder.release();
    return emptied && RemoveDirectoryA(path.c_str()) != FALSE;
}

int iCopyFileInto(HANDLE from, const HeldPath& into, const char* name, Gate& why) {
    why = Gate::Accepted;
    char to[kCapacity];
    FILE_BASIC_INFO basic = {};
    if (!isEntryName(name) || !fa9::formatText(to, sizeof to, "%s\\%s", into.path(), name) ||
        !GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic))
        return -1;
    {
        // An old copy, or a link in its place, goes first: itself, never what it leads to.
        unique_hfile old(CreateFileA(to, kRemoveAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
        DWORD attributes = 0;
        if (old && liesBelow(old.get(), into.finalPath(), name) && attributesOf(old.get(), attributes) &&
            !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            deleteThrough(old.get(), attributes);
    }
    // Made plain, so that it can still be discarded; the attributes and the time of the
    // last write that CopyFile keeps are given once it is whole.
    unique_hfile copy(CreateFileA(to, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!copy) return GetLastError() == ERROR_DISK_FULL ? ERROR_DISK_FULL : -1;
    if (!liesBelow(copy.get(), into.finalPath(), name)) {
        deleteThrough(copy.get(), 0);
        why = Gate::Elsewhere;
        return -1;
    }
    std::vector<char> piece(65536);
    for (;;) {
        DWORD got = 0, written = 0;
        const bool read = ReadFile(from, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr);
        if (read && got == 0) break;
        const bool wrote = read && WriteFile(copy.get(), piece.data(), got, &written, nullptr);
        if (!wrote || written != got) {
            // Half a file is no copy: it goes, and a full volume says so.
            const bool full = read && !wrote && GetLastError() == ERROR_DISK_FULL;
            deleteThrough(copy.get(), 0);
            return full ? ERROR_DISK_FULL : -1;
        }
    }
    FILE_BASIC_INFO kept = {};
    kept.LastWriteTime = basic.LastWriteTime;
    kept.FileAttributes = basic.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (kept.FileAttributes == 0) kept.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(copy.get(), FileBasicInfo, &kept, sizeof kept);
    return 0;
}
