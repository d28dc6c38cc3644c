#include "runtime/run_folder.h"

#include "frame/process_record.h"

#include "platform/bounded.h"
#include "frame/message_strings.h"
#include "platform/scoped_handles.h"
#include "trust/held_path.h"
#include "trust/trusted_accounts.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kMarkerSuffix = ".live";
const char* const kLiveVariable = "FA9WOLT_LIVE_RUNTIME";
const size_t kPathCapacity = MAX_PATH + 1;
const size_t kDigits = 5;         // a runtime folder's number
const size_t kRandomDigits = 16;  // a program copy's random name, in hex

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

bool iRemoveFolderTree(const char* folder) {
    // Held as itself and, for a process that acts for others, changeable by the trusted
    // alone: then nothing inside can be swapped for a link while it goes.
    HeldPath held;
    const Gate gate = held.hold(folder, Held::Folder, 1);
    return gate == Gate::Missing || (gate == Gate::Accepted && iRemoveTree(held));
}

bool iEndRunFolder(const char* folder, HANDLE marker) {
    const bool gone = folder && *folder && iRemoveFolderTree(folder);
    if (marker != INVALID_HANDLE_VALUE && marker != nullptr) CloseHandle(marker);
    char path[kPathCapacity];
    // A marker whose folder stayed tells the next run that this one is over.
    if (!gone || !markerPath(path, folder)) return false;
    return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

void iSweepFinishedRunFolders(const char* parent, const char* prefix) {
    HeldPath base;
    if (!prefix || base.hold(parent, Held::Folder, 0) != Gate::Accepted) return;
    char pattern[kPathCapacity];
    if (!fa9::formatText(pattern, sizeof pattern, "%s\\%s*%s", base.path(), prefix, kMarkerSuffix)) return;
    std::vector<std::string> markers;
    {
        WIN32_FIND_DATAA entry;
        unique_hfind find(FindFirstFileA(pattern, &entry));
        if (!find) return;
        do {
            const size_t p = std::strlen(prefix), len = std::strlen(entry.cFileName);
            if (len > p + std::strlen(kMarkerSuffix) &&
                isRunNameTail(entry.cFileName + p, len - p - std::strlen(kMarkerSuffix)))
                markers.emplace_back(entry.cFileName);
        } while (FindNextFileA(find.get(), &entry));
    }
    const bool checks = iRunsElevated();
    for (const std::string& name : markers) {
        // Opened as itself without sharing: that fails while the live run holds it. Held
        // while the folder goes, so that no other run's sweep works on it at the same time.
        char path[kPathCapacity];
        if (!fa9::formatText(path, sizeof path, "%s\\%s", base.path(), name.c_str())) continue;
        unique_hfile marker(CreateFileA(path, GENERIC_READ | DELETE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        // What a standard user made in a temporary folder it shares is not the library's.
        if (!marker || (checks && !iOwnedByTrusted(marker.get()))) continue;
        HeldPath folder;
        const std::string folderName = name.substr(0, name.size() - std::strlen(kMarkerSuffix));
        const Gate gate = base.holdChild(folderName.c_str(), Held::Folder, true, folder);
        if (gate == Gate::Missing || (gate == Gate::Accepted && iRemoveTree(folder))) iDeleteThrough(marker.get());
    }
}

void iRecordLiveRuntimeFolder(const char* folder, HANDLE marker) {
    std::vector<LiveEntry> entries = readRecord();
    entries.push_back({marker, folder});
    writeRecord(entries);
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
