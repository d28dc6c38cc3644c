#include "session/property_store.h"

#include "platform/bounded.h"
#include "platform/key_tree.h"
#include "frame/install_log.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "trust/package_copy.h"
#include "trust/package_tables.h"
#include "session/action_data.h"
#include "session/property_access.h"

#include <cctype>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

const DWORD kSidCapacity = 1024;
const DWORD kSelectCapacity = 261;
const DWORD kFirstReadCapacity = 1024;

// What the deferred custom actions of the family read, in the order it is saved.
// SILENT_MODE and REMOVE are listed twice; the later write simply repeats the first.
const char* const kDeferredNames[] = {
    "EXISTING_FA9_VERSION", "SOURCEDIR", "ProductCode", "USERNAME", "INSTALLLEVEL", "RSP_FILE_PATH", "DEBUG_PROP",
    "INSTALLDIR", "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA", "FA9INSTANCE_LIST", "INST_OWN_COMP",
    "SILENT_MODE", "CURRENT_PROCESS_DIRECTORY", "FA9_TRACE_FILE_PATH", "FA9_WI_LOG_FILE_PATH", "FA9_LOG_FILE_PATH",
    "SystemFolder", "Installed", "REMOVE", "EXISTING_FA9_INSTALL_PATH", "VersionNT", "GENERIC_DLG_TITLE",
    "MIGRATION_FILES_PATH", "INI_FILES_PATH", "STOP_FA9_PROCESSES", "SILENT_MODE", "FA9_TOTAL_UNINSTALL",
    "FA9_TOTAL_UNINSTALL_DOC", "FA9_MACHINE_LANG", "FA9_INITIAL_PID", "MIGRATION_DAS_PROFILE_PATH", "DLFM_PWD",
    "V8_WH_CDB_EXISTS", "PROP_HOTFIX_LOCATION", "FA9_LAUNCHER_RC_FILE", "AdminUser",
    "USE_FA9_INSTALL_CODE_ADMIN_VALIDATE", "pFA9RuntimeDirectory", "PrimaryVolumeSpaceRequired",
    "MsiNetAssemblySupport", "PROP_RSP_FA9_EXTSECURITY", "PROP_RSP_FA9_ADMINGROUP_NAME",
    "PROP_RSP_FA9_USERSGROUP_NAME", "PROP_RSP_FA9_ADMINGROUP_DOMAIN", "PROP_RSP_FA9_USERSGROUP_DOMAIN", "UILevel",
    "RSP_FILE_NAME", "BASE_CLIENT_BIN_SELECTED", "FA9_ADD_ON_INSTALL", "Privileged", "FA9_COPY_NAME",
    "INSTALL_MODE", "FA9_32BIT_TO_X64_MIGRATION", "MIGRATION_V8", "PROP_RSP_DAS_PASSWORD", "PROP_RSP_FA9.PASSWORD",
    "PROP_RSP_FA9.SYSADM_GROUP", "PROP_RSP_FA9.SYSCTRL_GROUP", "PROP_RSP_FA9.SYSMAINT_GROUP",
    "FA9_EXISTS_ON_SYSTEM", "FA9_COPY_NAME_OVERRIDE", "NOT_INSTALL_DOTNET", "HISTORY_LOG_EVENT_ID", "REMOVE",
    "PROP_RSP_FA9.CONFIGURE_TEXT_SEARCH", "PROP_RSP_FA9.TEXT_SEARCH_HTTP_SERVICE_NAME",
    "PROP_RSP_FA9.TEXT_SEARCH_HTTP_PORT_NUMBER", "ProgramFilesFolder", "LogonUser", "p_DotNetFWInstalled",
    "p_DotNetFW11Installed", "p_DotNetFW20Installed", "p_vsnet2003Installed", "p_vsnet2005Installed",
    "PLAIN_NONADMIN_USER", "FA9_OLE_DB_FEATURE_DESELECTED", "MsiRunningElevated", "nonadmin_elevated_override",
    "PROP_RSP_PROD", "PROP_RSP_FA9_OLEDB_GUID.BF065566_A50A_48BE_B210_AADCABA289F3",
    "PROP_RSP_FA9_OLEDB_ADVANCED_PAGE_GUID.BF065566_A50A_48BE_B210_AADCABA289F3",
    "PROP_RSP_FA9_OLEDB_CONNECTION_PAGE_GUID.BF065566_A50A_48BE_B210_AADCABA289F3",
    "PROP_RSP_FA9_OLEDB_ENUMERATOR_GUID.BF065566_A50A_48BE_B210_AADCABA289F3",
    "PROP_RSP_FA9_OLEDB_ERROR_LOOKUP_GUID.BF065566_A50A_48BE_B210_AADCABA289F3",
    // One per territory of the message-language table, in its order.
    "AR_SELECT_CONDITION", "EN_SELECT_CONDITION", "BG_SELECT_CONDITION", "HR_SELECT_CONDITION",
    "CZ_SELECT_CONDITION", "DK_SELECT_CONDITION", "NL_SELECT_CONDITION", "DE_SELECT_CONDITION",
    "EL_SELECT_CONDITION", "ES_SELECT_CONDITION", "FI_SELECT_CONDITION", "FR_SELECT_CONDITION",
    "HU_SELECT_CONDITION", "IT_SELECT_CONDITION", "IW_SELECT_CONDITION", "JP_SELECT_CONDITION",
    "KR_SELECT_CONDITION", "NO_SELECT_CONDITION", "PL_SELECT_CONDITION", "BR_SELECT_CONDITION",
    "PT_SELECT_CONDITION", "RO_SELECT_CONDITION", "RU_SELECT_CONDITION", "SK_SELECT_CONDITION",
    "SL_SELECT_CONDITION", "SE_SELECT_CONDITION", "CN_SELECT_CONDITION", "TW_SELECT_CONDITION",
    "TR_SELECT_CONDITION",
};
static_assert(sizeof(kDeferredNames) / sizeof(kDeferredNames[0]) == 113, "the fixed list holds 113 names");

const char* const kSelectComponents[] = {"ADMIN_SERVER.bin", "LDAP.bin", "VS_DOT_NET.bin", "BASE_CLIENT.bin",
                                         "ODBC_SUPPORT"};

// A property's value read the installer's way: ask for the size, then read into a buffer
// of that size; null when either call fails. From the session a first buffer spares the
// size question for a value that fits it.
std::unique_ptr<char[]> readValue(MSIHANDLE hInstall, const char* name, UINT* rc) {
    char probe[kFirstReadCapacity] = {};
    DWORD size = iIsStoreMode(hInstall) ? 0 : kFirstReadCapacity;
    *rc = iMsiGetProperty(hInstall, name, probe, &size);
    if (*rc == ERROR_SUCCESS && size < kFirstReadCapacity && !iIsStoreMode(hInstall)) {
        std::unique_ptr<char[]> value(new (std::nothrow) char[size + 1]);
        if (value) std::memcpy(value.get(), probe, size + 1);
        return value;
    }
    if (*rc != ERROR_MORE_DATA) return nullptr;
    std::unique_ptr<char[]> value(new (std::nothrow) char[size + 1]);
    if (!value) return nullptr;
    DWORD capacity = size + 1;
    *rc = iMsiGetProperty(hInstall, name, value.get(), &capacity);
    if (*rc != ERROR_SUCCESS) return nullptr;
    return value;
}

// The values of `names` in one question to the installer rather than one a name:
// MsiFormatRecordA expands "[A]<US>[B]<US>..." with each value as it is (not expanded
// again; an unset property gives nothing, as its read does). False when the answer cannot
// be had or does not split into one value a name (a name that is no identifier, a value
// holding the separator): the caller then asks name by name.
const char kSeparator = '\x1F';
const DWORD kFirstBatchCapacity = 16384;

bool isIdentifier(const char* name) {
    if (!*name) return false;
    for (const char* c = name; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)) && *c != '_' && *c != '.') return false;
    return true;
}

// Each name is asked once, however often it is listed; `values` gains them all, or none.
bool readValues(MSIHANDLE hInstall, const std::vector<std::string>& names, std::map<std::string, std::string>& values) {
    std::map<std::string, std::string> read;
    std::vector<std::string> asked;
    std::string format;
    for (const std::string& name : names) {
        if (!isIdentifier(name.c_str())) return false;
        if (!read.emplace(name, std::string()).second) continue;
        asked.push_back(name);
        if (!format.empty()) format += kSeparator;
        format += "[" + name + "]";
    }
    if (asked.empty()) return true;
    unique_msihandle record(MsiCreateRecord(0));
    if (!record || MsiRecordSetStringA(record.get(), 0, format.c_str()) != ERROR_SUCCESS) return false;
    std::string text(kFirstBatchCapacity, '\0');
    DWORD size = kFirstBatchCapacity;
    UINT rc = MsiFormatRecordA(hInstall, record.get(), &text[0], &size);
    if (rc == ERROR_MORE_DATA) {
        text.assign(size + 1, '\0');
        size = static_cast<DWORD>(text.size());
        rc = MsiFormatRecordA(hInstall, record.get(), &text[0], &size);
    }
    if (rc != ERROR_SUCCESS || size >= text.size()) return false;
    text.resize(size);
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t cut; (cut = text.find(kSeparator, start)) != std::string::npos; start = cut + 1)
        pieces.push_back(text.substr(start, cut - start));
    pieces.push_back(text.substr(start));
    if (pieces.size() != asked.size()) return false;
    for (size_t i = 0; i < asked.size(); ++i) read[asked[i]] = std::move(pieces[i]);
    values.insert(read.begin(), read.end());
    return true;
}

// A field of a record, read the same way.
std::unique_ptr<char[]> readField(MSIHANDLE record, UINT field) {
    char probe[1] = {};
    DWORD size = 0;
    if (MsiRecordGetStringA(record, field, probe, &size) != ERROR_MORE_DATA) return nullptr;
    std::unique_ptr<char[]> text(new (std::nothrow) char[size + 1]);
    if (!text) return nullptr;
    DWORD capacity = size + 1;
    if (MsiRecordGetStringA(record, field, text.get(), &capacity) != ERROR_SUCCESS) return nullptr;
    return text;
}

// A component's selection in an immediate action, from its installed and action states:
// "DESELECTED" (installed, to be removed), "SELECTED" (not installed, to be installed)
// or null; null too when the states cannot be read.
const char* sessionSelection(MSIHANDLE hInstall, const char* component) {
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
    if (MsiGetComponentStateA(hInstall, component, &installed, &action) != ERROR_SUCCESS) return nullptr;
    if (installed == INSTALLSTATE_LOCAL && action == INSTALLSTATE_ABSENT) return "DESELECTED";
    return installed != INSTALLSTATE_LOCAL && action == INSTALLSTATE_LOCAL ? "SELECTED" : nullptr;
}

// `state` is "SELECTED" or "DESELECTED": in the script as the store recorded it.
bool hasSelection(MSIHANDLE hInstall, const char* component, const char* state) {
    if (iIsStoreMode(hInstall)) {
        char name[300], value[kSelectCapacity] = {};
        if (!fa9::formatText(name, sizeof name, "%s_SELECT_STATE", component)) return false;
        DWORD capacity = kSelectCapacity;
        return iMsiGetProperty(hInstall, name, value, &capacity) == ERROR_SUCCESS && value[0] &&
               fa9::equalsNoCase(value, state);
    }
    const char* selection = sessionSelection(hInstall, component);
    return selection && std::strcmp(selection, state) == 0;
}

// What the frame reads in every custom action: the message language, the runtime
// folder of the string library, the title of its boxes, the interface level, and the
// installer's copy of the package, where the script reads its texts and the files it
// runs or copies (runtime/program_copy.h).
const char* const kFrameNames[] = {"ProductLanguage", "pFA9RuntimeDirectory", "GENERIC_DLG_TITLE", "UILevel",
                                   "DATABASE", nullptr};

struct ExportNames {
    const char* target;
    const char* names[6];  // null-terminated
};

// What each export that may run in the script reads, besides the frame's names. Never a
// password: the data shows in the installer's log.
const ExportNames kExportNames[] = {
    {"RegisterWOLTKeysCA", {"INSTALLDIR", "CURRENT_PROCESS_DIRECTORY", "ProductName", "FA9_PROGRAM_TIMEOUT"}},
    {"RemoveWOLTKeysCA", {"CURRENT_PROCESS_DIRECTORY", "ProductName", "FA9_PROGRAM_TIMEOUT"}},
    {"RegisterWOLTMachineCfgCA", {"INSTALLDIR", "FA9_PROGRAM_TIMEOUT"}},
    {"UnregisterWOLTMachineCfgCA", {"INSTALLDIR", "FA9_PROGRAM_TIMEOUT"}},
    {"SetupWOLTTemplateCA", {"VS80_INSTALLDIR", "VS90_INSTALLDIR", "REMOVE", "FA9_PROGRAM_TIMEOUT"}},
    {"CopyVC80AssembliesCA", {"INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA", "INSTALLDIR"}},
    {"RegCOMForCSFunctionsCA", {"CURRENT_PROCESS_DIRECTORY", "FA9_PROGRAM_TIMEOUT"}},
};

const ExportNames* namesOf(const char* target) {
    for (const ExportNames& entry : kExportNames)
        if (std::strcmp(entry.target, target) == 0) return &entry;
    return nullptr;
}

// The Property table's names, in the view's order.
std::vector<std::string> tableNames(MSIHANDLE view) {
    std::vector<std::string> names;
    for (;;) {
        unique_msihandle record;
        if (MsiViewFetch(view, record.out()) != ERROR_SUCCESS) break;
        std::unique_ptr<char[]> name = readField(record.get(), 1);
        if (name) names.push_back(name.get());
    }
    return names;
}

// The table's names, then the fixed list, each stored with its value (read at once when
// they can be). Only the fixed list's results count. Nothing changes a property before
// the action data is handed out, so the same read also fetches what the exports' data holds.
void saveProperties(SessionReads& reads, std::vector<std::string> names, StoreWrites& writes) {
    const MSIHANDLE hInstall = reads.session();
    const size_t tableCount = names.size();
    names.insert(names.end(), std::begin(kDeferredNames), std::end(kDeferredNames));
    std::map<std::string, std::string>& values = reads.valuesAhead();
    bool batch = false;
    if (reads.shared()) {
        std::vector<std::string> asked = names;
        asked.insert(asked.end(), std::begin(kFrameNames), std::end(kFrameNames) - 1);
        for (const ExportNames& entry : kExportNames)
            for (const char* const* name = entry.names; *name; ++name) asked.push_back(*name);
        batch = readValues(hInstall, asked, values);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        UINT rc = 0;
        std::unique_ptr<char[]> single;
        const char* value =
            batch ? values[names[i]].c_str() : (single = readValue(hInstall, names[i].c_str(), &rc)).get();
        const bool counts = i >= tableCount;
        if (value)
            writes.write(names[i], value, counts);
        else if (counts)
            writes.failedRead(rc);
    }
}

// "DESELECTED", "SELECTED" or null, from one question about the component's states.
const char* selectState(MSIHANDLE hInstall, const char* component) {
    if (iIsStoreMode(hInstall))
        return hasSelection(hInstall, component, "DESELECTED") ? "DESELECTED"
               : hasSelection(hInstall, component, "SELECTED") ? "SELECTED"
                                                                : nullptr;
    return sessionSelection(hInstall, component);
}

void saveSelectStates(SessionReads& reads, StoreWrites& writes) {
    for (const char* component : kSelectComponents) {
        char name[300];
        if (!fa9::formatText(name, sizeof name, "%s_SELECT_STATE", component)) continue;
        if (const char* state = reads.selectState(component)) writes.write(name, state, true);
    }
}

// Whether a CustomAction row with this target is one iLibraryRows gives.
bool isLibraryTarget(const std::string& target) {
    return target == "PreProcessInstallCA" || namesOf(target.c_str()) != nullptr;
}

// CustomAction table types: a DLL from the Binary table, run in the script.
const int kTypeMask = 0x3F;
const int kDllFromBinary = 0x01;
const int kInScript = 0x400;

std::string recordText(MSIHANDLE record, UINT field) {
    std::unique_ptr<char[]> text = readField(record, field);
    return text ? std::string(text.get()) : std::string();
}

// The CustomAction rows that call PreProcessInstallCA or an export of kExportNames, in the
// table's order; none when the table is not there. One view for all of them: each view
// costs the installer several questions besides its rows.
std::vector<CustomActionRow> customActionRows(MSIHANDLE database) {
    std::vector<CustomActionRow> rows;
    if (!database) return rows;
    std::string query = "SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction` WHERE `Target` = "
                        "'PreProcessInstallCA'";
    for (const ExportNames& entry : kExportNames) query += std::string(" OR `Target` = '") + entry.target + "'";
    unique_msihandle view;
    if (MsiDatabaseOpenViewA(database, query.c_str(), view.out()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return rows;
    for (;;) {
        unique_msihandle record;
        if (MsiViewFetch(view.get(), record.out()) != ERROR_SUCCESS) break;
        rows.push_back({recordText(record.get(), 1), recordText(record.get(), 3), recordText(record.get(), 4),
                        MsiRecordGetInteger(record.get(), 2)});
    }
    return rows;
}

// Each name is asked of the installer once, however many rows read it; what was read
// ahead is not asked again.
class ValueCache {
public:
    explicit ValueCache(SessionReads& reads) : hInstall_(reads.session()), values_(reads.valuesAhead()) {}
    // All the ones not read yet in one question when that can be had.
    void prefetch(const std::vector<std::string>& names) {
        std::vector<std::string> missing;
        for (const std::string& name : names)
            if (values_.find(name) == values_.end()) missing.push_back(name);
        readValues(hInstall_, missing, values_);
    }
    void append(std::string& data, const char* name) {
        auto it = values_.find(name);
        if (it == values_.end()) {
            UINT rc = 0;
            std::unique_ptr<char[]> value = readValue(hInstall_, name, &rc);
            it = values_.emplace(name, value ? value.get() : "").first;
        }
        iAppendActionEntry(data, name, it->second.c_str());
    }

private:
    MSIHANDLE hInstall_;
    std::map<std::string, std::string>& values_;
};

// The keys of the store's path above the store, deepest first; the record of the ones the
// library made lives in the first, the store's parent.
const char* const kStoreParents[] = {"SOFTWARE\\ZNK\\FA9\\TEMP", "SOFTWARE\\ZNK\\FA9", "SOFTWARE\\ZNK"};
const char* const kCreatedRecord = "FA9WOLT.CreatedKeys";

HKEY storeRoot(MSIHANDLE hInstall, unique_hkey& userKey) {
    char sid[kSidCapacity] = {};
    DWORD capacity = kSidCapacity;
    if (iMsiGetProperty(hInstall, "UserSID", sid, &capacity) != ERROR_SUCCESS) sid[0] = '\0';
    return iUserRoot(sid, userKey);
}

bool isEmptyKey(HKEY root, const char* path) {
    unique_hkey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
    char name[256];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS)
        return false;
    size = sizeof name;
    return RegEnumValueA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
}

void deleteStore(HKEY root) {
    fa9::deleteKeyTree(root, kPropertyStoreKey, nullptr);

    char highest[64] = {};
    {
        unique_hkey parent;
        if (RegOpenKeyExA(root, kStoreParents[0], 0, KEY_ALL_ACCESS, parent.out()) != ERROR_SUCCESS) return;
        DWORD type = 0, size = sizeof highest - 1;
        if (RegQueryValueExA(parent.get(), kCreatedRecord, nullptr, &type, reinterpret_cast<BYTE*>(highest),
                             &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return;
        RegDeleteValueA(parent.get(), kCreatedRecord);
    }
    // From the store's parent up to the highest key the library made, while each is empty.
    for (const char* path : kStoreParents) {
        if (!isEmptyKey(root, path) || RegDeleteKeyA(root, path) != ERROR_SUCCESS) break;
        if (fa9::equalsNoCase(path, highest)) break;
    }
}

}  // namespace

SessionReads::SessionReads(MSIHANDLE hInstall) : hInstall_(hInstall), shared_(!iIsStoreMode(hInstall)) {}

MSIHANDLE SessionReads::database() {
    if (!databaseAsked_) database_.reset(MsiGetActiveDatabase(hInstall_));
    databaseAsked_ = true;
    return database_.get();
}

HKEY SessionReads::storeRoot() {
    if (rootKnown_) return root_;
    const std::string* sid = aheadValue("UserSID");
    root_ = sid ? iUserRoot(sid->c_str(), userKey_) : ::storeRoot(hInstall_, userKey_);
    rootKnown_ = shared_;
    return root_;
}

const char* SessionReads::selectState(const char* component) {
    if (!shared_) return ::selectState(hInstall_, component);
    auto it = selections_.find(component);
    if (it == selections_.end()) it = selections_.emplace(component, sessionSelection(hInstall_, component)).first;
    return it->second;
}

bool SessionReads::isSelected(const char* component) {
    if (!shared_) return iIsComponentSelected(hInstall_, component);
    const char* state = selectState(component);
    return state && std::strcmp(state, "SELECTED") == 0;
}

namespace {

// What says whether the session's tables are the package file's, and where the file is.
const char* const kPackageStateNames[] = {"DATABASE", "ProductCode", "Installed", "TRANSFORMS", "PATCH",
                                          "MSIPATCHREMOVE"};

// Whether a maintenance run of the installed product takes its tables as its cached
// package holds them: the installer applies every patch applied to the product and every
// transform registered with it again in each run, and no property of the session says
// whether there are any, so the product's registration is asked. A question it cannot
// answer counts as a change.
bool installedAsPackaged(const char* productCode) {
    char patch[39] = {}, transforms[1] = {};
    DWORD size = sizeof transforms;
    if (MsiEnumPatchesA(productCode, 0, patch, transforms, &size) != ERROR_NO_MORE_ITEMS) return false;
    size = sizeof transforms;
    return MsiGetProductInfoA(productCode, "Transforms", transforms, &size) == ERROR_SUCCESS && !transforms[0];
}

// The Property table's names and the library's CustomAction rows from the package file;
// false when either cannot be read or a row is not as the table defines it.
bool readPackageTables(PackageFile& package, PackageTables& tables) {
    std::vector<std::vector<PackageFile::Cell>> cells;
    if (!package.readPropertyNames(tables.propertyNames) || !package.readTable("CustomAction", cells)) return false;
    for (const std::vector<PackageFile::Cell>& row : cells) {
        // Action, Type, Source, Target: text, number, text, text.
        if (row.size() < 4 || row[0].null || row[0].text.empty() || row[1].null || !row[1].text.empty()) return false;
        if (isLibraryTarget(row[3].text)) tables.rows.push_back({row[0].text, row[2].text, row[3].text, row[1].number});
    }
    return true;
}

// The Property table's names as the transforms of a first installation (TRANSFORMS, in
// the order the installer applies them) leave them. Only transforms named by a full local
// path are read, each as the installer read it: what this action then hands on is no
// more than the installing user could have written into the transform. False where one
// is named otherwise (from the package itself, relative to the source, secured), cannot
// be read, or changes more than the Property table's rows.
bool applyTransforms(const std::string& transforms, std::vector<std::string>& names) {
    for (size_t start = 0; start < transforms.size();) {
        size_t end = transforms.find(';', start);
        if (end == std::string::npos) end = transforms.size();
        const std::string path = transforms.substr(start, end - start);
        start = end + 1;
        if (path.empty()) continue;
        // Held as the gate holds what it reads; a name the gate has to complete is not the
        // file the installer read.
        HeldPath held;
        PackageFile transform;
        if (held.hold(path.c_str(), Held::Data, 0) != Gate::Accepted || !iSamePath(held.path(), path.c_str()) ||
            transform.openHeld(held.handle()) != 0 || !transform.applyPropertyTransform(names))
            return false;
    }
    return true;
}

}  // namespace

void SessionReads::readAhead() {
    if (!shared_) return;
    std::vector<std::string> asked(std::begin(kPackageStateNames), std::end(kPackageStateNames));
    asked.push_back("UserSID");
    asked.push_back("RSP_FILE_PATH");
    readValues(hInstall_, asked, ahead_);
}

const std::string* SessionReads::aheadValue(const char* name) const {
    auto it = ahead_.find(name);
    return it == ahead_.end() ? nullptr : &it->second;
}

const PackageTables* SessionReads::packageTables() {
    if (tablesAsked_ || !shared_) return tables_ ? &*tables_ : nullptr;
    tablesAsked_ = true;
    std::vector<std::string> asked;
    for (const char* name : kPackageStateNames)
        if (!aheadValue(name)) asked.push_back(name);
    if (!readValues(hInstall_, asked, ahead_)) return nullptr;
    const std::string& path = ahead_["DATABASE"];
    const std::string& productCode = ahead_["ProductCode"];
    const std::string& transforms = ahead_["TRANSFORMS"];
    if (!ahead_["PATCH"].empty() || !ahead_["MSIPATCHREMOVE"].empty() ||
        (!ahead_["Installed"].empty() && (!transforms.empty() || !installedAsPackaged(productCode.c_str()))))
        return nullptr;
    // Checked as the script checks it: the action data below names the rows of this file.
    HeldPath held;
    PackageFile package;
    PackageTables tables;
    if (!iOpenProductPackage(path, productCode.c_str(), held, package) || !readPackageTables(package, tables) ||
        !applyTransforms(transforms, tables.propertyNames))
        return nullptr;
    tables_ = std::move(tables);
    return &*tables_;
}

bool iIsComponentSelected(MSIHANDLE hInstall, const char* component) {
    return hasSelection(hInstall, component, "SELECTED");
}

UINT iSavePropertiesForDeferred(MSIHANDLE hInstall, const std::vector<StoredSetting>& settings) {
    SessionReads reads(hInstall);
    StoreWrites writes;
    const UINT rc = iSavePropertiesForDeferred(reads, settings, writes);
    return rc != 0 ? rc : writes.finish();
}

UINT iSavePropertiesForDeferred(SessionReads& reads, const std::vector<StoredSetting>& settings,
                                StoreWrites& writes) {
    const MSIHANDLE hInstall = reads.session();
    const PackageTables* file = reads.packageTables();
    unique_msihandle view;
    if (!file) {
        const MSIHANDLE database = reads.database();
        if (!database) {
            ureReport(URE_LOG_ERROR, "iSavePropertiesForDeferred", 10, 0, 6045, nullptr, 0, true);
            return 6045;
        }
        if (MsiDatabaseOpenViewA(database, "SELECT `Property` FROM `Property` ORDER BY `Property`", view.out()) !=
                ERROR_SUCCESS ||
            MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
            return static_cast<UINT>(-1);
    }

    const HKEY root = reads.storeRoot();
    iNoteCreatedStoreKeys(root);

    const UINT rc =
        iMsiSetProperty(hInstall, "BASE_CLIENT_BIN_SELECTED", reads.isSelected("BASE_CLIENT.bin") ? "Y" : "N");
    iLogCallFailure(hInstall, "iMsiSetProperty", "BASE_CLIENT_BIN_SELECTED", static_cast<int>(rc));

    saveProperties(reads, file ? file->propertyNames : tableNames(view.get()), writes);
    saveSelectStates(reads, writes);
    for (const StoredSetting& setting : settings) writes.write(setting.name, setting.value, true);
    writes.start(root);
    return 0;
}

void StoreWrites::write(const std::string& name, const std::string& value, bool counts) {
    writes_.push_back({name, value, counts, false, 0});
}

void StoreWrites::failedRead(UINT rc) { writes_.push_back({std::string(), std::string(), true, true, rc}); }

void StoreWrites::start(HKEY root) {
    key_.emplace(root);
    // Without a thread the same writes are made here; nothing to report.
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &StoreWrites::apply, this, 0, nullptr));
    if (!thread_) applyAll();
}

unsigned __stdcall StoreWrites::apply(void* self) {
    static_cast<StoreWrites*>(self)->applyAll();
    return 0;
}

void StoreWrites::applyAll() {
    for (const Write& w : writes_) {
        const UINT rc = w.failed ? w.rc : key_->write(w.name.c_str(), w.value.c_str());
        if (w.counts) result_ = rc;
    }
    writes_.clear();
}

UINT StoreWrites::finish() {
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    key_.reset();
    return result_;
}

void iNoteCreatedStoreKeys(HKEY root) {
    const char* highest = nullptr;
    for (const char* path : kStoreParents) {
        unique_hkey key;
        const LONG rc = RegOpenKeyExA(root, path, 0, KEY_READ, key.out());
        if (rc == ERROR_FILE_NOT_FOUND)
            highest = path;
        else
            break;
    }
    if (!highest) return;
    unique_hkey parent;
    if (RegCreateKeyExA(root, kStoreParents[0], 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        parent.out(), nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(parent.get(), kCreatedRecord, 0, REG_SZ, reinterpret_cast<const BYTE*>(highest),
                   static_cast<DWORD>(std::strlen(highest) + 1));
}

void iDeletePropertyStore(MSIHANDLE hInstall) {
    unique_hkey userKey;
    deleteStore(storeRoot(hInstall, userKey));
}

void iDeletePropertyStore(SessionReads& reads) { deleteStore(reads.storeRoot()); }

std::vector<CustomActionRow> iLibraryRows(SessionReads& reads) {
    if (const PackageTables* file = reads.packageTables()) return file->rows;
    return customActionRows(reads.database());
}

UINT iHandActionData(SessionReads& reads, const std::vector<CustomActionRow>& rows) {
    const MSIHANDLE hInstall = reads.session();
    if (!reads.packageTables() && !reads.database()) return ERROR_INSTALL_FAILURE;
    // This library is the Binary row that this action's own row calls.
    std::string library;
    for (const CustomActionRow& row : rows)
        if (row.target == "PreProcessInstallCA" && (row.type & kTypeMask) == kDllFromBinary &&
            !(row.type & kInScript)) {
            library = row.source;
            break;
        }
    // A package without the table, or without such a row, has nothing to hand values to.
    if (!isIdentifier(library.c_str())) return ERROR_SUCCESS;

    // A row of this library run in the script.
    auto exportOf = [&](const CustomActionRow& row) -> const ExportNames* {
        if (row.source != library || row.type < kInScript || (row.type & kTypeMask) != kDllFromBinary ||
            !(row.type & kInScript))
            return nullptr;
        return namesOf(row.target.c_str());
    };
    ValueCache values(reads);
    std::vector<std::string> wanted(std::begin(kFrameNames), std::end(kFrameNames) - 1);
    for (const CustomActionRow& row : rows)
        if (const ExportNames* names = exportOf(row))
            for (const char* const* name = names->names; *name; ++name) wanted.push_back(*name);
    values.prefetch(wanted);
    UINT result = ERROR_SUCCESS;
    for (const CustomActionRow& row : rows) {
        const ExportNames* names = exportOf(row);
        if (!names) continue;
        std::string data;
        for (const char* const* name = kFrameNames; *name; ++name) values.append(data, *name);
        for (const char* const* name = names->names; *name; ++name) values.append(data, *name);
        const UINT rc = MsiSetPropertyA(hInstall, row.action.c_str(), data.c_str());
        if (rc != ERROR_SUCCESS) result = rc;
    }
    return result;
}
