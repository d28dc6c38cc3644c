// The process-wide message engine: session handle, message language, runtime
// directory, silent flag and the observer list. Created on first use, destroyed when
// a custom action's context ends.
#pragma once

#include "frame/msg_token_holder.h"
#include "frame/observer.h"
#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

class ResponseFile;

class URE : public IObservable {
public:
    static constexpr size_t kLanguageCapacity = 10;
    static constexpr size_t kRuntimeDirectoryCapacity = 261;

    // The engine, created on first use; null only when it cannot be allocated.
    static URE* instance();
    // The engine if it exists, without creating it.
    static URE* existing();
    static void destroy();

    MSIHANDLE sessionHandle() const { return session_; }
    void setSessionHandle(MSIHANDLE h) {
        session_ = h;
        storeMode_ = -1;
    }
    // The run mode of the bound session as iIsStoreMode found it: -1 not asked yet, else
    // 0 or 1. A session's mode does not change while a custom action runs, and each
    // question is a round trip to the installer.
    int storeMode() const { return storeMode_; }
    void setStoreMode(bool store) { storeMode_ = store ? 1 : 0; }

    // The message language comes from this session's ProductLanguage, read when a message
    // first needs it: an action that reports nothing spares that round trip.
    void setLanguageSession(MSIHANDLE hInstall) { languageSession_ = hInstall; }
    // A language chosen outright (the response-file checker's -l); no session read follows.
    void setLanguage(const char* locale);
    // The message language, else the system default language's locale, else "en_US".
    void getLanguage(char* out, size_t capacity) const;
    // The locale ProductLanguage names when the language table knows it, else "".
    const char* language() const;

    // Records the runtime directory for this custom action and publishes it as
    // pFA9RuntimeDirectory; false when the path does not fit (nothing changes).
    bool setRuntimeDirectory(const char* path);
    // The recorded runtime directory, else the pFA9RuntimeDirectory property, in `buffer`
    // (261 characters; null: a process-wide buffer that the next call overwrites).
    const char* getRuntimeDirectory(char* buffer);

    bool silent() const { return silent_; }
    void setSilent(bool silent) { silent_ = silent; }

    // ---- response file (response/response_engine.cpp) ----
    static constexpr size_t kProductCodeCapacity = 256;

    // Names the response file, parses it in the user's locale and checks it (skipChecks
    // non-zero: the keyword checks of initResponseFile are skipped); takes PROD as the
    // product code. 0, 5003 (no path), a message number from initResponseFile, or -1.
    int32_t setResponseFile(const char* path, int skipChecks);
    // Parses the named file into a new ResponseFile, reports its errors and decides the
    // ready flag: 0, 5002, 5012, 5013, 5014, 5016 or 7106 (a UTF-16 file).
    int32_t initResponseFile(int skipChecks);
    ResponseFile* responseFile() const { return responseFile_; }
    bool responseFileReady() const { return responseFileReady_; }
    const char* productCode() const { return productCode_; }
    void setProductCode(const char* code);
    // Where ureReadRspFile goes on when the caller gives no cursor.
    int32_t& responseFilePosition() { return responseFilePosition_; }

    // ---- installation summary (response/installation_summary.cpp) ----
    // A formatted summary line holds at most this many characters (a longer one is cut).
    static constexpr size_t kSummaryLineCapacity = 264;

    // Appends one line and CR LF: `indent` blanks and the label, padded with blanks to
    // 40 characters, then (when `value` is not null) three blanks and the value. A line
    // that cannot be stored is reported (message 5002) and dropped.
    void addToSummaryString(const char* label, const char* value, int indent);
    // Builds the summary of the installation about to run into `out` (`size` bytes; the
    // text is cut to size - 1) and empties the engine's summary text. Returns 0.
    UINT buildSummaryText(char* out, size_t size, MSIHANDLE hInstall);
    const char* summaryText() const { return summary_ ? summary_ : ""; }
    size_t summaryLength() const { return summaryLength_; }
    void clearSummaryText();
    // The disk space the installation needs, in kilobytes; 0 until computed.
    int64_t requiredSpace() const { return requiredSpace_; }
    void setRequiredSpace(int64_t kilobytes) { requiredSpace_ = kilobytes; }

private:
    URE() = default;
    ~URE();
    void releaseResponseFile();
    MSIHANDLE session_ = 0;
    int storeMode_ = -1;
    void readLanguage() const;
    // Filled on first use (only the action's own thread reports).
    mutable MSIHANDLE languageSession_ = 0;
    mutable char language_[kLanguageCapacity] = {};
    char runtimeDirectory_[kRuntimeDirectoryCapacity] = {};
    bool silent_ = false;
    char* responseFilePath_ = nullptr;
    char productCode_[kProductCodeCapacity] = {};
    ResponseFile* responseFile_ = nullptr;
    bool responseFileReady_ = false;
    int32_t responseFilePosition_ = 0;
    char* summary_ = nullptr;
    size_t summaryLength_ = 0;
    size_t summaryCapacity_ = 0;
    int64_t requiredSpace_ = 0;
};

// Hands a report to every observer of the engine; returns the first non-zero
// observer result (for a message box, the button pressed), else 0.
int ureReport(uint32_t flags, const char* functionName, int probe, int32_t rc, uint32_t messageNumber,
              const MsgTokenHolder* tokens, int feedback, bool flag);
// The same with a literal text instead of a message number.
int ureReportText(uint32_t flags, const char* functionName, int probe, int32_t rc, const char* text, bool flag);
