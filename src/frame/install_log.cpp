#include "frame/install_log.h"

#include "platform/bounded.h"
#include "frame/message_strings.h"
#include "platform/scoped_handles.h"

void iLogMessage(MSIHANDLE hInstall, const char* text) {
    unique_msihandle record(MsiCreateRecord(1));
    if (!record) return;
    MsiRecordSetStringA(record.get(), 1, text);
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, record.get());
}

void iLogCallFailure(MSIHANDLE hInstall, const char* operation, const char* propertyName, int rc) {
    if (rc == 0) return;
    char line[512];
    bool fromLibrary = false;
    if (ureStringLibraryLoaded()) {
        // The same %N tokens as every other message: 6031 is also reported through the engine.
        // The first token of 6002 names the property, so the line says which call failed.
        char templ[256];
        MsgTokenHolder tokens;
        if (propertyName) tokens.addString(propertyName);
        tokens.addString(operation);
        tokens.addInt(rc);
        fromLibrary = liteLoadString(propertyName ? 6002 : 6031, templ, sizeof templ, kStringLibraryName) == 0 &&
                      ureSubstituteTokens(templ, tokens, line, sizeof line) == 0;
    }
    if (!fromLibrary)
        fa9::formatText(line, sizeof line, "%s failed with return code '%d'.", operation ? operation : "", rc);
    iLogMessage(hInstall, line);
}
