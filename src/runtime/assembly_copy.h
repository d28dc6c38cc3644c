// Private copies of the VC80 runtime assemblies in the installed product's program
// folders, what each run wrote marked for deletion at the next restart. Every folder and
// file is reached through the gate (trust/held_path.h).
#pragma once

#include "platform/win32.h"

// Copies the tree `source` into `destination` (either may come in double quotes; at most
// 260 characters each): 0, -1 when the source cannot be listed, 5053 when a path is too
// long or the destination lies inside the source, ERROR_DISK_FULL when the destination's
// volume is full (the copy stops there). Folders it creates get upper-case names; files
// keep theirs. A file that cannot be copied for another reason is skipped, and so is a link
// met on the way (named in warning 7112).
int CopyDirectoryTree(const char* source, const char* destination);

// Places both assemblies, as the package carries them, in every program folder of the
// installation that exists, and marks the files and folders this run wrote for deletion
// at the next restart (each folder after its files; for a process that acts for others
// only where no one else can change a folder above the installation folder, else warning
// 7116 names it). A program folder that is a link or that others may change is skipped
// (7112, 7114 warnings); for a process that acts for others an installation folder the
// gate refuses is reported (7114) and gives ERROR_INSTALL_FAILURE. Else 0, or -1 when the installation folder cannot be read or a
// tree copy fails, ERROR_INSTALL_FAILURE when the package's files cannot be had
// (reported, nothing copied), or ERROR_DISK_FULL when a copy did not fit (that folder's two
// assembly copies are then removed; earlier folders keep their complete ones).
int copyVC80Assemblies(MSIHANDLE hInstall);
