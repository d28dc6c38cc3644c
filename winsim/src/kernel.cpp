// kernel32 and user32 basics: last error, code page and language, file attributes,
// drive types, debug output, message boxes.
#include "paths.h"
#include "winsim/control.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using winsim::Machine;

namespace {
thread_local DWORD t_lastError = 0;
}

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

UINT WINAPI GetACP(void) { return Machine::current().ansiCodePage; }

LANGID WINAPI GetSystemDefaultLangID(void) { return Machine::current().systemLanguage; }

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    Machine& m = Machine::current();
    if (!lpFileName || !*lpFileName) {
        SetLastError(lpFileName ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    m.noteFileSystemCall(lpFileName);
    std::string name = lpFileName;
    bool trailingSep = name.back() == '\\' || name.back() == '/';
    std::string host = m.hostPath(name);
    struct stat st;
    // A link answers for itself, not for what it leads to; its folder bit is its target's.
    std::string linkHost = host;
    while (linkHost.size() > 1 && linkHost.back() == '/') linkHost.pop_back();
    if (::lstat(linkHost.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool folder = ::stat(linkHost.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    }
    if (::stat(host.c_str(), &st) != 0) {
        // Windows tells a missing file from a missing folder on the way to it.
        fs::path parent = fs::path(m.hostPath(m.fullPath(name) + "\\..")).lexically_normal();
        std::error_code ec;
        SetLastError(fs::is_directory(parent, ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if (trailingSep) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attrs = FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
}

// A drive's root ("C:\\") or a share's ("\\\\server\\share\\"), with its trailing separator;
// null is the current directory's root. Anything else is no root (a mounted folder is not
// modelled). A drive letter's type comes from the machine's table of drives, without
// reaching the drive; a share's root is opened, which reaches its server (we believe
// Windows does the same) and answers DRIVE_NO_ROOT_DIR for a share that does not exist.
UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    Machine& m = Machine::current();
    const std::string current = m.currentDirectory();
    std::string name = lpRootPathName ? lpRootPathName : current.substr(0, winsim::paths::rootLength(current));
    if (!lpRootPathName && !name.empty() && name.back() != '\\') name += '\\';
    if (name.empty() || (name.back() != '\\' && name.back() != '/')) return DRIVE_NO_ROOT_DIR;
    const std::string full = m.fullPath(name);
    if (full.size() != winsim::paths::rootLength(full)) return DRIVE_NO_ROOT_DIR;
    if (full[1] == ':') return m.driveType(full[0]);
    if (!m.isRemote(full)) return DRIVE_NO_ROOT_DIR;
    m.noteFileSystemCall(full);
    std::error_code ec;
    return fs::is_directory(m.hostPath(full), ec) ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    m.debugOutput.push_back(lpOutputString ? lpOutputString : "");
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    winsim::MessageBoxCall call;
    call.owner = hWnd;
    call.text = lpText ? lpText : "";
    // A null caption makes Windows use its default title.
    call.caption = lpCaption ? lpCaption : "Error";
    call.style = uType;
    if (!m.messageBoxAnswers.empty()) {
        call.answer = m.messageBoxAnswers.front();
        m.messageBoxAnswers.pop_front();
    } else {
        static const int firstButton[] = {IDOK, IDOK, IDABORT, IDYES, IDYES, IDRETRY, IDCANCEL};
        UINT set = uType & 0xF;
        call.answer = set < sizeof(firstButton) / sizeof(firstButton[0]) ? firstButton[set] : IDOK;
    }
    m.messageBoxes.push_back(call);
    return call.answer;
}

HWND WINAPI GetForegroundWindow(void) { return Machine::current().foregroundWindow; }

}  // extern "C"
