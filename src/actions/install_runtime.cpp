// InitializeWOLTInstallCA: the runtime directory under TempFolder, filled from the
// package's Binary table and made the process's current directory, so that the sibling
// libraries, the registration tool and the message strings are found there.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/file_attributes.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"
#include "frame/msg_token_holder.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "trust/trusted_accounts.h"
#include "runtime/run_folder.h"
#include "runtime/runtime_extraction.h"
#include "runtime/stream_row_hold.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const size_t kPathCapacity = 261;
const char* const kCrtFiles = "msvcm80.dll;msvcp80.dll;msvcr80.dll;microsoft.vc80.crt.manifest;";
const char* const kMfcFiles = "mfc80.dll;mfc80u.dll;mfcm80.dll;mfcm80u.dll;microsoft.vc80.mfc.manifest;";
const char* const kSiblingFiles[] = {"fa9genreg_install3.dll", "fa9osse_install3.dll", "fa9install_install3.dll",
                                     "commontoolreg.exe"};

// Writes one line into the installer log; failures in this custom action are traced
// only there, without a report or a box.
template <typename T>
void logLine(MSIHANDLE hInstall, const char* format, T text) {
    char line[1024];
    fa9::formatText(line, sizeof line, format, text);
    iLogMessage(hInstall, line);
}

// A name the runtime directory needs, found taken already: whoever made it could have us
// fill or load what they control, so the extraction stops. The report waits until it
// has stopped, when the strings to word it can be there.
struct TakenName {
    char path[kPathCapacity] = "";
    int probe = 0;
    void note(int where, const char* name) {
        probe = where;
        fa9::copyText(path, sizeof path, name);
    }
};

void reportTakenName(const TakenName& taken) {
    MsgTokenHolder tokens(taken.path);
    ureReport(URE_SHOW_ERROR, "InitializeWOLTInstallCA", taken.probe, static_cast<int32_t>(ERROR_INSTALL_FAILURE),
              7113, &tokens, 0, true);
}

// The file `folder\name` from the Binary row of the same name: false once logged or noted.
bool extractFile(MSIHANDLE hInstall, MSIHANDLE database, const char* folder, const char* name, TakenName& taken) {
    char target[kPathCapacity];
    const UINT rc = fa9::formatText(target, sizeof target, "%s\\%s", folder, name)
                        ? StreamFileFromBinary(hInstall, database, name, target)
                        : 1;
    if (rc == 2) taken.note(30, target);
    if (rc == 1) logLine(hInstall, "ERROR:Failed to copy %s from the binary table of the installation", name);
    return rc == 0;
}

// One side-by-side assembly folder: created, then each file of `list` extracted into it.
bool extractAssembly(MSIHANDLE hInstall, MSIHANDLE database, const char* runtimeDir, const char* folderName,
                     char* list, TakenName& taken) {
    char folder[kPathCapacity];
    const bool fits = fa9::formatText(folder, sizeof folder, "%s\\%s", runtimeDir, folderName);
    if (!fits || !CreateDirectoryA(folder, nullptr)) {
        if (fits && GetLastError() == ERROR_ALREADY_EXISTS)
            taken.note(20, folder);
        else
            logLine(hInstall, "ERROR:Failed to create directory %s", folder);
        return false;
    }
    for (char* name = list; *name;) {
        char* end = std::strchr(name, ';');
        if (end) *end = '\0';
        if (*name && !extractFile(hInstall, database, folder, name, taken)) return false;
        if (!end) break;
        name = end + 1;
    }
    return true;
}

bool extractSiblings(MSIHANDLE hInstall, MSIHANDLE database, const char* runtimeDir, TakenName& taken) {
    for (const char* file : kSiblingFiles)
        if (!extractFile(hInstall, database, runtimeDir, file, taken)) return false;
    return true;
}

// The string library in the message language, else the English one.
bool extractStrings(MSIHANDLE hInstall, MSIHANDLE database, const char* runtimeDir, TakenName& taken) {
    char row[64];
    ureStringLibraryRow(row, sizeof row);
    char target[kPathCapacity];
    bool fits = fa9::formatText(target, sizeof target, "%s\\%s", runtimeDir, "fa9istring_v97.dll");
    UINT rc = fits ? StreamFileFromBinary(hInstall, database, row, target) : 1;
    if (rc == 1 && fits) rc = StreamFileFromBinary(hInstall, database, kEnglishStringsRow, target);
    if (rc == 0) return true;
    if (rc == 2)
        taken.note(30, target);
    else
        iLogMessage(hInstall, "ERROR:Failed to copy string resources from the binary table of the installation");
    return false;
}

// This run's runtime folder and its marker, until the run is known to need them.
struct RunFolder {
    char path[kPathCapacity] = "";
    HANDLE marker = INVALID_HANDLE_VALUE;
    bool refused = false;  // a name below it was taken: left for a later run to remove

    // Called once the action's context is gone (nothing of the folder kept open): a run
    // that goes on records the folder as live; a failed one leaves nothing behind.
    void finish(bool success) {
        if (marker == INVALID_HANDLE_VALUE) return;
        // Already the process's current directory: the run's end removes it.
        char current[kPathCapacity] = "";
        if (GetCurrentDirectoryA(sizeof current, current) && fa9::equalsNoCase(current, path)) success = true;
        if (success) {
            iRecordLiveRuntimeFolder(path, marker);
        } else if (refused) {
            CloseHandle(marker);  // what was planted stays to be looked at; the marker says the run is over
        } else {
            ureReleaseStringLibraries();  // its strings may have worded the failure
            iEndRunFolder(path, marker);
        }
        marker = INVALID_HANDLE_VALUE;
    }
};

UINT initializeInstall(MSIHANDLE hInstall, char* crtList, char* mfcList, RunFolder& folder) {
    char tempFolder[kPathCapacity] = "";
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetProperty(hInstall, "TempFolder", tempFolder, &capacity);
    if (rc != ERROR_SUCCESS) {
        logLine(hInstall,
                "ERROR:Unable to retrieve temporary directory from the TempFolder property. Error code is %d",
                static_cast<int>(rc));
        return ERROR_INSTALL_FAILURE;
    }

    // Runtime folders of earlier runs that are over (killed ones among them) go first.
    iSweepFinishedRunFolders(tempFolder, "FA9WOLT");

    char runtimeDir[kPathCapacity] = "";
    const char* unique = GenerateUniqueName(tempFolder, "FA9WOLT?????");
    // A name that does not fit the directory buffer could not be used everywhere it goes.
    if (!unique || !*unique || !fa9::copyText(runtimeDir, sizeof runtimeDir, unique)) {
        logLine(hInstall,
                "ERROR:Unable to generate a temporary directory in \"%s\" to uncompress files needed by the "
                "installation.",
                tempFolder);
        return ERROR_INSTALL_FAILURE;
    }
    // The marker before the folder: a folder of ours is never there without it.
    folder.marker = iHoldRunMarker(runtimeDir);
    const bool marked = folder.marker != INVALID_HANDLE_VALUE;
    if (!marked && GetLastError() == ERROR_FILE_EXISTS) SetLastError(ERROR_ALREADY_EXISTS);
    // Its own access list, not the TEMP folder's: only SYSTEM, administrators and, unless
    // the action runs elevated, the installing user may put anything into it. Elevated, the
    // user's unelevated programs cannot change what the provider check runs from it.
    if (!marked || !iCreateProtectedFolder(runtimeDir, !iRunsElevated())) {
        const DWORD error = GetLastError();
        if (marked) {
            iDropRunMarker(runtimeDir, folder.marker);
            folder.marker = INVALID_HANDLE_VALUE;
        }
        SetLastError(error);
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            TakenName taken;
            taken.note(10, runtimeDir);
            reportTakenName(taken);
            return ERROR_INSTALL_FAILURE;
        }
        logLine(hInstall, "ERROR:Unable to retrieve temporary directory. Error code is %d",
                static_cast<int>(GetLastError()));
        return ERROR_INSTALL_FAILURE;
    }
    fa9::copyText(folder.path, sizeof folder.path, runtimeDir);
    if (URE* engine = URE::instance()) engine->setRuntimeDirectory(runtimeDir);

    StreamRowHold hold;  // released last, after the properties below
    unique_msihandle database(MsiGetActiveDatabase(hInstall));
    if (!database.get()) {
        logLine(hInstall,
                "ERROR:Failed to get a handle to the active windows install database.  Please contact your "
                "technical service representative.  Error code is %d.",
                static_cast<int>(GetLastError()));
        return ERROR_INSTALL_FAILURE;
    }
    TakenName taken;
    const bool beforeStrings =
        extractAssembly(hInstall, database.get(), runtimeDir, "Microsoft.VC80.CRT", crtList, taken) &&
        extractAssembly(hInstall, database.get(), runtimeDir, "Microsoft.VC80.MFC", mfcList, taken) &&
        extractSiblings(hInstall, database.get(), runtimeDir, taken);
    if (!beforeStrings || !extractStrings(hInstall, database.get(), runtimeDir, taken)) {
        if (taken.path[0]) {
            // The strings come last: a refusal before them fetches them first, so that it
            // is reported in words (a failure of theirs is logged as ever).
            TakenName unused;
            if (!beforeStrings) extractStrings(hInstall, database.get(), runtimeDir, unused);
            reportTakenName(taken);
            folder.refused = true;
        }
        return ERROR_INSTALL_FAILURE;
    }

    if (!SetCurrentDirectoryA(runtimeDir)) {
        logLine(hInstall, "Failed to change the current directory for the process to %s", runtimeDir);
        return ERROR_INSTALL_FAILURE;
    }
    if (iMsiSetProperty(hInstall, "CURRENT_PROCESS_DIRECTORY", runtimeDir) != ERROR_SUCCESS)
        logLine(hInstall, "Failed to set CURRENT_PROCESS_DIRECTORY to %s", runtimeDir);
    if (iMsiSetProperty(hInstall, "PROP_RSP_PROD", "WOLT_TOOLS") != ERROR_SUCCESS) {
        logLine(hInstall, "Failed to set PROP_RSP_PROD to %s", "WOLT_TOOLS");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall InitializeWOLTInstallCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        char crtList[256];
        char mfcList[256];
        fa9::copyText(crtList, sizeof crtList, kCrtFiles);
        fa9::copyText(mfcList, sizeof mfcList, kMfcFiles);
        RunFolder folder;
        UINT rc;
        {
            CustomActionContext context(hInstall);
            rc = initializeInstall(hInstall, crtList, mfcList, folder);
        }
        folder.finish(rc == ERROR_SUCCESS);
        return rc;
    });
}
