// The folders a run makes under a temporary folder (the runtime folder FA9WOLTnnnnn under
// TempFolder, the registration program's copy FA9RUN<16 random hex digits> under the
// process's temporary folder) go when the run is over; what a run could not remove (a process still held it,
// or the run was killed) is removed by a later run.
//
// A live run's folder is told from a finished one's by its marker, "<folder>.live" beside
// it: made before the folder and held open by the run's process, without delete sharing,
// until the run is over. The system closes the handle when that process ends, however it
// ends, so a marker that can be opened without sharing belongs to a finished run. A
// folder without a marker is never touched: nothing says whose it is.
#pragma once

#include "platform/win32.h"

// Makes the marker of `folder` (a new file) and returns its open handle, or
// INVALID_HANDLE_VALUE with the last error set (ERROR_FILE_EXISTS: the name is taken).
HANDLE iHoldRunMarker(const char* folder);

// Removes everything below `folder` and the folder itself through the gate (trust/held_path.h):
// held as itself and, for a process that acts for others, changeable by the trusted alone,
// or left. True when the folder is gone.
bool iRemoveFolderTree(const char* folder);

// Lets go of the marker `marker` of `folder` and deletes it, leaving the folder alone: for
// a folder that could not be made (one already there is not ours).
void iDropRunMarker(const char* folder, HANDLE marker);

// Ends a run's folder: removes it, closes its marker handle `marker` (when valid) and,
// once the folder is gone, the marker. True when both are gone.
bool iEndRunFolder(const char* folder, HANDLE marker);

// Removes every folder `parent\<prefix>nnnnn` (five digits, or 16 lower-case hex digits) of
// a finished run, then its marker, through handles; folders of live runs and unmarked folders
// stay. A process that acts for others (SYSTEM, elevated) also leaves markers not owned by a
// trusted account and folders that others may change: it removes nothing a standard user
// made or could swap in a temporary folder it shares.
void iSweepFinishedRunFolders(const char* parent, const char* prefix);

// The runtime folders this process holds live: recorded in the process's environment,
// which outlives this library between custom actions (the installer may unload it).
void iRecordLiveRuntimeFolder(const char* folder, HANDLE marker);
// Ends every runtime folder this process holds live (see iEndRunFolder), after letting go
// of what the process keeps in them: the current directory, the sibling allocator library.
void iEndLiveRuntimeFolders();
