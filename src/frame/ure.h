// The process-wide message engine: session handle, message language, runtime
// directory, silent flag and the observer list. Created on first use, destroyed when
// a custom action's context ends.
#pragma once

#include "frame/msg_token_holder.h"
#include "frame/observer.h"
#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

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
    void setSessionHandle(MSIHANDLE h) { session_ = h; }

    void setLanguage(const char* locale);
    // The message language, else the system default language's locale, else "en_US".
    void getLanguage(char* out, size_t capacity) const;
    const char* language() const { return language_; }

    // Records the runtime directory for this custom action and publishes it as
    // pFA9RuntimeDirectory; false when the path does not fit (nothing changes).
    bool setRuntimeDirectory(const char* path);
    // The recorded runtime directory, else the pFA9RuntimeDirectory property, in `buffer`
    // (261 characters; null: a process-wide buffer that the next call overwrites).
    const char* getRuntimeDirectory(char* buffer);
    const char* runtimeDirectoryRecord() const { return runtimeDirectory_; }

    bool silent() const { return silent_; }
    void setSilent(bool silent) { silent_ = silent; }

private:
    URE() = default;
    MSIHANDLE session_ = 0;
    char language_[kLanguageCapacity] = {};
    char runtimeDirectory_[kRuntimeDirectoryCapacity] = {};
    bool silent_ = false;
};

// Hands a report to every observer of the engine; returns the first non-zero
// observer result (for a message box, the button pressed), else 0.
int ureReport(uint32_t flags, const char* functionName, int probe, int32_t rc, uint32_t messageNumber,
              const MsgTokenHolder* tokens, int feedback, bool flag);
// The same with a literal text instead of a message number.
int ureReportText(uint32_t flags, const char* functionName, int probe, int32_t rc, const char* text, bool flag);
