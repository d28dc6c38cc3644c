// The deferred property store's life: filled before the installation script runs,
// removed after the installation.
#pragma once

#include "platform/scoped_handles.h"
#include "platform/win32.h"
#include "session/property_access.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// A name and value saved into the store after everything else (the response file's
// settings, which the caller reads).
struct StoredSetting {
    std::string name;
    std::string value;
};

// A row of the CustomAction table that calls PreProcessInstallCA or an export that runs
// in the script.
struct CustomActionRow {
    std::string action, source, target;
    int type;
};

// What the installer's copy of the package holds of the tables PreProcessInstallCA reads.
struct PackageTables {
    std::vector<std::string> propertyNames;  // in the table's order
    std::vector<CustomActionRow> rows;       // those iLibraryRows gives, in the table's order
};

// What the steps of PreProcessInstallCA would each ask the installer again (each question
// a round trip), asked once: the active database or the package file's tables, the store's
// root (UserSID), the components' states and the values read ahead for the action data.
// In the script only the database is shared: UserSID and the selections come from the
// store, which one step removes and the next writes, so each step reads them again.
class SessionReads {
public:
    explicit SessionReads(MSIHANDLE hInstall);
    SessionReads(const SessionReads&) = delete;
    SessionReads& operator=(const SessionReads&) = delete;

    MSIHANDLE session() const { return hInstall_; }
    // False in the script (deferred or rollback mode).
    bool shared() const { return shared_; }
    // The active database; 0 when there is none.
    MSIHANDLE database();
    // HKEY_USERS\<UserSID> or HKEY_CURRENT_USER, as iUserRoot decides.
    HKEY storeRoot();
    // "DESELECTED", "SELECTED" or null, from the component's states (iIsComponentSelected).
    const char* selectState(const char* component);
    bool isSelected(const char* component);
    // Values read from the session ahead of their use, by name.
    std::map<std::string, std::string>& valuesAhead() { return ahead_; }
    // Reads ahead, in one formatted text, what the first steps would each ask on its own:
    // the store's root (UserSID), the response file's path and what packageTables()
    // decides by. Nothing in the script, where the store answers some of them.
    void readAhead();
    // A value read ahead, or null.
    const std::string* aheadValue(const char* name) const;
    // The Property table's names and the CustomAction rows from the installer's copy of
    // the package (DATABASE) rather than views (a round trip a row): only in an immediate
    // action that applies no patch (in a maintenance run: of a product with none applied
    // and no transform registered), and whose transforms, files it can read, change no
    // more than the Property table's rows (applied to the names here): there the
    // session's tables are the file's. Null anywhere else, and when a file cannot be read.
    const PackageTables* packageTables();

private:
    MSIHANDLE hInstall_;
    bool shared_;
    bool databaseAsked_ = false;
    unique_msihandle database_;
    bool rootKnown_ = false;
    HKEY root_ = nullptr;
    unique_hkey userKey_;
    std::map<std::string, const char*> selections_;
    std::map<std::string, std::string> ahead_;
    bool tablesAsked_ = false;
    std::optional<PackageTables> tables_;
};

// The store's writes in the steps' order, carried out on a thread of their own once
// started so that the installer can be asked meanwhile (in Wine each registry write is a
// round trip too). Where no thread can be had they are carried out at once.
class StoreWrites {
public:
    StoreWrites() = default;
    StoreWrites(const StoreWrites&) = delete;
    StoreWrites& operator=(const StoreWrites&) = delete;
    ~StoreWrites() { finish(); }

    // `counts`: the write's result becomes the running result (the later steps' writes).
    void write(const std::string& name, const std::string& value, bool counts);
    // A read of a later step that failed: its result becomes the running result there.
    void failedRead(UINT rc);
    // Creates the store's key under `root` on the calling thread (its access check is the
    // caller's), then begins the writes through that key, which this object owns: `root`
    // may be closed once this returns.
    void start(HKEY root);
    // Waits for them: the running result, 0 when nothing counted.
    UINT finish();

private:
    struct Write {
        std::string name, value;
        bool counts;
        bool failed;  // a failed read: no write, `rc` as its result
        UINT rc;
    };
    static unsigned __stdcall apply(void* self);
    void applyAll();

    std::optional<StoreKey> key_;
    std::vector<Write> writes_;
    HANDLE thread_ = nullptr;
    UINT result_ = 0;
};

// Saves the Property table's properties, the fixed list of names the deferred custom
// actions need, five components' selection states and then `settings` into the store
// through `writes`, which it starts. Without the package file's tables: 6045 without a
// database, -1 when the Property table cannot be read (nothing started). Else 0, and
// `writes.finish()` gives the result of the last store write or read of the later steps.
// In an immediate action the same read also fetches what iHandActionData hands out.
UINT iSavePropertiesForDeferred(SessionReads& reads, const std::vector<StoredSetting>& settings,
                                StoreWrites& writes);
// The same, waiting for the writes.
UINT iSavePropertiesForDeferred(MSIHANDLE hInstall, const std::vector<StoredSetting>& settings = {});

// Those rows, in the table's order; none when the table is not there.
std::vector<CustomActionRow> iLibraryRows(SessionReads& reads);

// Hands every script row of `rows` that calls this library (the Binary row of
// PreProcessInstallCA's own row) the values its export reads, as a property named after
// the row (its CustomActionData). 0, or the installer's result of a failed property write.
UINT iHandActionData(SessionReads& reads, const std::vector<CustomActionRow>& rows);

// Deletes the store with everything in it, then each key of its path that the library
// created (as iNoteCreatedStoreKeys recorded it) and that is empty now. Reports nothing.
void iDeletePropertyStore(MSIHANDLE hInstall);
void iDeletePropertyStore(SessionReads& reads);

// Before the store is first written under `root`: records in the store's parent key the
// highest key of the store's path not there yet (none when the whole path exists), so
// that the removal takes back exactly what the library made.
void iNoteCreatedStoreKeys(HKEY root);

// Whether `component` is newly installed locally by this installation (immediate mode),
// or was recorded as SELECTED in the store (deferred and rollback mode).
bool iIsComponentSelected(MSIHANDLE hInstall, const char* component);
