// Windows Installer: the states of the package's features and components, as the
// session's costing left them (Session::setFeatureState, setComponentState).
#include "msi_handles.h"
#include "winsim/control.h"

using namespace winsim;

namespace {

const UINT kErrorUnknownFeature = 1606;    // ERROR_UNKNOWN_FEATURE
const UINT kErrorUnknownComponent = 1607;  // ERROR_UNKNOWN_COMPONENT

}  // namespace

extern "C" {

// Feature names are identifiers: matched exactly, letter case included. Either out
// pointer may be null; msi.dll then fills only the other.
UINT WINAPI MsiGetFeatureStateA(MSIHANDLE hInstall, LPCSTR szFeature, INSTALLSTATE* piInstalled,
                                INSTALLSTATE* piAction) {
    if (!szFeature) return kErrorUnknownFeature;
    Session* s = countedSessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    const auto& states = s->featureStates();
    auto it = states.find(szFeature);
    if (it == states.end()) return kErrorUnknownFeature;
    if (piInstalled) *piInstalled = it->second.first;
    if (piAction) *piAction = it->second.second;
    return ERROR_SUCCESS;
}

// The script's custom actions get no component states: costing belongs to the
// immediate part of the installation.
UINT WINAPI MsiGetComponentStateA(MSIHANDLE hInstall, LPCSTR szComponent, INSTALLSTATE* piInstalled,
                                  INSTALLSTATE* piAction) {
    if (!szComponent) return kErrorUnknownComponent;
    Session* s = countedSessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    if (s->runMode() != RunMode::Immediate) return ERROR_FUNCTION_FAILED;
    const auto& states = s->componentStates();
    auto it = states.find(szComponent);
    if (it == states.end()) return kErrorUnknownComponent;
    if (piInstalled) *piInstalled = it->second.first;
    if (piAction) *piAction = it->second.second;
    return ERROR_SUCCESS;
}

}  // extern "C"
