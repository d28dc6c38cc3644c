// Kernel object handles: files, pipe ends, processes and threads. A handle names an
// object; duplicates share it, and the object lives until its last handle is closed.
#pragma once

#include "winsim/control.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace winsim {

struct KernelObject {
    virtual ~KernelObject() = default;
    // WaitForSingleObject: WAIT_OBJECT_0 once signalled, WAIT_TIMEOUT, or WAIT_FAILED.
    virtual DWORD wait(DWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // The host descriptor a child process can be given for this object, or -1.
    virtual int hostFd() const { return -1; }
    virtual BOOL write(LPCVOID, DWORD, LPDWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    virtual BOOL read(LPVOID, DWORD, LPDWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
};

// Takes `bytes` from the room left on the volume of drive `drive` (a volume without a
// limit always has room): false, nothing taken, when they do not fit.
bool takeVolumeSpace(char drive, unsigned long long bytes);
// Gives back the room of a file deleted from that volume.
void returnVolumeSpace(char drive, unsigned long long bytes);

struct FileObject : KernelObject {
    int fd = -1;
    // What the open asked for and let others do (sharing checks), and where the file lies.
    std::string hostPath;
    DWORD access = 0;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    char drive = 0;  // upper-case letter of the volume, or 0
    // Set through the handle (SetFileInformationByHandle): the file goes when its last
    // handle is closed.
    bool deletePending = false;
    // Opened with FILE_FLAG_OPEN_REPARSE_POINT at a link: the handle is the link itself.
    bool link = false;
    ~FileObject() override;
    int hostFd() const override { return fd; }
    BOOL write(LPCVOID data, DWORD n, LPDWORD written) override {
        // A volume with too little room left takes nothing of the write.
        if (drive && !takeVolumeSpace(drive, n)) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        ssize_t r = ::write(fd, data, n);
        if (r < 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (written) *written = static_cast<DWORD>(r);
        return TRUE;
    }
    BOOL read(LPVOID data, DWORD n, LPDWORD got) override {
        ssize_t r = ::read(fd, data, n);
        if (r < 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (got) *got = static_cast<DWORD>(r);
        return TRUE;
    }
};

HANDLE allocKernelHandle(std::shared_ptr<KernelObject> obj, bool inheritable = false);
std::shared_ptr<KernelObject> lookupKernelHandle(HANDLE h);
std::shared_ptr<KernelObject> releaseKernelHandle(HANDLE h);
bool isKernelHandleInheritable(HANDLE h);
// Whether an open of the host file `hostPath` asking for `access` and letting others do
// `share` conflicts with an open handle of the same file, as Windows checks it. With
// `linkItself` a link at `hostPath` is the file meant (a rename or a delete acts on it).
bool sharingConflict(const std::string& hostPath, DWORD access, DWORD share, bool linkItself = false);
// The host path of what an open descriptor holds, links on the way resolved; empty when
// it cannot be read.
std::string heldHostPath(int fd);
// The Windows path of what a file handle holds now (a link opened as itself: the link's
// own place), as its real names give it; empty when it is gone.
std::string heldWindowsPath(const FileObject& file);
// The objects of every inheritable handle: what a child created with handle
// inheritance holds open.
std::vector<std::shared_ptr<KernelObject>> inheritableKernelObjects();

}  // namespace winsim
