// Private copies of the VC80 runtime assemblies in the installed product's program
// folders, each marked for deletion at the next restart.
#pragma once

#include "platform/win32.h"

// Copies the tree `source` into `destination` (either may come in double quotes; at most
// 260 characters each): 0, -1 when the source cannot be listed, 5053 when a path is too
// long or the destination lies inside the source, ERROR_DISK_FULL when the destination's
// volume is full (the copy stops there). Folders it creates get upper-case names; files
// keep theirs. A file that cannot be copied for another reason is skipped.
int CopyDirectoryTree(const char* source, const char* destination);

// Marks everything under `directory`, then the directory itself, for deletion at the
// next restart (each folder after its files). 0, or -1 for a path shorter than 4
// characters or a folder that cannot be listed.
int ScheduleDeleteTree(const char* directory);

// Places both assemblies, as the package carries them, in every program folder of the
// installation that exists: 0, or -1 when the installation folder cannot be read or a
// tree copy fails, ERROR_INSTALL_FAILURE when the package's files cannot be had
// (reported, nothing copied), or ERROR_DISK_FULL when a copy did not fit (that folder's two
// assembly copies are then removed; earlier folders keep their complete ones).
int copyVC80Assemblies(MSIHANDLE hInstall);
