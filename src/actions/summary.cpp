// AddSummaryCA: the text of the Summary dialog. It writes the response file afresh
// from the current dialog choices, builds the summary from it and from the feature
// states, renders it as RTF and shows it in a temporary ScrollableText control.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "response/response_generation.h"
#include "response/rtf_conversion.h"
#include "session/control_table.h"
#include "session/property_access.h"

#include <memory>

namespace {

const size_t kSummaryCapacity = 10000;
const DWORD kPathCapacity = 261;
const size_t kLanguageCapacity = 10;
const int kAttributes = 7;               // visible, enabled, sunken
const int kRightToLeftAttributes = 231;  // and right-to-left reading, right aligned, scroll bar left

void reportInstallerFailure(const char* operation, int probe, UINT rc) {
    char token[64];
    fa9::formatText(token, sizeof token, "%s:%d", operation, static_cast<int>(rc));
    MsgTokenHolder tokens(token);
    ureReport(URE_LOG_ERROR, "AddSummaryCA", probe, static_cast<int32_t>(rc), 5389, &tokens, 0, true);
}

// An earlier run's generated file goes, so that a new one holds the latest choices; a
// file the user named is left alone.
void forgetResponseFile(MSIHANDLE hInstall) {
    char path[kPathCapacity] = {};
    DWORD length = kPathCapacity;
    if (iMsiGetProperty(hInstall, "RSP_FILE_PATH", path, &length) == ERROR_SUCCESS && path[0] &&
        liteIsGeneratedResponseFile(hInstall, path))
        DeleteFileA(path);
    UINT rc = iMsiSetProperty(hInstall, "RSP_FILE_PATH", "");
    if (rc != ERROR_SUCCESS) reportInstallerFailure("iMsiSetProperty", 10, rc);
}

bool rightToLeftLanguage() {
    char language[kLanguageCapacity] = {};
    URE* engine = URE::instance();
    if (engine) engine->getLanguage(language, sizeof language);
    return liteIsRightToLeftLanguage(language);
}

UINT addSummary(MSIHANDLE hInstall) {
    forgetResponseFile(hInstall);
    if (liteInitURERspFile(hInstall) != ERROR_SUCCESS) {
        ureReport(URE_SHOW_ERROR, "AddSummaryCA", 15, ERROR_INSTALL_FAILURE, 5012, nullptr, 0, true);
        return ERROR_INSTALL_FAILURE;
    }
    std::unique_ptr<char[]> summary(new char[kSummaryCapacity]);
    summary[0] = '\0';
    URE* engine = URE::instance();
    UINT rc = engine ? engine->buildSummaryText(summary.get(), kSummaryCapacity, hInstall) : 5002;
    if (rc != ERROR_SUCCESS) {
        ureReport(URE_SHOW_ERROR, "AddSummaryCA", 20, static_cast<int32_t>(rc), 2009, nullptr, 0, true);
        return ERROR_INSTALL_FAILURE;
    }
    rc = iDeleteControl(hInstall, "Summary", "setting");
    if (rc != ERROR_SUCCESS)
        ureReport(URE_SHOW_ERROR, "AddSummaryCA", 40, static_cast<int32_t>(rc), 2009, nullptr, 0, true);

    const bool rightToLeft = rightToLeftLanguage();
    char* rtf = nullptr;
    rc = liteConvertTextToRtf(summary.get(), &rtf, rightToLeft);
    std::unique_ptr<char[]> rtfText(rtf);
    if (rc != ERROR_SUCCESS)
        ureReport(URE_SHOW_ERROR, "AddSummaryCA", 50, static_cast<int32_t>(rc), 2009, nullptr, 0, true);

    rc = iAddControl(hInstall, "Summary", "setting", "ScrollableText", 47, 120, 394, 181,
                     rightToLeft ? kRightToLeftAttributes : kAttributes, "", rtfText ? rtfText.get() : "", "", "");
    if (rc != ERROR_SUCCESS) reportInstallerFailure("iAddControl", 60, rc);
    return rc;
}

}  // namespace

extern "C" UINT __stdcall AddSummaryCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        return addSummary(hInstall);
    });
}
