// Target paths of the Directory table's folders, as msi.dll answers a custom action:
//   MsiSetTargetPathA  folder or path null -> ERROR_INVALID_PARAMETER (before the handle
//                      is looked at); not a session -> ERROR_INVALID_HANDLE; a folder the
//                      costed Directory table does not hold -> ERROR_DIRECTORY; an existing
//                      read-only target, or a path that is not a full path ->
//                      ERROR_FUNCTION_FAILED, nothing changed.
//                      The path is stored normalised: repeated backslashes folded, blanks
//                      around each part dropped, one trailing backslash. The folder's
//                      property takes the same value.
//   MsiGetTargetPathA  folder null -> ERROR_INVALID_PARAMETER; not a session ->
//                      ERROR_INVALID_HANDLE; unknown folder -> ERROR_DIRECTORY; the buffer
//                      rules of MsiGetPropertyA inside a custom action (a length that does
//                      not fit comes back doubled).
// Folders exist for these functions only once costing has finished.
#include "msi_handles.h"
#include "winsim/control.h"

#include <cstring>

namespace winsim {
namespace {

bool isBlank(char c) { return c == ' '; }

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Characters no path part may hold; ':' is allowed only after the drive letter.
bool badPathCharacter(char c) {
    return c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' || c == ':' || c == '/' ||
           static_cast<unsigned char>(c) < 0x20;
}

// The installer's form of a full path: "X:\part\part\" or "\\server\share\part\". Empty
// when `path` is not a full path of either form.
std::string normalizeTargetPath(const std::string& path) {
    std::string root;
    size_t at;
    if (path.size() >= 3 && isDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
        root = path.substr(0, 2);
        at = 3;
    } else if (path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\') {
        root = "\\";
        at = 2;
    } else {
        return std::string();
    }
    std::string out = root;
    size_t parts = 0;
    while (at <= path.size()) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        size_t b = at, e = end;
        while (b < e && isBlank(path[b])) ++b;
        while (e > b && isBlank(path[e - 1])) --e;
        if (e > b) {
            for (size_t i = b; i < e; ++i)
                if (badPathCharacter(path[i])) return std::string();
            out += "\\" + path.substr(b, e - b);
            ++parts;
        }
        at = end + 1;
    }
    // A share needs its server and its name.
    if (root == "\\" && parts < 2) return std::string();
    return out + "\\";
}

// What the file system says of the path, as the installer asks it; the caller's last
// error is left as it was.
bool isReadOnly(const char* winPath) {
    DWORD saved = GetLastError();
    DWORD attributes = GetFileAttributesA(winPath);
    SetLastError(saved);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}


}  // namespace
}  // namespace winsim

using namespace winsim;

extern "C" {

UINT WINAPI MsiSetTargetPathA(MSIHANDLE hInstall, LPCSTR szFolder, LPCSTR szFolderPath) {
    if (!szFolder || !szFolderPath) return ERROR_INVALID_PARAMETER;
    Session* s = countedSessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    // The read-only test comes first, as in the installer: it looks at the path alone.
    if (isReadOnly(szFolderPath)) return ERROR_FUNCTION_FAILED;
    if (!s->costingDone() || !s->targetPath(szFolder)) return ERROR_DIRECTORY;
    const std::string path = normalizeTargetPath(szFolderPath);
    if (path.empty()) return ERROR_FUNCTION_FAILED;
    s->setTargetPath(szFolder, path);
    s->setProperty(szFolder, path);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiGetTargetPathA(MSIHANDLE hInstall, LPCSTR szFolder, LPSTR szPathBuf, LPDWORD pcchPathBuf) {
    if (!szFolder) return ERROR_INVALID_PARAMETER;
    Session* s = countedSessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    auto path = s->costingDone() ? s->targetPath(szFolder) : std::nullopt;
    if (!path) return ERROR_DIRECTORY;
    return copyStringOut(*path, szPathBuf, pcchPathBuf, true);
}

}  // extern "C"
