// Files, folders and the current directory, on real host files below the machine's root.
#include "kernel_handles.h"
#include "paths.h"
#include "security.h"
#include "winsim/control.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using winsim::Machine;

namespace winsim {

namespace {

struct KernelEntry {
    std::shared_ptr<KernelObject> object;
    bool inheritable = false;
};

std::mutex g_kernelLock;
std::map<HANDLE, KernelEntry> g_kernelHandles;
uintptr_t g_nextKernelHandle = 0x100;

}  // namespace

HANDLE allocKernelHandle(std::shared_ptr<KernelObject> obj, bool inheritable) {
    std::lock_guard<std::mutex> g(g_kernelLock);
    g_nextKernelHandle += 4;  // Windows hands out multiples of four
    HANDLE h = reinterpret_cast<HANDLE>(g_nextKernelHandle);
    g_kernelHandles[h] = {std::move(obj), inheritable};
    return h;
}

std::shared_ptr<KernelObject> lookupKernelHandle(HANDLE h) {
    std::lock_guard<std::mutex> g(g_kernelLock);
    auto it = g_kernelHandles.find(h);
    return it == g_kernelHandles.end() ? nullptr : it->second.object;
}

std::shared_ptr<KernelObject> releaseKernelHandle(HANDLE h) {
    std::lock_guard<std::mutex> g(g_kernelLock);
    auto it = g_kernelHandles.find(h);
    if (it == g_kernelHandles.end()) return nullptr;
    auto obj = it->second.object;
    g_kernelHandles.erase(it);
    return obj;
}

bool isKernelHandleInheritable(HANDLE h) {
    std::lock_guard<std::mutex> g(g_kernelLock);
    auto it = g_kernelHandles.find(h);
    return it != g_kernelHandles.end() && it->second.inheritable;
}

std::vector<std::shared_ptr<KernelObject>> inheritableKernelObjects() {
    std::lock_guard<std::mutex> g(g_kernelLock);
    std::vector<std::shared_ptr<KernelObject>> out;
    for (const auto& [h, entry] : g_kernelHandles)
        if (entry.inheritable) out.push_back(entry.object);
    return out;
}

bool sharingConflict(const std::string& hostPath, DWORD access, DWORD share, bool linkItself) {
    // Only reading or running the data, writing or appending to it and deleting count: an
    // open for the attributes alone is left out of sharing, on either side.
    const DWORD read = GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | FILE_READ_DATA | FILE_EXECUTE,
                write = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA,
                remove = DELETE | GENERIC_ALL;
    if (!(access & (read | write | remove))) return false;
    // The same file is the same object, whatever name reached it.
    struct stat wanted {};
    const bool known = (linkItself ? ::lstat(hostPath.c_str(), &wanted) : ::stat(hostPath.c_str(), &wanted)) == 0;
    auto same = [&](const FileObject& file) {
        struct stat held {};
        if (known && ::fstat(file.fd, &held) == 0) return held.st_dev == wanted.st_dev && held.st_ino == wanted.st_ino;
        return file.hostPath == hostPath;
    };
    std::lock_guard<std::mutex> g(g_kernelLock);
    for (const auto& [h, entry] : g_kernelHandles) {
        auto file = std::dynamic_pointer_cast<FileObject>(entry.object);
        if (!file || file->fd < 0 || !(file->access & (read | write | remove)) || !same(*file)) continue;
        if (((access & read) && !(file->share & FILE_SHARE_READ)) ||
            ((access & write) && !(file->share & FILE_SHARE_WRITE)) ||
            ((access & remove) && !(file->share & FILE_SHARE_DELETE)) ||
            ((file->access & read) && !(share & FILE_SHARE_READ)) ||
            ((file->access & write) && !(share & FILE_SHARE_WRITE)) ||
            ((file->access & remove) && !(share & FILE_SHARE_DELETE)))
            return true;
    }
    return false;
}

void closeAllKernelHandles() {
    std::map<HANDLE, KernelEntry> closed;
    {
        std::lock_guard<std::mutex> g(g_kernelLock);
        closed.swap(g_kernelHandles);
    }
}

size_t openKernelHandleCount() {
    std::lock_guard<std::mutex> g(g_kernelLock);
    return g_kernelHandles.size();
}

// The host path of the file or folder an open descriptor holds, links resolved; empty
// when it cannot be read.
std::string heldHostPath(int fd) {
    char self[64];
    char held[4096];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(self, held, sizeof held - 1);
    return n > 0 ? std::string(held, static_cast<size_t>(n)) : std::string();
}

std::string heldWindowsPath(const FileObject& file) {
    struct stat st {};
    Machine* m = Machine::currentOrNull();
    if (!m || file.fd < 0 || ::fstat(file.fd, &st) != 0 || st.st_nlink == 0) return std::string();
    const std::string held = heldHostPath(file.fd);
    if (!file.link) return paths::realWindowsPath(m->hostRoot(), held);
    // A link's own place: where its folder really is, and its name.
    const fs::path place(held);
    const std::string folder = paths::realWindowsPath(m->hostRoot(), place.parent_path().string());
    return folder.empty() ? folder : paths::joinName(folder, place.filename().string());
}

FileObject::~FileObject() {
    if (fd < 0) return;
    // What is marked for deleting goes by what the handle holds, wherever a path to it now
    // leads: a file, an empty folder, or a link opened as itself (never what it leads to).
    struct stat st {};
    const bool going = deletePending && ::fstat(fd, &st) == 0;
    const std::string held = going ? heldHostPath(fd) : std::string();
    const std::string winPath = going ? heldWindowsPath(*this) : std::string();
    ::close(fd);
    if (held.empty() || (S_ISDIR(st.st_mode) ? ::rmdir(held.c_str()) : ::unlink(held.c_str())) != 0) return;
    if (S_ISREG(st.st_mode) && drive) returnVolumeSpace(drive, static_cast<unsigned long long>(st.st_size));
    if (Machine* m = Machine::currentOrNull(); m && !winPath.empty()) m->forgetSecurity(winPath);
}

namespace {

// The error Windows gives for a path whose folder does not exist, or a missing file.
DWORD missingError(Machine& m, const std::string& winPath) {
    std::error_code ec;
    return fs::is_directory(m.hostPath(m.fullPath(winPath) + "\\.."), ec) ? ERROR_FILE_NOT_FOUND
                                                                          : ERROR_PATH_NOT_FOUND;
}

}  // namespace

// A handle to the open descriptor `fd` of `host`, as `winPath` named it.
HANDLE fileHandle(Machine& m, const char* winPath, int fd, const std::string& host, DWORD access, DWORD share,
                  bool link = false, bool inheritable = false) {
    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->hostPath = host;
    file->access = access;
    file->share = share;
    file->link = link;
    const std::string full = m.fullPath(winPath);
    file->drive = full.size() > 1 && full[1] == ':' ? static_cast<char>(std::toupper(full[0])) : 0;
    return allocKernelHandle(file, inheritable);
}

// Access that changes the object or its security: the token must be allowed to write it.
constexpr DWORD kChangeAccess =
    GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;

// `host` opened with `openFlags` once no other handle's sharing stands in the way; -1,
// with the last error, when it cannot be.
int openShared(const std::string& host, int openFlags, DWORD access, DWORD share, bool linkItself = false) {
    if (sharingConflict(host, access, share, linkItself)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return -1;
    }
    const int fd = ::open(host.c_str(), openFlags | O_CLOEXEC);
    if (fd < 0) SetLastError(ERROR_ACCESS_DENIED);
    return fd;
}

// A folder opens as a file only with FILE_FLAG_BACKUP_SEMANTICS, and only as it is.
HANDLE openFolder(Machine& m, const char* winPath, const std::string& host, DWORD access, DWORD share,
                  DWORD disposition, DWORD flags) {
    if (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((access & kChangeAccess) && !checkWrite(m, winPath)) return INVALID_HANDLE_VALUE;
    const int fd = openShared(host, O_RDONLY | O_DIRECTORY, access, share);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return fileHandle(m, winPath, fd, host, access, share);
}

// A link opened as itself; one to a folder (a junction) only as a folder opens.
HANDLE openLink(Machine& m, const char* winPath, const std::string& host, DWORD access, DWORD share, DWORD flags) {
    std::error_code ec;
    if (fs::is_directory(host, ec) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((access & kChangeAccess) && !checkWrite(m, winPath)) return INVALID_HANDLE_VALUE;
    const int fd = openShared(host, O_PATH | O_NOFOLLOW, access, share, true);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return fileHandle(m, winPath, fd, host, access, share, true);
}

}  // namespace winsim

using namespace winsim;

extern "C" {

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    Machine& m = Machine::current();
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    m.noteFileSystemCall(lpPathName);
    std::string host = m.hostPath(lpPathName);
    std::error_code ec;
    if (fs::exists(host, ec)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    AccessList list;
    if (lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor &&
        !descriptorAccessList(lpSecurityAttributes->lpSecurityDescriptor, list)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    if (!checkWrite(m, lpPathName)) return FALSE;
    if (::mkdir(host.c_str(), 0777) != 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    recordCreated(m, lpPathName, lpSecurityAttributes);
    if (m.onDirectoryCreated) {
        const DWORD error = GetLastError();
        m.onDirectoryCreated(m.fullPath(lpPathName));
        SetLastError(error);
    }
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    Machine& m = Machine::current();
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    m.noteFileSystemCall(lpFileName);
    std::string host = m.hostPath(lpFileName);
    std::error_code ec;
    bool exists = fs::exists(host, ec);
    // A new file's name must be free: a folder or a link of that name (even one leading
    // nowhere) is a collision, before anything else is looked at.
    if (dwCreationDisposition == CREATE_NEW && (exists || fs::is_symlink(host, ec))) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    // A link opened as itself, never what it leads to.
    if ((dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) && fs::is_symlink(host, ec) &&
        dwCreationDisposition == OPEN_EXISTING)
        return openLink(m, lpFileName, host, dwDesiredAccess, dwShareMode, dwFlagsAndAttributes);
    if (fs::is_directory(host, ec)) return openFolder(m, lpFileName, host, dwDesiredAccess, dwShareMode,
                                                     dwCreationDisposition, dwFlagsAndAttributes);
    int flags = 0;
    bool read = dwDesiredAccess & (GENERIC_READ | GENERIC_ALL);
    bool write = dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL);
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        if (exists) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    if (!exists && (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)) {
        SetLastError(missingError(m, lpFileName));
        return INVALID_HANDLE_VALUE;
    }
    // An open that collides with another handle's sharing fails before anything changes.
    if (exists && sharingConflict(host, dwDesiredAccess, dwShareMode)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    // Creating needs the folder's write right, changing an existing file its own.
    const bool changes = (dwDesiredAccess & kChangeAccess) || !exists || dwCreationDisposition == CREATE_ALWAYS ||
                         dwCreationDisposition == TRUNCATE_EXISTING;
    if (changes && !checkWrite(m, lpFileName)) return INVALID_HANDLE_VALUE;
    int fd = ::open(host.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!exists) recordCreated(m, lpFileName, lpSecurityAttributes);
    // A new file takes the read-only attribute it is made with; its own handle still writes.
    if (!exists && (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY))
        fs::permissions(host, fs::perms::owner_write, fs::perm_options::remove, ec);
    const HANDLE handle = fileHandle(m, lpFileName, fd, host, dwDesiredAccess, dwShareMode, false,
                                     lpSecurityAttributes && lpSecurityAttributes->bInheritHandle);
    // Windows reports ERROR_ALREADY_EXISTS on success when an existing file was opened or replaced.
    SetLastError(exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      void*) {
    auto obj = lookupKernelHandle(hFile);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return obj->write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, void*) {
    auto obj = lookupKernelHandle(hFile);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return obj->read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    auto file = std::dynamic_pointer_cast<FileObject>(lookupKernelHandle(hFile));
    struct stat st {};
    if (!file || ::fstat(file->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // With a high half the distance is its 64-bit signed value, else the low half's.
    const long long move =
        lpDistanceToMoveHigh
            ? static_cast<long long>(uint64_t(uint32_t(*lpDistanceToMoveHigh)) << 32 | uint32_t(lDistanceToMove))
            : lDistanceToMove;
    long long base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: base = ::lseek(file->fd, 0, SEEK_CUR); break;
    case FILE_END: base = st.st_size; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    // A position before the start is refused and leaves the pointer where it was; one
    // past the end is allowed; without a high half it must fit the low one.
    if (move < 0 && base + move < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!lpDistanceToMoveHigh && base + move >= static_cast<long long>(INVALID_SET_FILE_POINTER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const off_t at = ::lseek(file->fd, static_cast<off_t>(base + move), SEEK_SET);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(uint64_t(at) >> 32);
    // A low half that looks like the failure value is told from one by the last error.
    if (static_cast<DWORD>(at) == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
    return static_cast<DWORD>(at);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = std::dynamic_pointer_cast<FileObject>(lookupKernelHandle(hFile));
    struct stat st {};
    if (!file || ::fstat(file->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(uint64_t(st.st_size) >> 32);
    if (static_cast<DWORD>(st.st_size) == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
    return static_cast<DWORD>(st.st_size);
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags) {
    auto file = std::dynamic_pointer_cast<FileObject>(lookupKernelHandle(hFile));
    if (!file || file->fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (dwFlags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The names on the way as they are on disk, links resolved: \\?\C:\a\b, or
    // \\?\UNC\server\share\a on another machine.
    const std::string real = heldWindowsPath(*file);
    if (real.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    const std::string path = real[0] == '\\' ? "\\\\?\\UNC" + real.substr(1) : "\\\\?\\" + real;
    if (!lpszFilePath || cchFilePath <= path.size()) return static_cast<DWORD>(path.size() + 1);
    std::memcpy(lpszFilePath, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize) {
    auto file = std::dynamic_pointer_cast<FileObject>(lookupKernelHandle(hFile));
    if (!file || file->fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct stat st {};
    if (::fstat(file->fd, &st) != 0) st.st_mode = 0;
    const bool readOnly = S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
    if (FileInformationClass == FileBasicInfo && lpFileInformation && dwBufferSize >= sizeof(FILE_BASIC_INFO)) {
        if (!(file->access & (FILE_WRITE_ATTRIBUTES | GENERIC_WRITE | GENERIC_ALL))) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        // Only the read-only attribute is kept (as the owner's write bit); 0 changes nothing.
        const DWORD attributes = static_cast<FILE_BASIC_INFO*>(lpFileInformation)->FileAttributes;
        if (attributes && S_ISREG(st.st_mode))
            ::fchmod(file->fd, (attributes & FILE_ATTRIBUTE_READONLY) ? st.st_mode & ~S_IWUSR : st.st_mode | S_IWUSR);
        return TRUE;
    }
    if (FileInformationClass != FileDispositionInfo || !lpFileInformation ||
        dwBufferSize < sizeof(FILE_DISPOSITION_INFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A read-only file cannot be marked for deleting.
    if (!(file->access & (DELETE | GENERIC_ALL)) || readOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const bool deleting = static_cast<FILE_DISPOSITION_INFO*>(lpFileInformation)->DeleteFile != 0;
    // A folder is refused while it holds anything (what is made in it afterwards is not
    // refused here, as Windows refuses it, and keeps the folder).
    std::error_code ec;
    if (deleting && S_ISDIR(st.st_mode) && !fs::is_empty(heldHostPath(file->fd), ec)) {
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return FALSE;
    }
    file->deletePending = deleting;
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                         LPVOID lpFileInformation, DWORD dwBufferSize) {
    auto file = std::dynamic_pointer_cast<FileObject>(lookupKernelHandle(hFile));
    struct stat st {};
    if (!file || file->fd < 0 || ::fstat(file->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (FileInformationClass != FileBasicInfo || !lpFileInformation || dwBufferSize < sizeof(FILE_BASIC_INFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FILE_BASIC_INFO info = {};
    // A link opened as itself is a reparse point, a folder one when it leads to a folder.
    std::error_code ec;
    const DWORD linkKind = fs::is_directory(heldHostPath(file->fd), ec) ? FILE_ATTRIBUTE_DIRECTORY
                                                                        : FILE_ATTRIBUTE_ARCHIVE;
    info.FileAttributes = file->link              ? FILE_ATTRIBUTE_REPARSE_POINT | linkKind
                          : S_ISDIR(st.st_mode)   ? FILE_ATTRIBUTE_DIRECTORY
                          : (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_ARCHIVE
                                                   : FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
    *static_cast<FILE_BASIC_INFO*>(lpFileInformation) = info;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (!releaseKernelHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    Machine& m = Machine::current();
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m.noteFileSystemCall(lpPathName);
    std::error_code ec;
    std::string host = m.hostPath(lpPathName);
    if (!fs::exists(host, ec)) {
        SetLastError(missingError(m, lpPathName));
        return FALSE;
    }
    if (!fs::is_directory(host, ec)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    m.setCurrentDirectory(lpPathName);
    return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    std::string dir = Machine::current().currentDirectory();
    // Windows keeps the current directory without a trailing separator, except at a drive root.
    if (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
    if (!lpBuffer || nBufferLength <= dir.size()) return static_cast<DWORD>(dir.size() + 1);
    dir.copy(lpBuffer, dir.size());
    lpBuffer[dir.size()] = '\0';
    return static_cast<DWORD>(dir.size());
}

}  // extern "C"
