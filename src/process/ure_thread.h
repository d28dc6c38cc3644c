// Worker threads of the engine: started on a function and one argument, joined
// without limit or for a while.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// What the engine keeps of one thread; zero-filled while no thread runs.
struct UREThread {
    unsigned id;
    unsigned stackSize;  // asked for at start; 0 is the default
    HANDLE handle;
};

typedef unsigned (*UREThreadFunction)(void* argument);

// Starts `function(argument)` on a new thread and fills `record`: 0 when started, 5002
// when the start block cannot be allocated, 5111 when the thread cannot be created,
// 5003 when the function or the record is missing. Failures are reported.
uint32_t ureCreateThread(UREThreadFunction function, void* argument, UREThread* record);

// Waits for the thread of `record` to end, then closes its handle and clears the
// record's handle and identifier. For a record without a thread the wait fails at once.
void ureJoinThread(UREThread* record);

// Waits up to `timeout` milliseconds for the thread of `record`: true when it ended (the
// record is then cleared as above), false when it still runs (the record is kept).
bool ureJoinThread(UREThread* record, DWORD timeout);
