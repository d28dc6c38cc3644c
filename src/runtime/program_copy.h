// The registration program, and the VC80 assemblies beside it, as a custom action runs or
// copies them: written from the package's own rows into a fresh folder that the installing
// user cannot change, never taken from the runtime folder, which that user can. An
// immediate action reads the rows through its session; the script, which has no session
// database, reads them from the installer's copy of the package, whose path it is handed
// and which must sit where only administrators can write.
#pragma once

#include "platform/scoped_handles.h"
#include "platform/win32.h"
#include "trust/held_path.h"

class ProgramCopy {
public:
    ProgramCopy() = default;
    ~ProgramCopy();  // removes the copy
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;

    // 0: `folder()` holds the program and its assemblies. ERROR_INSTALL_FAILURE, reported
    // for `action`: the package copy or a row cannot be read (7115), or the copy cannot be
    // written (7111); nothing may run.
    UINT prepare(MSIHANDLE hInstall, const char* action);
    const char* folder() const { return folder_; }

    static constexpr size_t kProgramFileCount = 10;  // the program and its VC80 files
    // The side-by-side assembly folders beside the program, which it loads its VC80 files from.
    static constexpr const char* kAssemblyFolders[2] = {"Microsoft.VC80.CRT", "Microsoft.VC80.MFC"};

private:
    void remove();

    // Each file written, open and sharing reading only until the copy is removed: what
    // was written is what runs or is copied, and its folder cannot be renamed away.
    unique_hfile held_[kProgramFileCount];

    HeldPath hold_;  // the copy's folder and every folder above it
    char folder_[MAX_PATH + 1] = {};  // the copy, or empty
    HANDLE marker_ = INVALID_HANDLE_VALUE;  // held while the copy is in use (run_folder.h)
};
