#include "frame/custom_action_context.h"

#include "frame/message_strings.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "frame/ure_observers.h"
#include "session/property_access.h"

#include <cstring>
#include <new>

UREHandleGuard::UREHandleGuard(MSIHANDLE hInstall) {
    URE* engine = URE::instance();
    if (engine && engine->sessionHandle() == 0) {
        engine->setSessionHandle(hInstall);
        owned_ = true;
    }
}

UREHandleGuard::~UREHandleGuard() {
    URE* engine = URE::existing();
    if (owned_ && engine) engine->setSessionHandle(0);
}

namespace {

template <typename Observer>
void attachEnabled(Observer* observer) {
    URE* engine = URE::instance();
    if (!observer || !engine) return;
    engine->attach(observer);
    observer->setEnabled(true);
}

}  // namespace

CustomActionContext::CustomActionContext(MSIHANDLE hInstall)
    : guard_(new (std::nothrow) UREHandleGuard(hInstall)) {
    if (URE* engine = URE::instance()) engine->setLanguageSession(hInstall);
    attachEnabled(URELogObserver::instance());
    attachEnabled(UREDisplayObserverWI::instance());
}

CustomActionContext::~CustomActionContext() {
    // The mode is known by now in any action that read a property; else this asks it.
    const URE* bound = URE::existing();
    const bool scriptAction = bound && bound->sessionHandle() && iIsStoreMode(bound->sessionHandle());
    delete guard_;
    if (URE* engine = URE::existing()) engine->detachAll();
    URELogObserver::destroy();
    UREDisplayObserverWI::destroy();
    URE::destroy();
    // The installer may unload this library between custom actions: its caches go, the
    // string libraries stay mapped until the runtime folders go, which a script action's
    // process never removes, so there they go with the action.
    if (scriptAction)
        ureReleaseStringLibraries();
    else
        ureForgetStringLibraries();
}

bool iIsReducedUI(MSIHANDLE hInstall) {
    char level[260];
    DWORD capacity = sizeof level;
    level[0] = '\0';
    if (iMsiGetProperty(hInstall, "UILevel", level, &capacity) != 0) return true;
    return std::strcmp(level, "5") != 0;
}

void iReportCustomActionFailure(const char* customAction, int probe, UINT rc) {
    MsgTokenHolder tokens;
    tokens.addInt(static_cast<int>(rc));
    ureReport(URE_SHOW_ERROR, customAction, probe, static_cast<int32_t>(rc), 2006, &tokens, 0, true);
}
