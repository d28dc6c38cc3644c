// Handles a process keeps from one custom action to the next, each with the path it
// belongs to, in one of the process's environment variables: the installer loads and
// unloads this library for each custom action, and the environment outlives it.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

struct ProcessRecordEntry {
    HANDLE handle;
    std::string path;
};

// The entries of `variable`; none when it is not set (or is no record).
std::vector<ProcessRecordEntry> iReadProcessRecord(const char* variable);

// Replaces the record; no entries remove the variable.
void iWriteProcessRecord(const char* variable, const std::vector<ProcessRecordEntry>& entries);
