// Who besides the system and the administrators can change a file or folder: a script
// running as SYSTEM runs programs only from where no one else can swap them.
#pragma once

// True when the owner of `path` is SYSTEM, Administrators, TrustedInstaller or the
// account this process runs as, and no entry of its access list that applies to it lets
// anyone else write or append to it, add or delete what it holds, delete it, change its
// attributes, its list or its owner. Deny entries are passed over, which can only refuse
// more. False too when the owner or the list cannot be read, the list is null (everyone
// may do everything) or holds an allow entry of a kind not read here: a check that
// cannot be made fails.
bool iOnlyTrustedCanWrite(const char* path);

// The same for a file and the folder it lies in (`path` a full path): what the script
// reads from the installer's copy of the package counts only when neither can be changed
// by others.
bool iOnlyTrustedCanWriteFileAndFolder(const char* path);
