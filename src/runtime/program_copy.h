// A program of the runtime folder run by an elevated custom action: the folder is the
// installing user's, so the program and the assemblies beside it are first copied into a
// folder only SYSTEM and Administrators can write, each copy checked against the digest
// of the package row it was extracted from, and the copy is what runs.
#pragma once

#include "frame/scoped_handles.h"
#include "platform/win32.h"

#include <string>

// Appends to `entries` (CustomActionData text) the SHA-256 of every Binary row the run
// of commontoolreg.exe needs, for the rows the package has and can read; the others get
// none (what that means for the run: ProgramCopy).
void iHashProgramRows(MSIHANDLE hInstall, std::string& entries);

// The copy of one run. In the script, without the action's data or the program's digest
// in it, nothing may run (7115); an immediate action runs from the runtime folder.
class ProgramCopy {
public:
    ProgramCopy() = default;
    ~ProgramCopy();  // removes the copy
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;

    // 0: `folder()` holds the program to run. ERROR_INSTALL_FAILURE: no digest to check
    // against (7115), a file is missing or does not match its row (7111 reported for
    // `action`, naming the runtime folder's file), or no protected folder could be made;
    // nothing may run.
    UINT prepare(MSIHANDLE hInstall, const char* runtimeDir, const char* action);
    const char* folder() const { return folder_; }

    static constexpr size_t kProgramFileCount = 10;  // the program and its VC80 files

private:
    void remove();

    // Each checked copy, open and sharing reading only until the copy is removed.
    unique_hfile held_[kProgramFileCount];

    char folder_[MAX_PATH + 1] = {};
    char copy_[MAX_PATH + 1] = {};  // the folder this object made, or empty
    HANDLE marker_ = INVALID_HANDLE_VALUE;  // held while the copy is in use (run_folder.h)
};
