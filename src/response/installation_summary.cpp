// The text of the installation summary: built from the response file that describes
// the installation (written from the dialog choices in a full-UI installation), the
// feature states of the session and the copy the installation works on.
#include "response/installation_summary.h"

#include "platform/bounded.h"
#include "frame/message_strings.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "registry/install_copy.h"
#include "response/response_engine.h"
#include "session/property_access.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const int kMessageCapacity = 256;
const size_t kKeywordValueCapacity = 256;
const DWORD kFeatureCapacity = 261;
const DWORD kQueryCapacity = 512;
// Room for a few more lines on every growth, so short lines do not reallocate each time.
const size_t kSummaryGrowthMargin = 256;

// Response-file products the summary tells apart.
const char* const kWoltTools = "WOLT_TOOLS";
const char* const kPelaDriver = "PELA_DRIVER";
const char* const kMorvClient = "MORV_CLIENT";
const char* const kGantryWatch = "GANTRY_WATCH";

// A message as a label or a fixed value; false when it cannot be loaded.
bool loadMessage(int number, char* buffer) {
    if (ureGetString(static_cast<uint32_t>(number), buffer, kMessageCapacity, nullptr) == 0) return true;
    buffer[0] = '\0';
    return false;
}

void addBlankLine(URE& engine) { engine.addToSummaryString("", nullptr, 0); }

// The line of message `labelNumber` with a value of its own (null: no value).
void addLabelLine(URE& engine, int labelNumber, const char* value, int indent) {
    char label[kMessageCapacity];
    if (loadMessage(labelNumber, label)) engine.addToSummaryString(label, value, indent);
}

// One keyword of the response file as text, read from the first entry; false when it is
// absent, has no value, does not fit or no response file is ready.
bool readKeyword(const char* keyword, char* buffer, size_t capacity, const char* prefix = nullptr) {
    buffer[0] = '\0';
    int rc = ureReadRspFile(keyword, RSP_TYPE_TEXT, RSP_MODE_FIRST, nullptr, buffer, static_cast<int>(capacity),
                            prefix, nullptr);
    if (rc == 0) return true;
    buffer[0] = '\0';
    return false;
}

// An absent keyword counts as not true.
bool keywordIsTrue(const char* keyword) {
    char value[kKeywordValueCapacity];
    return readKeyword(keyword, value, sizeof value) && ureIsTruthWord(value);
}

// Calls `each` with the value of every entry of `keyword`, in file order; entries
// without a readable value are passed over.
template <typename Each>
void forEachEntry(const char* keyword, Each each) {
    char value[kKeywordValueCapacity];
    int32_t cursor = 0;
    int rc = ureReadRspFile(keyword, RSP_TYPE_TEXT, RSP_MODE_FIRST, nullptr, value, sizeof value, nullptr, &cursor);
    // 5019 (no value) and 5006 (too long) still moved the cursor: go on with the next entry.
    while (rc == 0 || rc == 5019 || rc == 5006) {
        if (rc == 0) each(value);
        ++cursor;
        rc = ureReadRspFile(keyword, RSP_TYPE_TEXT, 0, nullptr, value, sizeof value, nullptr, &cursor);
    }
}

// The product's name: ProductName, else the name the message library has for the
// response file's PROD (empty for the two products it has none for). False when there
// is no product name at all, and then there is no product line.
bool findProductName(MSIHANDLE hInstall, char* name, DWORD capacity) {
    name[0] = '\0';
    DWORD length = capacity;
    if (iMsiGetProperty(hInstall, "ProductName", name, &length) == ERROR_SUCCESS && name[0]) return true;
    name[0] = '\0';
    char product[kKeywordValueCapacity];
    if (!readKeyword("PROD", product, sizeof product)) return false;
    if (fa9::equalsNoCase(product, kMorvClient)) {
        if (ureGetString(12, name, static_cast<int>(capacity), nullptr) == 0) return true;
        name[0] = '\0';
        return false;
    }
    // Other product codes have their names elsewhere; none of them is in this package.
    return fa9::equalsNoCase(product, kWoltTools) || fa9::equalsNoCase(product, kPelaDriver);
}

void appendInstallationType() {
    char type[kKeywordValueCapacity];
    if (!readKeyword("INSTALL_TYPE", type, sizeof type)) return;
    if (fa9::equalsNoCase(type, "TYPICAL")) {
        ureAddSummaryLine(2506, 2542, 0);
        forEachEntry("TYPICAL_OPTION", [](const char* option) {
            if (fa9::equalsNoCase(option, "SATELLITE_ADMIN")) ureAddSummaryLine(2507, 2509, 4);
        });
    } else if (fa9::equalsNoCase(type, "CUSTOM")) {
        ureAddSummaryLine(2506, 2510, 0);
    } else if (fa9::equalsNoCase(type, "COMPACT")) {
        ureAddSummaryLine(2506, 2511, 0);
    }
}

void addCopyNameLine(URE& engine) {
    char copyName[129];
    if (readKeyword("FA9_COPY_NAME", copyName, sizeof copyName)) addLabelLine(engine, 2692, copyName, 0);
}

void addYesNoLine(int labelNumber, const char* keyword) {
    ureAddSummaryLine(labelNumber, keywordIsTrue(keyword) ? 2516 : 2517, 0);
}

void appendCopyOptions(URE& engine, MSIHANDLE hInstall, const char* product) {
    const bool pelaDriver = fa9::equalsNoCase(product, kPelaDriver);
    if (!pelaDriver && !fa9::equalsNoCase(product, kMorvClient)) return;
    addBlankLine(engine);
    addCopyNameLine(engine);
    if (!pelaDriver) addYesNoLine(2693, "DEFAULT_COPY");
    addYesNoLine(2701, "DEFAULT_CLIENT_INTERFACE_COPY");
    if (pelaDriver && MsiEvaluateConditionA(hInstall, "p_default_min_for_catalog_mig_exists=1") == MSICONDITION_TRUE)
        addYesNoLine(2717, "MIGRATE_CATALOG_TO_XML");
    addBlankLine(engine);
}

void appendDirectory(URE& engine, MSIHANDLE hInstall) {
    char directory[1024] = {};
    if (liteGetCopyInstallPath(directory, sizeof directory, hInstall) != 0) {
        directory[0] = '\0';
        DWORD length = sizeof directory;
        if (iMsiGetProperty(hInstall, "INSTALLDIR", directory, &length) != ERROR_SUCCESS) return;
    }
    size_t length = std::strlen(directory);
    if (length > 0 && directory[length - 1] == '\\') directory[length - 1] = '\0';
    addBlankLine(engine);
    addLabelLine(engine, 2512, directory, 0);
}

void appendRequiredSpace(URE& engine) {
    int64_t kilobytes = engine.requiredSpace();
    // Anything short of a megabyte still needs one.
    if (kilobytes >= 1 && kilobytes <= 1023) kilobytes = 1024;
    char text[32];
    fa9::formatText(text, sizeof text, "%" PRId64 " MB", kilobytes / 1024);
    addBlankLine(engine);
    addLabelLine(engine, 2513, text, 0);
}

void appendInstances(URE& engine) {
    addBlankLine(engine);
    addLabelLine(engine, 2519, nullptr, 0);
    forEachEntry("INSTANCE", [&engine](const char* instance) {
        if (!instance[0]) return;
        char name[kKeywordValueCapacity];
        if (readKeyword("NAME", name, sizeof name, instance)) addLabelLine(engine, 2520, name, 4);
    });
}

// A feature with children is only a grouping in the dialogs; the summary lists leaves.
bool isParentFeature(MSIHANDLE database, const char* feature) {
    char query[kQueryCapacity];
    if (!fa9::formatText(query, sizeof query, "SELECT Feature_Parent FROM Feature WHERE Feature_Parent = '%s'",
                         feature))
        return false;
    unique_msihandle view;
    if (MsiDatabaseOpenViewA(database, query, view.out()) != ERROR_SUCCESS) return false;
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) return false;
    bool parent = false;
    unique_msihandle row;
    if (MsiViewFetch(view.get(), row.out()) == ERROR_SUCCESS) {
        char value[kFeatureCapacity] = {};
        DWORD length = sizeof value;
        MsiRecordGetStringA(row.get(), 1, value, &length);
        parent = value[0] != '\0';
    }
    MsiViewClose(view.get());
    return parent;
}

// One pass over the visible features: those to be installed locally now, or those
// installed locally that are to be removed, under their heading.
void listFeatures(URE& engine, MSIHANDLE hInstall, MSIHANDLE database, MSIHANDLE view, const char* productName,
                  bool removal) {
    if (MsiViewExecute(view, 0) != ERROR_SUCCESS) return;
    bool headed = false;
    unique_msihandle row;
    while (MsiViewFetch(view, row.out()) == ERROR_SUCCESS) {
        char feature[kFeatureCapacity] = {};
        DWORD length = sizeof feature;
        if (MsiRecordGetStringA(row.get(), 1, feature, &length) != ERROR_SUCCESS) continue;
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
        INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
        if (MsiGetFeatureStateA(hInstall, feature, &installed, &action) != ERROR_SUCCESS) continue;
        bool qualifies = removal ? (installed == INSTALLSTATE_LOCAL && action == INSTALLSTATE_ABSENT)
                                 : (installed != INSTALLSTATE_LOCAL && action == INSTALLSTATE_LOCAL);
        if (!qualifies || isParentFeature(database, feature)) continue;
        char title[kFeatureCapacity] = {};
        length = sizeof title;
        MsiRecordGetStringA(row.get(), 2, title, &length);  // a cut title is still shown
        // The feature that stands for the whole product says nothing the product line does not.
        if (fa9::equalsNoCase(title, productName)) continue;
        if (!headed) {
            addLabelLine(engine, removal ? 2663 : 2606, nullptr, 0);
            headed = true;
        }
        engine.addToSummaryString(title, "", 4);
    }
    MsiViewClose(view);
}

}  // namespace

void ureAddSummaryLine(int labelNumber, int valueNumber, int indent) {
    URE* engine = URE::instance();
    if (!engine) return;
    char label[kMessageCapacity];
    if (!loadMessage(labelNumber, label)) return;
    if (valueNumber < 1) {
        engine->addToSummaryString(label, nullptr, indent);
        return;
    }
    char value[kMessageCapacity];
    if (loadMessage(valueNumber, value)) engine->addToSummaryString(label, value, indent);
}

void appendComponents(MSIHANDLE hInstall) {
    URE* engine = URE::instance();
    if (!engine) return;
    char productName[1024];
    findProductName(hInstall, productName, sizeof productName);

    unique_msihandle database(MsiGetActiveDatabase(hInstall));
    if (!database) {
        ureReport(URE_LOG_ERROR, "appendComponents", 10, 0, 6045, nullptr, 0, true);
        return;
    }
    char query[kQueryCapacity];
    fa9::formatText(query, sizeof query,
                    "SELECT `Feature`,`Title`, `Display` FROM `Feature` WHERE `Display` <> 0 AND `Display` <> %d "
                    "ORDER BY `Feature`",
                    static_cast<int>(MSI_NULL_INTEGER));
    unique_msihandle view;
    if (MsiDatabaseOpenViewA(database.get(), query, view.out()) == ERROR_SUCCESS) {
        listFeatures(*engine, hInstall, database.get(), view.get(), productName, false);
        listFeatures(*engine, hInstall, database.get(), view.get(), productName, true);
    }

    char space[20] = {};
    DWORD length = sizeof space;
    // The installer counts in 512-byte units.
    if (iMsiGetProperty(hInstall, "PrimaryVolumeSpaceRequired", space, &length) == ERROR_SUCCESS)
        engine->setRequiredSpace(std::strtoll(space, nullptr, 10) / 2);
}

void URE::addToSummaryString(const char* label, const char* value, int indent) {
    char head[kSummaryLineCapacity];
    char line[kSummaryLineCapacity];
    // Lines that would not fit are cut: the dialog shows them as far as they go.
    fa9::formatText(head, sizeof head, "%*s%s", indent > 0 ? indent : 0, "", label ? label : "");
    if (value)
        fa9::formatText(line, sizeof line, "%-40s   %s", head, value);
    else
        fa9::formatText(line, sizeof line, "%-40s", head);
    const size_t length = std::strlen(line);
    const size_t needed = summaryLength_ + length + 3;  // CR LF and the terminator
    if (needed > summaryCapacity_) {
        const size_t capacity = summaryCapacity_ * 2 + length + kSummaryGrowthMargin;
        char* grown = new (std::nothrow) char[capacity];
        if (!grown) {
            ureReport(URE_LOG_ERROR, "URE::addToSummaryString", 10, 5002, 5002, nullptr, 0, true);
            return;
        }
        if (summary_) std::memcpy(grown, summary_, summaryLength_);
        grown[summaryLength_] = '\0';
        delete[] summary_;
        summary_ = grown;
        summaryCapacity_ = capacity;
    }
    std::memcpy(summary_ + summaryLength_, line, length);
    summaryLength_ += length;
    summary_[summaryLength_++] = '\r';
    summary_[summaryLength_++] = '\n';
    summary_[summaryLength_] = '\0';
}

UINT URE::buildSummaryText(char* out, size_t size, MSIHANDLE hInstall) {
    clearSummaryText();
    // The product as the response-file set-up fixed it for this package.
    char product[kProductCodeCapacity];
    fa9::copyText(product, sizeof product, productCode_);
    const bool woltTools = fa9::equalsNoCase(product, kWoltTools);
    const bool pelaDriver = fa9::equalsNoCase(product, kPelaDriver);

    addBlankLine(*this);
    char productName[200];
    if (findProductName(hInstall, productName, sizeof productName)) addLabelLine(*this, 2501, productName, 0);
    if (!woltTools && !pelaDriver && !fa9::equalsNoCase(product, kGantryWatch)) appendInstallationType();
    appendCopyOptions(*this, hInstall, product);
    if (!keywordIsTrue("CONFIG_ONLY")) {
        appendComponents(hInstall);
        appendDirectory(*this, hInstall);
        if (!woltTools) appendRequiredSpace(*this);
    }
    if (!woltTools && !pelaDriver) appendInstances(*this);

    if (out && size > 0) fa9::copyText(out, size, summaryText());
    clearSummaryText();
    return ERROR_SUCCESS;
}
