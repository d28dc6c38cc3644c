// The frame every exported custom action runs in: binds the engine to the session,
// names the session whose ProductLanguage sets the message language and attaches the
// log and display observers; takes all of it down again when the custom action ends.
#pragma once

#include "platform/win32.h"

class UREHandleGuard {
public:
    explicit UREHandleGuard(MSIHANDLE hInstall);
    ~UREHandleGuard();
    UREHandleGuard(const UREHandleGuard&) = delete;
    UREHandleGuard& operator=(const UREHandleGuard&) = delete;
    bool owned() const { return owned_; }

private:
    bool owned_ = false;
};

class CustomActionContext {
public:
    explicit CustomActionContext(MSIHANDLE hInstall);
    ~CustomActionContext();
    CustomActionContext(const CustomActionContext&) = delete;
    CustomActionContext& operator=(const CustomActionContext&) = delete;
    CustomActionContext(CustomActionContext&&) = delete;
    CustomActionContext& operator=(CustomActionContext&&) = delete;

private:
    UREHandleGuard* guard_;
};

// True unless the installation runs with the full user interface (UILevel "5").
bool iIsReducedUI(MSIHANDLE hInstall);

// The failure path of a custom action: reports message 2006 with `rc` as an error that
// is logged and shown.
void iReportCustomActionFailure(const char* customAction, int probe, UINT rc);
