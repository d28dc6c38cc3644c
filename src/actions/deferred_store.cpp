// PreProcessInstallCA and PostProcessInstallCA: the deferred property store is filled
// before the installation script runs and removed after the installation; the library's
// own script actions get what they read from the installer itself.
#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "platform/bounded.h"
#include "frame/ure.h"
#include "response/response_engine.h"
#include "response/response_file.h"
#include "response/response_generation.h"
#include "runtime/run_folder.h"
#include "session/property_access.h"
#include "session/property_store.h"

#include <string>
#include <vector>

namespace {

const DWORD kRspPathCapacity = 1024;

// The response file's settings, read here (the engine of an earlier custom action is
// gone): PROP_RSP_<keyword> for every entry with a value, PROD aside.
std::vector<StoredSetting> responseFileSettings(SessionReads& reads) {
    std::vector<StoredSetting> settings;
    URE* engine = URE::instance();
    if (!engine) return settings;
    if (!engine->responseFileReady()) {
        char path[kRspPathCapacity] = {};
        DWORD capacity = kRspPathCapacity;
        const std::string* ahead = reads.aheadValue("RSP_FILE_PATH");
        if (ahead ? !fa9::copyText(path, sizeof path, ahead->c_str())
                  : iMsiGetProperty(reads.session(), "RSP_FILE_PATH", path, &capacity) != ERROR_SUCCESS)
            return settings;
        if (!path[0] || fa9::equalsNoCase(path, kPropertyNotSet)) return settings;
        // The file's checks ran when its settings were applied; only its entries count here.
        if (engine->setResponseFile(path, 1) != 0) return settings;
    }
    const ResponseFile* file = engine->responseFile();
    if (!engine->responseFileReady() || !file) return settings;
    for (int i = 0; i < file->count(); ++i) {
        const ResponseFileEntry* entry = file->entry(i);
        const char* value = entry ? entry->readValue() : nullptr;
        const char* keyword = entry ? entry->keyword() : nullptr;
        if (!value || !*value || !keyword || !*keyword || fa9::equalsNoCase(keyword, "PROD")) continue;
        settings.push_back({std::string("PROP_RSP_") + keyword, value});
    }
    return settings;
}

}  // namespace

extern "C" UINT __stdcall PreProcessInstallCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        // What one step reads of the session, the next is not asked again.
        SessionReads reads(hInstall);
        reads.readAhead();
        // A store an earlier installation left behind goes first: none of its names may
        // reach this one.
        iDeletePropertyStore(reads);
        StoreWrites writes;
        UINT rc = iSavePropertiesForDeferred(reads, responseFileSettings(reads), writes);
        // The installer is asked for the script's rows and handed their data while the
        // registry takes the writes; a failed write still fails the action, which ends
        // the installation before any row is run.
        std::vector<CustomActionRow> rows;
        if (rc == 0) rows = iLibraryRows(reads);
        const UINT handed = rc == 0 ? iHandActionData(reads, rows) : 0;
        if (rc == 0) rc = writes.finish();
        if (rc == 0) rc = handed;
        if (rc == 0) return static_cast<UINT>(ERROR_SUCCESS);
        iReportCustomActionFailure("PreProcessInstallCA", 20, rc);
        return static_cast<UINT>(ERROR_INSTALL_FAILURE);
    });
}

// No context: the removal of the store reports nothing and never fails. The run is over
// then, so the runtime folders this process made go too.
extern "C" UINT __stdcall PostProcessInstallCA(MSIHANDLE hInstall) {
    iRunGuarded([&] {
        iDeletePropertyStore(hInstall);
        iEndLiveRuntimeFolders();
        // The response file written from the dialog choices has served its run.
        char path[kRspPathCapacity] = {};
        DWORD capacity = kRspPathCapacity;
        // Only ever an immediate action: the session itself holds the property.
        if (MsiGetPropertyA(hInstall, "RSP_FILE_PATH", path, &capacity) == ERROR_SUCCESS &&
            liteIsGeneratedResponseFile(hInstall, path))
            DeleteFileA(path);
        return static_cast<UINT>(ERROR_SUCCESS);
    });
    return ERROR_SUCCESS;
}
