// GetTempPathA, RemoveDirectoryA and the system folders, as kernel32 documents them.
#include "security.h"
#include "winsim/control.h"

#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;
using namespace winsim;

namespace {

// A folder's path the way GetTempPathA and the system-folder calls give it: the length
// without the terminator, or the size needed (terminator included) when the buffer is too
// small.
UINT copyFolder(const std::string& path, LPSTR buffer, UINT size) {
    const UINT length = static_cast<UINT>(path.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, path.c_str(), length + 1);
    return length;
}

}  // namespace

// The first of TMP, TEMP and USERPROFILE that is set, else the Windows folder; always
// with a trailing backslash. The length without the terminator, or the size the buffer
// needs (terminator included) when it is too small.
extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    Machine& m = Machine::current();
    std::string path;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        auto it = m.environment.find(name);
        if (it != m.environment.end() && !it->second.empty()) {
            path = it->second;
            break;
        }
    }
    if (path.empty()) path = "C:\\Windows";
    path = m.fullPath(path);
    if (path.back() != '\\') path += '\\';
    return copyFolder(path, lpBuffer, nBufferLength);
}

// Only an empty folder goes; a file is not a folder; a link (a modelled reparse point) goes itself.
extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    Machine& m = Machine::current();
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    m.noteFileSystemCall(lpPathName);
    const std::string host = m.hostPath(lpPathName);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(host, ec))) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // A junction or a symbolic link to a folder goes itself, never what it leads to.
    if (!fs::is_symlink(fs::symlink_status(host, ec))) {
        if (!fs::is_directory(fs::symlink_status(host, ec))) {
            SetLastError(ERROR_DIRECTORY);
            return FALSE;
        }
        if (!fs::is_empty(host, ec)) {
            SetLastError(ERROR_DIR_NOT_EMPTY);
            return FALSE;
        }
    }
    if (!checkWrite(m, lpPathName)) return FALSE;
    if (!fs::remove(host, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    m.forgetSecurity(lpPathName);
    return TRUE;
}

// The machine is 64-bit Windows: the Windows folder holds the 64-bit programs that are
// not in System32 (regedit.exe), SysWOW64 the 32-bit ones, whatever the caller's bitness.
extern "C" UINT WINAPI GetSystemWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copyFolder("C:\\Windows", lpBuffer, uSize);
}

extern "C" UINT WINAPI GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copyFolder("C:\\Windows\\SysWOW64", lpBuffer, uSize);
}

extern "C" BOOL WINAPI IsWow64Process(HANDLE, PBOOL Wow64Process) {
    if (!Wow64Process) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *Wow64Process = Machine::current().wow64Process ? TRUE : FALSE;
    return TRUE;
}
