// The security model's inner face for the other parts of the simulated Windows: the
// access list a security descriptor from ConvertStringSecurityDescriptorToSecurityDescriptorA
// carries, and the write check of the file functions.
#pragma once

#include "winsim/control.h"

namespace winsim {

// The list a descriptor handed to CreateDirectoryA/CreateFileA gives; false when the
// pointer is no descriptor this machine made.
bool descriptorAccessList(const void* descriptor, AccessList& out);

// Records what a newly created file or folder gets: its owner (the token's default), and
// the descriptor's list when the caller passed one.
void recordCreated(Machine& m, const std::string& winPath, const SECURITY_ATTRIBUTES* sa);

// False with ERROR_ACCESS_DENIED when the token may not write (or create) this path.
bool checkWrite(Machine& m, const std::string& winPath);

}  // namespace winsim
