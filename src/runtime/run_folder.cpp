#include "runtime/run_folder.h"

#include "frame/process_record.h"

#include "platform/bounded.h"
#include "frame/message_strings.h"
#include "platform/scoped_handles.h"
#include "runtime/protected_folder.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kMarkerSuffix = ".live";
const char* const kLiveVariable = "FA9WOLT_LIVE_RUNTIME";
const size_t kPathCapacity = MAX_PATH + 1;
const size_t kDigits = 5;         // a runtime folder's number
const size_t kRandomDigits = 16;  // a program copy's random name, in hex
const int kDeepest = 32;  // deeper than anything a run makes

bool markerPath(char* out, const char* folder) {
    return fa9::formatText(out, kPathCapacity, "%s%s", folder, kMarkerSuffix);
}

// What follows a run folder's prefix: five digits, or 16 lower-case hex digits.
bool isRunNameTail(const char* tail, size_t length) {
    if (length != kDigits && length != kRandomDigits) return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = tail[i];
        const bool digit = c >= '0' && c <= '9';
        if (!digit && (length == kDigits || c < 'a' || c > 'f')) return false;
    }
    return true;
}

bool isGone(const char* path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool removeTree(const char* folder, int depth) {
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return isGone(folder);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;  // not a folder: not ours
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryA(folder) != FALSE;
    if (depth > kDeepest) return false;
    char pattern[kPathCapacity];
    if (!fa9::formatText(pattern, sizeof pattern, "%s\\*", folder)) return false;
    // The names first: the listing is not changed under the search.
    std::vector<std::pair<std::string, DWORD>> entries;
    {
        WIN32_FIND_DATAA entry;
        unique_hfind find(FindFirstFileA(pattern, &entry));
        if (find) {
            do {
                if (std::strcmp(entry.cFileName, ".") && std::strcmp(entry.cFileName, ".."))
                    entries.emplace_back(entry.cFileName, entry.dwFileAttributes);
            } while (FindNextFileA(find.get(), &entry));
        }
    }
    for (const auto& [name, attrs] : entries) {
        char path[kPathCapacity];
        if (!fa9::formatText(path, sizeof path, "%s\\%s", folder, name.c_str())) continue;
        if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
            removeTree(path, depth + 1);
            continue;
        }
        if (attrs & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }
    RemoveDirectoryA(folder);
    return isGone(folder);
}

using LiveEntry = ProcessRecordEntry;  // the marker's handle and the folder

std::vector<LiveEntry> readRecord() { return iReadProcessRecord(kLiveVariable); }
void writeRecord(const std::vector<LiveEntry>& entries) { iWriteProcessRecord(kLiveVariable, entries); }

bool isFolderOrBelow(const char* path, const char* folder) {
    const size_t n = std::strlen(folder);
    if (std::strlen(path) < n || (path[n] != '\0' && path[n] != '\\')) return false;
    std::string head(path, n);
    return fa9::equalsNoCase(head.c_str(), folder);
}

// Lets go of what this process keeps inside `folder`, so that it can be removed.
void releaseHoldsIn(const char* folder) {
    char current[kPathCapacity] = {};
    const DWORD n = GetCurrentDirectoryA(sizeof current, current);
    if (n > 0 && n < sizeof current && isFolderOrBelow(current, folder)) {
        char parent[kPathCapacity];
        fa9::copyText(parent, sizeof parent, folder);
        char* cut = std::strrchr(parent, '\\');
        if (cut) {
            cut[cut == parent + 2 ? 1 : 0] = '\0';  // "C:\" keeps its backslash
            SetCurrentDirectoryA(parent);
        }
    }
    char library[kPathCapacity];
    if (fa9::formatText(library, sizeof library, "%s\\fa9osse_install3.dll", folder))
        for (int i = 0; i < 4; ++i) {
            HMODULE module = GetModuleHandleA(library);
            if (!module || !FreeLibrary(module)) break;
        }
}

}  // namespace

HANDLE iHoldRunMarker(const char* folder) {
    char marker[kPathCapacity];
    if (!folder || !markerPath(marker, folder)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    // Read sharing only: no other process may delete it, or open it for writing, while we live.
    return CreateFileA(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void iDropRunMarker(const char* folder, HANDLE marker) {
    if (marker != INVALID_HANDLE_VALUE && marker != nullptr) CloseHandle(marker);
    char path[kPathCapacity];
    if (folder && markerPath(path, folder)) DeleteFileA(path);
}

bool iRemoveFolderTree(const char* folder) { return folder && *folder && removeTree(folder, 0); }

bool iEndRunFolder(const char* folder, HANDLE marker) {
    const bool gone = iRemoveFolderTree(folder);
    if (marker != INVALID_HANDLE_VALUE && marker != nullptr) CloseHandle(marker);
    char path[kPathCapacity];
    // A marker whose folder stayed tells the next run that this one is over.
    if (!gone || !markerPath(path, folder)) return false;
    return DeleteFileA(path) || isGone(path);
}

void iSweepFinishedRunFolders(const char* parent, const char* prefix, bool ownedOnly) {
    if (!parent || !*parent || !prefix) return;
    char base[kPathCapacity];
    if (!fa9::copyText(base, sizeof base, parent)) return;
    size_t n = std::strlen(base);
    if (n && base[n - 1] == '\\') base[--n] = '\0';
    char pattern[kPathCapacity];
    if (!fa9::formatText(pattern, sizeof pattern, "%s\\%s*%s", base, prefix, kMarkerSuffix)) return;
    std::vector<std::string> markers;
    {
        WIN32_FIND_DATAA entry;
        unique_hfind find(FindFirstFileA(pattern, &entry));
        if (!find) return;
        do {
            if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            const size_t p = std::strlen(prefix), len = std::strlen(entry.cFileName);
            if (len > p + std::strlen(kMarkerSuffix) &&
                isRunNameTail(entry.cFileName + p, len - p - std::strlen(kMarkerSuffix)))
                markers.emplace_back(entry.cFileName);
        } while (FindNextFileA(find.get(), &entry));
    }
    for (const std::string& name : markers) {
        char marker[kPathCapacity], folder[kPathCapacity];
        if (!fa9::formatText(marker, sizeof marker, "%s\\%s", base, name.c_str()) ||
            !fa9::formatText(folder, sizeof folder, "%s\\%.*s", base,
                             static_cast<int>(name.size() - std::strlen(kMarkerSuffix)), name.c_str()))
            continue;
        // Opened without sharing: that fails while the live run holds it. Held while the
        // folder goes, so that no other run's sweep works on it at the same time.
        unique_hfile held(CreateFileA(marker, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held) continue;
        if (ownedOnly && (!iOwnedByAccountOrAdministrators(marker) ||
                          (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES &&
                           !iOwnedByAccountOrAdministrators(folder))))
            continue;
        const bool gone = iRemoveFolderTree(folder);
        held.reset();
        if (gone) DeleteFileA(marker);
    }
}

void iRecordLiveRuntimeFolder(const char* folder, HANDLE marker) {
    std::vector<LiveEntry> entries = readRecord();
    entries.push_back({marker, folder});
    writeRecord(entries);
}

void iForgetLiveRuntimeFolder(const char* folder) {
    std::vector<LiveEntry> entries = readRecord(), kept;
    for (const LiveEntry& e : entries)
        if (!fa9::equalsNoCase(e.path.c_str(), folder)) kept.push_back(e);
    writeRecord(kept);
}

void iEndLiveRuntimeFolders() {
    const std::vector<LiveEntry> entries = readRecord();
    if (entries.empty()) return;
    // The string library is mapped from a runtime folder as long as it is kept.
    ureReleaseStringLibraries();
    for (const LiveEntry& e : entries) {
        releaseHoldsIn(e.path.c_str());
        iEndRunFolder(e.path.c_str(), e.handle);
    }
    writeRecord({});
}
