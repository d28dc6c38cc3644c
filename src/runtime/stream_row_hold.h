// Keeps one Binary row's record, stream and all, for as long as an action reads streams.
//
// Wine 8's installer can deadlock when a custom action lets go of the last stream it
// holds right after reading it: the installer's RPC server then unregisters its stream
// interface while the read's call is still being counted, and waits for that count
// forever. With the first row read held until the action's reading is over, letting go
// of every other row never unregisters the interface; the held row goes last, after
// other questions to the installer. Windows is indifferent to the order.
#pragma once

#include "platform/scoped_handles.h"

class StreamRowHold {
public:
    StreamRowHold();
    ~StreamRowHold();
    StreamRowHold(const StreamRowHold&) = delete;
    StreamRowHold& operator=(const StreamRowHold&) = delete;

    // The record of a row whose stream was read: the innermost hold takes it when it
    // holds none yet; otherwise it stays with the caller, who closes it.
    static void offer(unique_msihandle& record);

private:
    unique_msihandle held_;
    StreamRowHold* outer_;
};
