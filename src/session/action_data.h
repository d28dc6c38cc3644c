// The values the installer hands a deferred, rollback or commit custom action
// (CustomActionData): "name=value" entries separated by ";". Inside a name or a value
// "%", ";" and "=" are written as "%25", "%3B" and "%3D", so any text survives.
#pragma once

#include "platform/win32.h"
#include "trust/package_copy.h"

#include <string>

// Appends one entry to `data`.
void iAppendActionEntry(std::string& data, const char* name, const char* value);

enum class ActionEntry { Found, Absent, Malformed };

// Looks `name` up in `data` (`size` bytes, not necessarily terminated); the first entry
// of that name wins. Found fills `value`; Malformed when the text up to and including
// that entry cannot be read (a bad escape, an entry without "="), which counts as no
// data at all.
ActionEntry iFindActionEntry(const char* data, size_t size, const char* name, std::string& value);

// The running action's CustomActionData in a deferred, rollback or commit custom
// action; false when the installer offers none (or it is empty).
bool iReadActionData(MSIHANDLE hInstall, std::string& data);

// The value handed to this action for `name`, from its CustomActionData only.
bool iGetActionValue(MSIHANDLE hInstall, const char* name, std::string& value);

// Opens in `package` (kept by `held`) the installer's copy of the package that the running
// script action's own data names (DATABASE; a value in the store is the user's), as
// iOpenProductPackage allows it, for the installer's own ProductCode: the data was written
// by an immediate action running as the installing user, so it could name the locked
// package of another product. False when there is no such data (`path` empty) or the copy
// is refused.
bool iOpenPackageCopy(MSIHANDLE hInstall, HeldPath& held, PackageFile& package, std::string& path);
