// Which package file the script may read: the installer's copy of the running product's
// package, once only the trusted can change it.
#pragma once

#include "trust/package_tables.h"

#include <string>

// Opens the package file at `path` in `package`, once neither the file nor its folder can
// be changed by anyone but SYSTEM, Administrators, TrustedInstaller and this account, it
// lies at the path itself (no link on the way) and its own ProductCode is `productCode`
// (letters in either case). False, and nothing open, otherwise.
bool iOpenProductPackage(const std::string& path, const char* productCode, PackageFile& package);

// Opens in `package` the installer's copy of the package that the running script action's
// own data names (DATABASE; a value in the store is the user's), once neither the file
// nor its folder can be changed by anyone but SYSTEM, Administrators, TrustedInstaller
// and this account, and only when the package's own ProductCode is the running
// installation's (the installer's property, letters in either case): the data was written
// by an immediate action running as the installing user, so it could name the locked
// package of another product. False when there is no such data (`path` empty), the copy
// could be changed by others, cannot be read or belongs to another product.
bool iOpenPackageCopy(MSIHANDLE hInstall, PackageFile& package, std::string& path);
