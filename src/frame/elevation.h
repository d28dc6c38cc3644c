// Whether this process runs with an administrator's full rights.
#pragma once

// True for an elevated token (and SYSTEM's); false for a standard user's, a filtered
// administrator's, or when it cannot be told (before Vista there is no such question).
bool iRunsElevated();
