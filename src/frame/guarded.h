// Runs a custom action's body so that nothing but its result leaves the export: an
// exception that escapes the body ends the custom action as a failed installation step.
#pragma once

#include "platform/win32.h"

template <typename Body>
UINT iRunGuarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}
