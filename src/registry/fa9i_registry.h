// Registry key objects. A key object holds at most one open key and closes it on
// every way out; the copy-name variant puts an installation name into every key path
// it is given before it reaches the registry.
#pragma once

#include "platform/win32.h"

#include <cstddef>

// Result codes of the key classes and of the installed-copies classes built on them.
const UINT kRegistryFailed = 0x90000002;           // a registry or path call failed
const UINT kRegistryBufferTooSmall = 0x90000008;   // the caller's buffer is too small
const UINT kRegistryMissingArgument = 0x9000000C;  // a required output or argument is null
const UINT kRegistryNoMatch = 0x9000006D;          // no installed copy matches

class FA9iRegistry {
public:
    FA9iRegistry();
    virtual ~FA9iRegistry();  // closes the held key
    FA9iRegistry(const FA9iRegistry&) = delete;
    FA9iRegistry& operator=(const FA9iRegistry&) = delete;

    // Both close the held key first and answer the Win32 error code. `access` carries
    // the view bits (KEY_WOW64_32KEY / KEY_WOW64_64KEY) the caller wants.
    LONG open(HKEY root, const char* path, REGSAM access);
    // RegCreateKeyExA with KEY_ALL_ACCESS | access.
    LONG create(HKEY root, const char* path, REGSAM access, DWORD options = 0);

    // Reads a value as text into `buffer` of `capacityBytes`, whatever its registry type:
    // 0 or kRegistryFailed. The text is always terminated within the capacity; data that
    // fills the buffer without a terminator of its own is refused rather than cut, so a
    // caller never works on a shortened path. After a failure it holds "" (given room).
    UINT queryValue(const char* name, char* buffer, DWORD capacityBytes);
    // The same read answering the Win32 code: ERROR_MORE_DATA when the text and its
    // terminator do not fit, ERROR_INVALID_HANDLE when no key is held.
    LONG queryText(const char* name, char* buffer, DWORD capacityBytes);

    // 0, ERROR_ACCESS_DENIED (5) or kRegistryFailed.
    UINT setValue(const char* name, const BYTE* data, DWORD size, DWORD type);

    // Enumerates the held key's value names and compares each with `name` byte for
    // byte, letter case included (null: the default value). `present` is false when no
    // key is held. Answers 0; kRegistryMissingArgument for a null `present`,
    // kRegistryFailed when the name buffer cannot be allocated.
    UINT hasValue(const char* name, bool* present);

    void close();
    HKEY key() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class FA9iCopyNameRegistry : public FA9iRegistry {
public:
    FA9iCopyNameRegistry();
    // Creates (`create`) or opens the key; status() keeps the Win32 answer.
    FA9iCopyNameRegistry(HKEY root, const char* path, bool create, const char* installationName, REGSAM access,
                         DWORD options = 0);

    // Each passes `path` through resolveInstallationName(path, installationName, 0,
    // nullptr) first. A path that cannot be resolved (longer than 1023 characters, or
    // too long once the name is in it) answers ERROR_INVALID_PARAMETER.
    LONG open(HKEY root, const char* path, const char* installationName, REGSAM access);
    LONG create(HKEY root, const char* path, const char* installationName, REGSAM access, DWORD options = 0);

    // Deletes `path` under `parent` with all its sub-keys except a direct sub-key named
    // `keep` (case ignored; null: none), which also keeps the key itself: then the answer
    // is Windows' ERROR_ACCESS_DENIED for a key with sub-keys. A Win32 error code;
    // ERROR_BADKEY (1010) for an empty or null path.
    LONG deleteKeyTree(HKEY parent, const char* path, const char* keep, const char* installationName);

    // The answer of the constructor's open or create (ERROR_INVALID_HANDLE when built
    // without a key).
    LONG status() const { return status_; }

private:
    LONG status_ = ERROR_INVALID_HANDLE;
};

// Puts `name` (null: none) for every "$CurrentInstallationName$" of a key path, else for
// every "$DefaultInstallationName$"; case-sensitive, and a name holding a placeholder is
// not expanded again. `capacity` 0: into a process-wide buffer of 1024 characters that
// the next call overwrites; else into `out`, which must hold text and result with their
// terminators. Returns the result (the text itself, copied, when nothing changed), or
// null for a null text, a text or result over 1023 characters (refused rather than cut:
// a cut key path names another key), or a result that does not fit.
const char* resolveInstallationName(const char* text, const char* name, size_t capacity, char* out);
