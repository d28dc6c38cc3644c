// The installed copies of the database product, read from the registry:
//   HKLM SOFTWARE\ZNK\FA9\InstalledCopies\<name>   one key per copy ("FA9 Path Name", ...)
//   HKLM SOFTWARE\ZNK\FA9                            the single copy of a version 8
//                                                    installation, listed as "FA9V8"
// Nothing here writes to the registry.
#pragma once

#include "platform/win32.h"
#include "registry/fa9i_registry.h"
#include "registry/ilist.h"

#include <cstddef>

extern const char* const kProductKey;         // SOFTWARE\ZNK\FA9
extern const char* const kInstalledCopiesKey;  // SOFTWARE\ZNK\FA9\InstalledCopies
extern const char* const kVersion8CopyName;    // FA9V8

// A list of heap texts that it owns (new[]), in the order they were added.
class OwnedTextList : public ILIST<char> {
public:
    ~OwnedTextList() override;
    // Appends a copy of `text`; false when memory runs out (nothing is added then).
    bool appendCopy(const char* text);
};

// A copy's installed products and instances are read by installer routines that no
// custom action of this library runs; a copy only owns them.
class InstalledProdList : public OwnedTextList {};
class InstanceList : public OwnedTextList {};

class InstallCopy {
public:
    static constexpr size_t kNameCapacity = 65;
    static constexpr size_t kPathCapacity = 256;
    static constexpr size_t kKeyCapacity = 256;
    static constexpr DWORD kAdminGroupCapacity = 65;

    // Reads the copy once. `name`: at most 64 characters are kept (null: an empty
    // name, which reads nothing and is not invalid).
    InstallCopy(const char* name, bool use32BitView, bool use64BitView);
    virtual ~InstallCopy();
    InstallCopy(const InstallCopy&) = delete;
    InstallCopy& operator=(const InstallCopy&) = delete;

    // kRegistryMissingArgument for a null buffer, kRegistryBufferTooSmall when the text
    // and its terminator do not fit, else 0 with the text copied.
    UINT getName(char* buffer, DWORD capacity) const;
    UINT getInstallPath(char* buffer, DWORD capacity) const;
    UINT getRegistryKey(char* buffer, DWORD capacity) const;
    // The 8.3 form of the install path: kRegistryFailed when it has none (the folder is
    // gone), kRegistryBufferTooSmall when it does not fit in `capacity`.
    UINT getShortInstallPath(char* buffer, DWORD capacity) const;

    // Read the registry at every call; false when the key or value cannot be read.
    bool isMergeModuleCopy() const;
    bool isClientInterfaceOnlyCopy() const;
    bool isDefaultCopy() const;
    bool isDefaultClientInterfaceCopy() const;

    // "FA9INSTDEF" of the copy's GLOBAL_PROFILE key, read straight into `buffer` of
    // `size` bytes: kRegistryMissingArgument for an empty name or a null buffer,
    // kRegistryBufferTooSmall when it does not fit, kRegistryFailed otherwise.
    UINT getDefaultInstance(char* buffer, DWORD size) const;
    // "FA9_ADMINGROUP" of the same key; `capacity` must be at least 65.
    UINT getAdminGroup(char* buffer, DWORD capacity) const;

    const char* name() const { return name_; }
    const char* installPath() const { return installPath_; }
    bool isInvalid() const { return invalid_ != 0; }
    DWORD viewBits() const { return view32_ | view64_; }
    // The value names of the copy's COMPONENTS key, in enumeration order. An
    // enumeration that fails part-way keeps the names read before the failure.
    const OwnedTextList& components() const { return components_; }

private:
    bool readFlag(const char* valueName) const;
    bool matchesInstalledCopiesValue(const char* valueName) const;
    UINT readGlobalProfile(const char* valueName, char* buffer, DWORD size) const;

    char name_[kNameCapacity] = {};
    char installPath_[kPathCapacity] = {};
    char registryKey_[kKeyCapacity] = {};
    bool version8_ = false;
    bool perUser_ = false;
    DWORD view32_ = 0;
    DWORD view64_ = 0;
    InstalledProdList* products_ = nullptr;
    InstanceList* instances_ = nullptr;
    int invalid_ = 0;
    OwnedTextList components_;
};

// Every installed copy: the version 8 copy first (when there is one), then the copies
// in the registry's enumeration order. Owns its copies.
class InstallCopyList : public ILIST<InstallCopy> {
public:
    InstallCopyList(bool use32BitView, bool use64BitView);
    ~InstallCopyList() override;

    // The finders iterate with the list's cursor and leave it where the caller had it.
    // Each sets *out (null when nothing matches) and answers 0, kRegistryNoMatch, or
    // kRegistryMissingArgument for a null out slot or argument.

    // The copy whose install path names the same folder as `path` (one trailing
    // backslash ignored); compares 8.3 forms, so a long path and its short form match.
    // kRegistryFailed when `path` has no short form (it does not exist).
    UINT findByPath(const char* path, InstallCopy** out);
    UINT findByName(const char* name, InstallCopy** out);  // without regard to case
    bool containsName(const char* name);
    bool contains(const InstallCopy* copy);
    UINT findDefaultCopy(InstallCopy** out);
    UINT findDefaultClientInterfaceCopy(InstallCopy** out);

    // The list could not be read completely: callers must not trust it.
    bool loadError() const { return loadError_; }

private:
    // Appends a copy the list then owns; a copy that cannot be appended is destroyed.
    bool adopt(InstallCopy* copy);
    template <typename Match>
    UINT find(InstallCopy** out, Match match);

    InstallCopy* version8_ = nullptr;
    DWORD view32_ = 0;
    DWORD view64_ = 0;
    bool loadError_ = false;
};

class InstallCopyListSingleton : public InstallCopyList {
public:
    // The process-wide list, built on the first call with both views off and kept for the
    // process (a copy installed later is not seen); null only when it cannot be allocated.
    static InstallCopyListSingleton* getInstance();

private:
    InstallCopyListSingleton() : InstallCopyList(false, false) {}
};

// The installation path of the running installation's copy (its name at most 128
// characters) into `buffer` of `capacity`: 0; 5003 when no session handle is known
// (hInstall 0 and none in the engine) or no buffer; 5007 when the path cannot be found.
UINT liteGetCopyInstallPath(char* buffer, DWORD capacity, MSIHANDLE hInstall);
