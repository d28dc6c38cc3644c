// Windows path rules used across the simulated Windows.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace winsim::paths {

// Absolute form of a Windows path as GetFullPathName forms it: relative paths are taken
// against `currentDir`, '/' becomes '\\', "." and ".." are folded, trailing dots and
// blanks of the last component are dropped. A trailing separator is kept.
std::string full(const std::string& path, const std::string& currentDir);

// Components of an absolute Windows path after the drive ("C:\\a\\b" -> drive 'C', {"a","b"}).
struct Split {
    char drive = 'C';
    std::vector<std::string> parts;
};
Split split(const std::string& absolute);

// The host path of an absolute Windows path below the machine's root; existing
// components are matched without regard to case, missing ones keep their spelling.
std::string toHost(const std::string& root, const std::string& absolute);

// The entry of host folder `folder` that a path component names: by its long name
// without regard to case, or by the 8.3 short name Windows generates for it; empty
// when there is none.
std::string entryNamed(const std::filesystem::path& folder, const std::string& component);

// The Windows path of what a host path below the machine's root leads to, links on the
// way resolved and existing names as the folders hold them ("C:\a\b"); empty when it
// lies outside the root.
std::string realWindowsPath(const std::string& root, const std::string& host);

// "C:\\a\\b.dll" -> "b.dll"
std::string baseName(const std::string& path);

}  // namespace winsim::paths
