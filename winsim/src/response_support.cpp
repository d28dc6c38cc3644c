// Process environment calls: the variables live in the machine's environment block
// (names without regard to case, as Windows keeps them).
#include "winsim/control.h"

#include <cstring>

using winsim::Machine;

extern "C" {

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    if (!lpName) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    auto it = m.environment.find(lpName);
    if (it == m.environment.end()) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const std::string& value = it->second;
    // Too small: the size needed with the terminator, buffer untouched.
    if (!lpBuffer || value.size() >= nSize) return static_cast<DWORD>(value.size() + 1);
    std::memcpy(lpBuffer, value.c_str(), value.size() + 1);
    // An empty variable reads as 0 characters; the last error says it exists.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(value.size());
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    Machine& m = Machine::current();
    std::lock_guard<std::recursive_mutex> g(m.lock());
    if (!lpName || !*lpName || std::strchr(lpName, '=')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!lpValue) {
        auto it = m.environment.find(lpName);
        if (it == m.environment.end()) {
            SetLastError(ERROR_ENVVAR_NOT_FOUND);
            return FALSE;
        }
        m.environment.erase(it);
        return TRUE;
    }
    m.environment[lpName] = lpValue;
    return TRUE;
}

}  // extern "C"
