#include "runtime/stream_row_hold.h"

namespace {
// The installer runs one custom action of this library at a time in a process.
StreamRowHold* g_current = nullptr;
}

StreamRowHold::StreamRowHold() : outer_(g_current) { g_current = this; }

StreamRowHold::~StreamRowHold() { g_current = outer_; }

void StreamRowHold::offer(unique_msihandle& record) {
    if (!g_current || g_current->held_ || !record) return;
    g_current->held_.reset(record.release());
}
