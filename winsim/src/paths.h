// Windows path rules used across the simulated Windows.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace winsim::paths {

// Absolute form of a Windows path as GetFullPathName forms it: relative paths are taken
// against `currentDir`, '/' becomes '\', "." and ".." are folded (never above the root),
// trailing dots and blanks of the last component are dropped. A trailing separator is kept.
// The result has one of the roots the machine resolves: C:\ (a drive), \\server\share\ for
// another machine, or \\?\name\ for the rest of the device namespace (which holds nothing
// here). The prefixes \\?\ and \\.\ go where a drive or a share follows them: \\?\C:\x is
// C:\x, \\?\UNC\s\sh\x is \\s\sh\x. Windows hands a \\?\ name to the file system without
// folding it (which then refuses "." and ".." names, we believe); here it is folded too.
std::string full(const std::string& path, const std::string& currentDir);

// The length of an absolute path's root: C:\ (3), \\server\share\ or \\?\name\ (the
// separator after the names included when there is one); 0 for a path without one.
size_t rootLength(const std::string& absolute);

// The host path of an absolute Windows path below the machine's root: a drive's under
// <root>/<letter>, a share's under <root>/UNC/<server>/<share>, the device namespace's
// under <root>/DEVICE. Existing components are matched without regard to case, missing
// ones keep their spelling.
std::string toHost(const std::string& root, const std::string& absolute);

// The entry of host folder `folder` that a path component names: by its long name
// without regard to case, or by the 8.3 short name Windows generates for it; empty
// when there is none.
std::string entryNamed(const std::filesystem::path& folder, const std::string& component);

// The Windows path of what a host path below the machine's root leads to, links on the
// way resolved and existing names as the folders hold them (C:\a\b, \\server\share\a);
// empty when it lies outside the drives and shares.
std::string realWindowsPath(const std::string& root, const std::string& host);

// `folder` (a Windows path) and a name in it, one separator between them.
std::string joinName(const std::string& folder, const std::string& name);

// "C:\\a\\b.dll" -> "b.dll"
std::string baseName(const std::string& path);

}  // namespace winsim::paths
