// Temporary rows of the Control table, through views on the session's active database.
#include "session/control_table.h"

#include "platform/bounded.h"
#include "platform/scoped_handles.h"

namespace {

// The installer's SQL statements of this unit stay below this length.
const size_t kStatementCapacity = 512;

}  // namespace

UINT iAddControl(MSIHANDLE hInstall, const char* dialog, const char* control, const char* type, int x, int y,
                 int width, int height, int attributes, const char* property, const char* text,
                 const char* nextControl, const char* help) {
    unique_msihandle database(MsiGetActiveDatabase(hInstall));
    if (!database) return ERROR_SUCCESS;
    unique_msihandle view;
    UINT rc = MsiDatabaseOpenViewA(database.get(), "SELECT * FROM Control", view.out());
    if (rc != ERROR_SUCCESS) return rc;
    unique_msihandle record(MsiCreateRecord(12));
    if (!record) {
        MsiViewClose(view.get());
        return ERROR_FUNCTION_FAILED;
    }
    // The columns in table order: three texts, five numbers, four texts.
    const char* const head[] = {dialog, control, type};
    const int numbers[] = {x, y, width, height, attributes};
    const char* const tail[] = {property, text, nextControl, help};
    for (UINT i = 0; i < 3; ++i) MsiRecordSetStringA(record.get(), 1 + i, head[i]);
    for (UINT i = 0; i < 5; ++i) MsiRecordSetInteger(record.get(), 4 + i, numbers[i]);
    for (UINT i = 0; i < 4; ++i) MsiRecordSetStringA(record.get(), 9 + i, tail[i]);
    rc = MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, record.get());
    MsiViewClose(view.get());
    return rc;
}

UINT iDeleteControl(MSIHANDLE hInstall, const char* dialog, const char* control) {
    unique_msihandle database(MsiGetActiveDatabase(hInstall));
    if (!database) return ERROR_SUCCESS;
    char statement[kStatementCapacity];
    // A cut statement would delete the wrong rows or none: refuse it whole.
    if (!fa9::formatText(statement, sizeof statement, "DELETE FROM Control WHERE Dialog_='%s' AND Control='%s'",
                         dialog ? dialog : "", control ? control : ""))
        return ERROR_INVALID_PARAMETER;
    unique_msihandle view;
    UINT rc = MsiDatabaseOpenViewA(database.get(), statement, view.out());
    if (rc != ERROR_SUCCESS) return rc;
    rc = MsiViewExecute(view.get(), 0);
    MsiViewClose(view.get());
    return rc;
}
