// Listing, copying, deleting and marking files: FindFirstFileA/FindNextFileA,
// CopyFileA, DeleteFileA, SetFileAttributesA, MoveFileExA and MoveFileA, on the machine's real
// host files. The read-only attribute is the owner's write permission bit; a delete
// marked for the next restart goes where Windows keeps it, the Session Manager's
// PendingFileRenameOperations value.
#include "kernel_handles.h"
#include "paths.h"
#include "security.h"
#include "winsim/control.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using winsim::Machine;

namespace winsim {
namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The wildcard match of the file functions: '*' any run, '?' one character, no case.
bool wildcard(const char* pattern, const char* name) {
    if (!*pattern) return !*name;
    if (*pattern == '*') return wildcard(pattern + 1, name) || (*name && wildcard(pattern, name + 1));
    if (!*name) return false;
    return (*pattern == '?' || lower(*pattern) == lower(*name)) && wildcard(pattern + 1, name + 1);
}

struct FindObject : KernelObject {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

WIN32_FIND_DATAA describe(const std::string& name, const fs::path& host) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    struct stat st;
    if (::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // A junction or symbolic link is listed as itself, marked as a reparse point.
        const bool folder = ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        data.dwFileAttributes =
            FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    } else if (::stat(host.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        } else {
            data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE | ((st.st_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
            data.nFileSizeLow = static_cast<DWORD>(st.st_size & 0xFFFFFFFF);
            data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
        }
    }
    std::snprintf(data.cFileName, sizeof data.cFileName, "%s", name.c_str());
    return data;
}

bool isReadOnly(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// The error Windows gives for a missing file, or a missing folder on the way to it.
DWORD missing(Machine& m, const std::string& winPath) {
    std::error_code ec;
    return fs::is_directory(m.hostPath(m.fullPath(winPath) + "\\.."), ec) ? ERROR_FILE_NOT_FOUND
                                                                         : ERROR_PATH_NOT_FOUND;
}

void appendMultiString(std::vector<BYTE>& data, const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    data.push_back(0);
}

// The host path of an existing file or folder; false with Windows' error when there is
// none (no name, a missing file, or a missing folder on the way to it).
bool existingHostPath(LPCSTR winPath, std::string& host) {
    Machine& m = Machine::current();
    if (!winPath || !*winPath) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    m.noteFileSystemCall(winPath);
    host = m.hostPath(winPath);
    std::error_code ec;
    if (!fs::exists(host, ec)) {
        SetLastError(missing(m, winPath));
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> pendingFileOperations(const Machine& m) {
    std::vector<std::string> out;
    auto value = const_cast<Machine&>(m).registry().value(Hive::LocalMachine, kSessionManager,
                                                          "PendingFileRenameOperations");
    if (!value || value->data.empty()) return out;
    // Strings ended by a zero (a delete's new name is empty), then the list's closing zero.
    const auto& d = value->data;
    size_t i = 0;
    while (i + 1 < d.size()) {
        size_t end = i;
        while (end < d.size() && d[end]) ++end;
        out.emplace_back(reinterpret_cast<const char*>(d.data() + i), end - i);
        i = end + 1;
    }
    return out;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    Machine& m = Machine::current();
    if (!lpFileName || !*lpFileName || !lpFindFileData) {
        SetLastError(lpFileName && *lpFileName ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    m.noteFileSystemCall(lpFileName);
    const std::string full = m.fullPath(lpFileName);
    const size_t slash = full.find_last_of('\\');
    const size_t root = paths::rootLength(full);
    const std::string folder = full.substr(0, slash < root ? root : slash);
    const std::string pattern = full.substr(slash + 1);
    const fs::path hostFolder = m.hostPath(folder);
    std::error_code ec;
    if (!fs::is_directory(hostFolder, ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>();
    // A folder other than a drive's or a share's root lists "." and ".." first.
    if (folder.size() > paths::rootLength(folder))
        for (const char* dot : {".", ".."})
            if (wildcard(pattern.c_str(), dot)) find->entries.push_back(describe(dot, hostFolder));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(hostFolder, ec)) names.push_back(entry.path().filename().string());
    // NTFS lists a folder in the order of its upper-cased names.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::toupper(static_cast<unsigned char>(x)) < std::toupper(static_cast<unsigned char>(y));
        });
    });
    for (const std::string& name : names)
        if (wildcard(pattern.c_str(), name.c_str())) find->entries.push_back(describe(name, hostFolder / name));
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = find->entries[find->next++];
    return allocKernelHandle(find);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto find = std::dynamic_pointer_cast<FindObject>(lookupKernelHandle(hFindFile));
    if (!find || !lpFindFileData) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (find->next >= find->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *lpFindFileData = find->entries[find->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!std::dynamic_pointer_cast<FindObject>(lookupKernelHandle(hFindFile)) || !releaseKernelHandle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    Machine& m = Machine::current();
    if (!lpExistingFileName || !lpNewFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m.noteFileSystemCall(lpExistingFileName);
    m.noteFileSystemCall(lpNewFileName);
    const std::string from = m.hostPath(lpExistingFileName), to = m.hostPath(lpNewFileName);
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) {
        SetLastError(fs::is_directory(from, ec) ? ERROR_ACCESS_DENIED : missing(m, lpExistingFileName));
        return FALSE;
    }
    if (fs::exists(to, ec)) {
        if (bFailIfExists) {
            SetLastError(ERROR_FILE_EXISTS);
            return FALSE;
        }
        // Windows refuses to overwrite a read-only file or a folder.
        if (fs::is_directory(to, ec) || isReadOnly(to)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (!fs::is_directory(fs::path(to).parent_path(), ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const bool created = !fs::exists(to, ec);
    if (!checkWrite(m, lpNewFileName)) return FALSE;
    // A copy that does not fit fails without leaving a piece of itself.
    const std::string full = m.fullPath(lpNewFileName);
    const auto size = fs::file_size(from, ec);
    if (full.size() > 1 && full[1] == ':' && !takeVolumeSpace(static_cast<char>(std::toupper(full[0])), ec ? 0 : size)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The copy keeps the source's attributes, read-only among them.
    fs::permissions(to, fs::status(from, ec).permissions(), ec);
    if (created) recordCreated(m, lpNewFileName, nullptr);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    std::string host;
    if (!existingHostPath(lpFileName, host)) return FALSE;
    if (!checkWrite(Machine::current(), lpFileName)) return FALSE;
    std::error_code ec;
    if (fs::is_directory(host, ec) || isReadOnly(host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // DeleteFile opens for deleting and shares everything: only a handle that does not
    // share deleting stands in its way.
    if (sharingConflict(host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    const auto size = fs::file_size(host, ec);
    const unsigned long long freed = ec ? 0 : size;
    if (!fs::remove(host, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::string full = Machine::current().fullPath(lpFileName);
    if (full.size() > 1 && full[1] == ':') returnVolumeSpace(static_cast<char>(std::toupper(full[0])), freed);
    Machine::current().forgetSecurity(lpFileName);
    return TRUE;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    std::string host;
    if (!existingHostPath(lpFileName, host)) return FALSE;
    std::error_code ec;
    if (!fs::is_directory(host, ec))
        fs::permissions(host, fs::perms::owner_write,
                        (dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? fs::perm_options::remove : fs::perm_options::add,
                        ec);
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    Machine& m = Machine::current();
    if (!lpExistingFileName || !*lpExistingFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        // Recorded for the next restart as a pair "\??\<full path>", "\??\<new>" (empty: delete).
        auto old = m.registry().value(Hive::LocalMachine, kSessionManager, "PendingFileRenameOperations");
        std::vector<BYTE> data = old ? old->data : std::vector<BYTE>();
        if (!data.empty() && data.back() == 0) data.pop_back();  // the list's closing zero
        appendMultiString(data, "\\??\\" + m.fullPath(lpExistingFileName));
        appendMultiString(data, lpNewFileName ? "\\??\\" + m.fullPath(lpNewFileName) : std::string());
        data.push_back(0);
        m.registry().setValue(Hive::LocalMachine, kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ, data);
        return TRUE;
    }
    if (!lpNewFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m.noteFileSystemCall(lpExistingFileName);
    m.noteFileSystemCall(lpNewFileName);
    const std::string from = m.hostPath(lpExistingFileName);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(from, ec))) {
        SetLastError(missing(m, lpExistingFileName));
        return FALSE;
    }
    const std::string to = m.hostPath(lpNewFileName);
    if (!checkWrite(m, lpExistingFileName) || !checkWrite(m, lpNewFileName)) return FALSE;
    // A rename opens the file or folder (a link: itself) for deleting: a handle that does
    // not share that holds it.
    if (sharingConflict(from, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (fs::exists(to, ec) && !(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    fs::rename(from, to, ec);
    if (ec) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    m.moveSecurity(lpExistingFileName, lpNewFileName);
    return TRUE;
}

// A rename that may copy across volumes, and never replaces.
BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

}  // extern "C"
