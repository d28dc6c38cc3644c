// SetWOLTDialogTitlePropertiesCA and SetWOLTTemplateCompCA: two small user-interface
// custom actions that publish one property each and never stop the installation.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const DWORD kTitleCapacity = 255;
const DWORD kPathCapacity = 261;
const DWORD kProductCodeCapacity = 256;
const char* const kFirstTemplateComponent = "{A47ECA31-D07F-4023-BEDB-EBDC0FD4FD03}";
const char* const kSecondTemplateComponent = "{8C2BB15E-AF8B-4E9C-9D6B-C73E34BC4691}";

// The welcome dialog's title, read into `title` (capacity kTitleCapacity); a later row
// overwrites an earlier one. Empty when there is none.
void readWelcomeTitle(MSIHANDLE database, char* title, unique_msihandle& view) {
    if (MsiDatabaseOpenViewA(database, "SELECT Dialog.Title FROM Dialog WHERE Dialog.Dialog='InstallWelcome_noJava'",
                             view.out()) != ERROR_SUCCESS)
        return;
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) return;
    unique_msihandle row;
    // Any answer but a row ends the loop; rows read before a failed fetch are kept.
    while (MsiViewFetch(view.get(), row.out()) == ERROR_SUCCESS) {
        DWORD capacity = kTitleCapacity;
        MsiRecordGetStringA(row.get(), 1, title, &capacity);
        row.reset();
    }
}

void publishTitle(MSIHANDLE hInstall, const char* rawTitle) {
    char formatted[kTitleCapacity] = {};
    unique_msihandle record(MsiCreateRecord(0));
    MsiRecordSetStringA(record.get(), 0, rawTitle);
    DWORD capacity = kTitleCapacity;
    MsiFormatRecordA(hInstall, record.get(), formatted, &capacity);
    formatted[kTitleCapacity - 1] = '\0';
    UINT rc = iMsiSetProperty(hInstall, "GENERIC_DLG_TITLE", formatted);
    iLogCallFailure(hInstall, "iMsiSetProperty", "GENERIC_DLG_TITLE", static_cast<int>(rc));
}

void reportUnreadable(const char* property, int probe, UINT rc) {
    MsgTokenHolder tokens(property);
    ureReport(URE_LOG_ERROR, "SetWOLTTemplateCompCA", probe, static_cast<int32_t>(rc), 5598, &tokens, 0, true);
}

// "1" or "2": which template component the package installs, from where the two
// components already stand compared with the IDE directory.
const char* chooseTemplateComponent(const char* productCode, const char* ideDir) {
    char path[kPathCapacity] = {};
    DWORD capacity = kPathCapacity;
    if (MsiGetComponentPathA(productCode, kFirstTemplateComponent, path, &capacity) == INSTALLSTATE_LOCAL)
        return fa9::equalsNoCase(path, ideDir) ? "1" : "2";
    char second[kPathCapacity] = {};
    capacity = kPathCapacity;
    if (MsiGetComponentPathA(productCode, kSecondTemplateComponent, second, &capacity) == INSTALLSTATE_LOCAL)
        return fa9::equalsNoCase(second, ideDir) ? "2" : "1";
    return "1";
}

void setTemplateComponent(MSIHANDLE hInstall) {
    char ideDir[kPathCapacity] = {};
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetProperty(hInstall, "VS80_ENVDIR", ideDir, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", "VS80_ENVDIR", static_cast<int>(rc));
    if (rc != ERROR_SUCCESS) {
        reportUnreadable("VS80_ENVDIR", 10, rc);
        return;
    }
    char productCode[kProductCodeCapacity] = {};
    capacity = kProductCodeCapacity;
    rc = iMsiGetProperty(hInstall, "ProductCode", productCode, &capacity);
    if (rc != ERROR_SUCCESS) {
        reportUnreadable("ProductCode", 20, rc);
        return;
    }
    iMsiSetProperty(hInstall, "TEMPLATE_COMPONENT", chooseTemplateComponent(productCode, ideDir));
}

}  // namespace

extern "C" UINT __stdcall SetWOLTDialogTitlePropertiesCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        char rawTitle[kTitleCapacity] = {};
        unique_msihandle view;
        unique_msihandle database;
        {
            CustomActionContext context(hInstall);
            database.reset(MsiGetActiveDatabase(hInstall));
            if (!database.get()) {
                ureReport(URE_LOG_ERROR, "setWOLTDialogTitlePropertiesCA", 10, 0, 6045, nullptr, 0, true);
            } else {
                readWelcomeTitle(database.get(), rawTitle, view);
                if (rawTitle[0]) publishTitle(hInstall, rawTitle);
            }
            view.reset();  // closing the handle closes the view: no MsiViewClose round trip
            database.reset();
        }
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}

extern "C" UINT __stdcall SetWOLTTemplateCompCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        setTemplateComponent(hInstall);
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}
