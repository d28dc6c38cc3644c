// Windows Installer: the states of the package's features, as the session's costing
// left them (Session::setFeatureState).
#include "msi_handles.h"
#include "winsim/control.h"

using namespace winsim;

namespace {

const UINT kErrorUnknownFeature = 1606;  // ERROR_UNKNOWN_FEATURE

}  // namespace

extern "C" {

// Feature names are identifiers: matched exactly, letter case included. Either out
// pointer may be null; msi.dll then fills only the other.
UINT WINAPI MsiGetFeatureStateA(MSIHANDLE hInstall, LPCSTR szFeature, INSTALLSTATE* piInstalled,
                                INSTALLSTATE* piAction) {
    if (!szFeature) return kErrorUnknownFeature;
    Session* s = sessionOf(hInstall);
    if (!s) return ERROR_INVALID_HANDLE;
    const auto& states = s->featureStates();
    auto it = states.find(szFeature);
    if (it == states.end()) return kErrorUnknownFeature;
    if (piInstalled) *piInstalled = it->second.first;
    if (piAction) *piAction = it->second.second;
    return ERROR_SUCCESS;
}

}  // extern "C"
