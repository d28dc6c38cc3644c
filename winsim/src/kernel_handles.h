// Kernel object handles (files now; pipes, processes and threads join them later).
#pragma once

#include "winsim/control.h"

#include <map>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace winsim {

struct KernelObject {
    virtual ~KernelObject() = default;
    virtual BOOL write(LPCVOID, DWORD, LPDWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    virtual BOOL read(LPVOID, DWORD, LPDWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
};

struct FileObject : KernelObject {
    int fd = -1;
    ~FileObject() override;
    BOOL write(LPCVOID data, DWORD n, LPDWORD written) override {
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

HANDLE allocKernelHandle(std::shared_ptr<KernelObject> obj);
std::shared_ptr<KernelObject> lookupKernelHandle(HANDLE h);
std::shared_ptr<KernelObject> releaseKernelHandle(HANDLE h);

}  // namespace winsim
