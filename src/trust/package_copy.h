// Which package file the script may read: the installer's own copy of the running
// product's package, a file directly in <Windows>\Installer.
#pragma once

#include "trust/held_path.h"
#include "trust/package_tables.h"

#include <string>

// Opens the package file at `path` in `package`, once it lies directly in the Windows
// folder's Installer folder (the path made full first, so no `..` form leads elsewhere),
// the gate holds it (for a process that acts for others: on a local fixed volume, no link
// on the way, neither it nor its folder changeable by anyone but the trusted) before a
// byte of it is read, and its own ProductCode is `productCode` (letters in either case).
// `held` keeps it while it is read. False, and nothing open or held, otherwise.
bool iOpenProductPackage(const std::string& path, const char* productCode, HeldPath& held, PackageFile& package);
