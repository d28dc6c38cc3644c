// The response file every response-file custom action starts from. A silent installation
// names the user's file in RSP_FILE_PATH; a full-UI installation without one gets a file
// written here from its dialog choices, so that both read the same keywords afterwards.
// A written file, FA9RL000.rsp .. FA9RL999.rsp directly in the session's TempFolder, holds
// only fixed lines: its name and place tell it from the user's (liteIsGeneratedResponseFile).
#include "response/response_generation.h"

#include "platform/bounded.h"
#include "frame/file_attributes.h"
#include "frame/msg_token_holder.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "registry/fa9i_registry.h"
#include "registry/install_copy.h"
#include "response/response_engine.h"
#include "session/property_access.h"

#include <cstring>
#include <string>

namespace {

const DWORD kRspPathCapacity = 260;
const DWORD kUiLevelCapacity = 260;
const DWORD kTempFolderCapacity = 261;
const DWORD kCopyNameCapacity = 129;
const DWORD kDefaultCopyCapacity = 64;
const DWORD kProductStateCapacity = 9;
const DWORD kInstanceCapacity = 9;  // instance names have at most 8 characters
const int kRspFileValueSize = 261;       // FILE: up to 260 characters
const int kRspCopyNameValueSize = 260;   // FA9_COPY_NAME: up to 259 characters
const DWORD kCopyPathCapacity = 261;
const DWORD kCopyNameValueCapacity = 260;
const DWORD kCurrentCopyNameCapacity = 1024;  // what iGetCopyName writes

const char* const kGeneratedTemplate = "FA9RL???.rsp";
const char* const kInstanceKey = "SOFTWARE\\ZNK\\FA9\\InstalledCopies\\$CurrentInstallationName$\\GLOBAL_PROFILE";

const char* const kInitFunction = "liteInitURERspFile";
const char* const kCreateFunction = "liteCreateGUIResponseFile";

// A property into a buffer of `capacity` characters; after a failed read the buffer
// holds an empty text, never the cut value the installer may have left there.
UINT readProperty(MSIHANDLE hInstall, const char* name, char* buffer, DWORD capacity) {
    DWORD size = capacity;
    UINT rc = iMsiGetProperty(hInstall, name, buffer, &size);
    if (rc != ERROR_SUCCESS) buffer[0] = '\0';
    return rc;
}

bool holds(MSIHANDLE hInstall, const char* condition) {
    return MsiEvaluateConditionA(hInstall, condition) == MSICONDITION_TRUE;
}

// "%s:%d" of an operation and its result, as message 5389 takes it.
void reportOperationFailure(const char* function, int probe, const char* operation, UINT rc) {
    char token[64];
    fa9::formatText(token, sizeof token, "%s:%d", operation, static_cast<int>(rc));
    MsgTokenHolder tokens(token);
    ureReport(URE_LOG_ERROR, function, probe, static_cast<int32_t>(rc), 5389, &tokens, 0, true);
}

// ---- the generated file ----

// The lines of the file, written as a text-mode stream writes them on Windows: every
// newline reaches the disk as CR LF.
class RspWriter {
public:
    explicit RspWriter(HANDLE file) : file_(file) {}
    void line(const std::string& text) { write(text + "\r\n"); }
    // Text without a line end (the last, unfinished line of a file that stops early).
    void write(const std::string& text) {
        DWORD written = 0;
        if (!WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size())
            failed_ = true;
    }
    bool failed() const { return failed_; }

private:
    HANDLE file_;
    bool failed_ = false;
};

// The instance name of a maintenance installation: the current copy's FA9INSTDEF, else
// the default instance of the default copy. Publishes it as FA9INSTANCE. Answers the
// result of the last step that ran, so a failure not followed by a success shows.
UINT maintenanceInstance(MSIHANDLE hInstall, char* instance) {
    UINT rc;
    {
        char copyName[kCurrentCopyNameCapacity];
        copyName[0] = '\0';
        rc = iGetCopyName(hInstall, copyName);
        if (rc == 0) {
            FA9iCopyNameRegistry key;
            rc = static_cast<UINT>(key.open(HKEY_LOCAL_MACHINE, kInstanceKey, copyName, KEY_READ));
            if (rc == ERROR_SUCCESS) rc = key.queryValue("FA9INSTDEF", instance, kInstanceCapacity);
        }
        if (rc != 0) instance[0] = '\0';
    }
    if (!instance[0]) {
        // A list that could not be read completely is not asked for a default copy.
        InstallCopyListSingleton* copies = InstallCopyListSingleton::getInstance();
        if (copies && !copies->loadError()) {
            InstallCopy* copy = nullptr;
            rc = copies->findDefaultCopy(&copy);
            if (rc == 0) rc = copy->getDefaultInstance(instance, kInstanceCapacity);
            if (rc != 0) instance[0] = '\0';
        }
        if (rc != 0 || !instance[0]) return rc;
    }
    const UINT set = iMsiSetProperty(hInstall, "FA9INSTANCE", instance);
    if (set != ERROR_SUCCESS) reportOperationFailure(kCreateFunction, 50, "iMsiSetProperty", set);
    return set;
}

// The instance name of a new installation: the dialog's choice, else the second
// choice, else the product's usual name.
void newInstance(MSIHANDLE hInstall, char* instance) {
    if (readProperty(hInstall, "PROP_RSP_FA9.NAME", instance, kInstanceCapacity) == ERROR_SUCCESS && instance[0])
        return;
    if (readProperty(hInstall, "FA9_INSTANCE_NAME", instance, kInstanceCapacity) == ERROR_SUCCESS && instance[0])
        return;
    fa9::copyText(instance, kInstanceCapacity, "FA9");
}

bool isMaintenance(MSIHANDLE hInstall) {
    char state[kProductStateCapacity];
    return readProperty(hInstall, "ProductState", state, kProductStateCapacity) == ERROR_SUCCESS &&
           fa9::leadingInteger(state) == 5;
}

const char* yesNo(bool yes) { return yes ? "YES" : "NO"; }

// FA9_COPY_NAME= and its value; false (the line left unfinished) when there is none.
bool writeCopyName(MSIHANDLE hInstall, RspWriter& out) {
    char copyName[kCopyNameCapacity];
    out.write("FA9_COPY_NAME=");
    if (readProperty(hInstall, "FA9_COPY_NAME", copyName, kCopyNameCapacity) != ERROR_SUCCESS || !copyName[0])
        return false;
    out.line(copyName);
    return true;
}

UINT writeLines(MSIHANDLE hInstall, RspWriter& out) {
    if (holds(hInstall, "PROP_RSP_PROD=\"WOLT_TOOLS\"")) {
        out.line("PROD=WOLT_TOOLS");
        return 0;
    }
    const std::string clientInterface =
        std::string("DEFAULT_CLIENT_INTERFACE_COPY=") + yesNo(holds(hInstall, "IS_DEFAULT_CLIENT_INTERFACE_COPY=\"Y\""));
    if (holds(hInstall, "PROP_RSP_PROD=\"PELA_DRIVER\"")) {
        out.line("PROD=PELA_DRIVER");
        if (!writeCopyName(hInstall, out)) return ERROR_INSTALL_FAILURE;
        out.line(clientInterface);
        out.line(std::string("MIGRATE_CATALOG_TO_XML=") + yesNo(holds(hInstall, "MigrateCatalogToXML=\"Y\"")));
        return 0;
    }

    out.line("PROD=MORV_CLIENT");
    const char* type = holds(hInstall, "p_installType0=\"Compact\"")  ? "COMPACT"
                       : holds(hInstall, "p_installType0=\"Custom\"") ? "CUSTOM"
                                                                       : "TYPICAL";
    out.line(std::string("INSTALL_TYPE=") + type);
    if (!writeCopyName(hInstall, out)) return ERROR_INSTALL_FAILURE;
    char defaultCopy[kDefaultCopyCapacity];
    readProperty(hInstall, "PROP_RSP_DEFAULT_COPY", defaultCopy, kDefaultCopyCapacity);
    out.line(std::string("DEFAULT_COPY=") + defaultCopy);
    out.line(clientInterface);

    char instance[kInstanceCapacity] = {};
    UINT rc = 0;
    if (isMaintenance(hInstall))
        rc = maintenanceInstance(hInstall, instance);
    else
        newInstance(hInstall, instance);
    // Written even when the name could not be found: the result tells the caller.
    out.line(std::string("DEFAULT_INSTANCE=") + instance);
    out.line(std::string("INSTANCE=") + instance);
    out.line(std::string(instance) + ".NAME=" + instance);
    return rc;
}

// ---- the check of FILE against FA9_COPY_NAME ----

// Reads one keyword of the response file as text; a failed read is a warning only.
void readKeyword(const char* keyword, char* value, int size, int probe) {
    value[0] = '\0';
    if (ureReadRspFile(keyword, RSP_TYPE_TEXT, RSP_MODE_FIRST, nullptr, value, size, nullptr, nullptr) != 0) {
        value[0] = '\0';
        MsgTokenHolder tokens(keyword);
        ureReport(URE_LOG_WARNING, kInitFunction, probe, 0, 5375, &tokens, 0, true);
    }
}

// A response file for a product with installed copies must not name one copy by FILE
// and another by FA9_COPY_NAME. 0, or 1603 on a contradiction (reported).
UINT checkCopyConsistency() {
    char file[kRspFileValueSize];
    char copyName[kRspCopyNameValueSize];
    readKeyword("FILE", file, kRspFileValueSize, 30);
    readKeyword("FA9_COPY_NAME", copyName, kRspCopyNameValueSize, 50);
    if (!file[0] || !copyName[0]) return 0;

    InstallCopyListSingleton* copies = InstallCopyListSingleton::getInstance();
    if (!copies) return 0;
    InstallCopy* copy = nullptr;
    if (copies->findByName(copyName, &copy) != 0 || !copy) {
        // No copy of that name: FILE must not be the directory of another copy.
        if (copies->findByPath(file, &copy) != 0 || !copy) return 0;
        char name[kCopyNameValueCapacity];
        if (copy->getName(name, sizeof name) != 0) name[0] = '\0';
        if (name[0] && !fa9::equalsNoCase(name, copyName)) {
            MsgTokenHolder tokens(file);
            tokens.addString(copyName);
            ureReport(URE_LOG_ERROR, kInitFunction, 80, ERROR_INSTALL_FAILURE, 6144, &tokens, 0, true);
            return ERROR_INSTALL_FAILURE;
        }
        return 0;
    }

    // The named copy exists: FILE must be its directory. Merge-module copies live wherever
    // the product that carried them put them, so their path is not held against FILE.
    char path[kCopyPathCapacity];
    if (copy->getInstallPath(path, sizeof path) != 0) path[0] = '\0';
    if (!path[0] || fa9::equalsNoCase(path, file) || copy->isMergeModuleCopy()) return 0;
    size_t n = std::strlen(file);
    if (n && file[n - 1] == '\\') file[n - 1] = '\0';
    if (fa9::equalsNoCase(path, file)) return 0;
    MsgTokenHolder tokens(copyName);
    tokens.addString(path);
    ureReport(URE_LOG_ERROR, kInitFunction, 70, ERROR_INSTALL_FAILURE, 6148, &tokens, 0, true);
    return ERROR_INSTALL_FAILURE;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

UINT liteCreateGUIResponseFile(MSIHANDLE hInstall, char* path) {
    char tempFolder[kTempFolderCapacity];
    UINT rc = readProperty(hInstall, "TempFolder", tempFolder, kTempFolderCapacity);
    // An empty TempFolder is no folder either: a bare name would land in the current
    // directory, where the file could never be told from the user's own.
    if (rc != ERROR_SUCCESS || !tempFolder[0]) {
        ureReport(URE_SHOW_ERROR, kCreateFunction, 20, static_cast<int32_t>(rc), 5046, nullptr, 0, true);
        return 5046;
    }
    const char* name = GenerateUniqueName(tempFolder, kGeneratedTemplate);
    if (!name) {
        ureReport(URE_SHOW_ERROR, kCreateFunction, 30, 5046, 5046, nullptr, 0, true);
        return 5046;
    }

    // A name that does not fit the caller's buffer could never be found again: refuse it
    // rather than write a file under one name and publish another.
    bool fits = fa9::copyText(path, kRspPathCapacity, name);
    unique_hfile file;
    if (fits)
        file.reset(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        MsgTokenHolder tokens(name);
        ureReport(URE_SHOW_ERROR, kCreateFunction, 40, 5274, 5274, &tokens, 0, true);
        return 5274;
    }

    RspWriter out(file.get());
    rc = writeLines(hInstall, out);
    if (out.failed()) {
        // A file cut short would be read as if it said everything.
        MsgTokenHolder tokens(path);
        ureReport(URE_SHOW_ERROR, kCreateFunction, 45, 5274, 5274, &tokens, 0, true);
        return 5274;
    }
    return rc;
}

UINT liteInitURERspFile(MSIHANDLE hInstall) {
    URE* engine = URE::instance();
    if (!engine) return ERROR_INSTALL_FAILURE;

    char rspPath[kRspPathCapacity];
    char uiLevel[kUiLevelCapacity];
    UINT pathRead = readProperty(hInstall, "RSP_FILE_PATH", rspPath, kRspPathCapacity);
    bool fullUi = readProperty(hInstall, "UILevel", uiLevel, kUiLevelCapacity) == ERROR_SUCCESS &&
                  std::strcmp(uiLevel, "5") == 0;
    bool havePath = pathRead == ERROR_SUCCESS && rspPath[0];

    if (!fullUi) {
        // Nobody watches an unattended installation: no boxes, and response-file errors
        // also go to standard output.
        engine->setSilent(true);
        if (!havePath) {
            MsgTokenHolder tokens;
            tokens.addUnsigned(pathRead);
            ureReport(URE_SHOW_ERROR, kInitFunction, 10, static_cast<int32_t>(pathRead), 6003, &tokens, 0, true);
            return ERROR_INSTALL_FAILURE;
        }
    } else if (!havePath) {
        if (liteCreateGUIResponseFile(hInstall, rspPath) != 0) return ERROR_INSTALL_FAILURE;
        UINT rc = iMsiSetProperty(hInstall, "RSP_FILE_PATH", rspPath);
        if (rc != ERROR_SUCCESS) {
            // No property names the file, so the end of the installation would not remove it.
            DeleteFileA(rspPath);
            reportOperationFailure("AddSummaryCA", 10, "MsiSetInstallProperty", rc);
            return ERROR_INSTALL_FAILURE;
        }
    }

    int32_t rc = engine->setResponseFile(rspPath, 0);
    if (rc != 0) {
        MsgTokenHolder tokens(rspPath);
        ureReport(URE_SHOW_ERROR, kInitFunction, 20, rc, 6043, &tokens, 0, true);
        return ERROR_INSTALL_FAILURE;
    }

    const bool tools = holds(hInstall, "PROP_RSP_PROD=\"WOLT_TOOLS\"");
    if (!tools && checkCopyConsistency() != 0) return ERROR_INSTALL_FAILURE;

    // The package knows which product it installs; PROD in the file does not decide it.
    engine->setProductCode(tools                                            ? "WOLT_TOOLS"
                           : holds(hInstall, "PROP_RSP_PROD=\"PELA_DRIVER\"") ? "PELA_DRIVER"
                                                                             : "MORV_CLIENT");
    return 0;
}

bool liteIsGeneratedResponseFile(MSIHANDLE hInstall, const char* path) {
    if (!path) return false;
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return false;

    // The name: FA9RL, three digits, .rsp, in any letter case.
    const char* name = slash + 1;
    if (std::strlen(name) != std::strlen(kGeneratedTemplate)) return false;
    for (size_t i = 0; kGeneratedTemplate[i]; ++i) {
        const char want = kGeneratedTemplate[i];
        if (want == '?' ? !isDigit(name[i]) : lowerAscii(name[i]) != lowerAscii(want)) return false;
    }

    // The place: directly in TempFolder, one trailing backslash aside.
    char tempFolder[kTempFolderCapacity];
    if (readProperty(hInstall, "TempFolder", tempFolder, kTempFolderCapacity) != ERROR_SUCCESS || !tempFolder[0])
        return false;
    size_t n = std::strlen(tempFolder);
    if (tempFolder[n - 1] == '\\') tempFolder[--n] = '\0';
    std::string folder(path, static_cast<size_t>(slash - path));
    return fa9::equalsNoCase(folder.c_str(), tempFolder);
}
