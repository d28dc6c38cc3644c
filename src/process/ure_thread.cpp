#include "process/ure_thread.h"

#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

#include <cstdlib>

namespace {

struct StartBlock {
    UREThreadFunction function;
    void* argument;
};

// Runs on the new thread: the start block is only needed to get here.
unsigned __stdcall threadStart(void* param) {
    StartBlock block = *static_cast<StartBlock*>(param);
    std::free(param);
    return block.function(block.argument);
}

void reportStartFailure(uint32_t message, DWORD systemError) {
    MsgTokenHolder tokens;
    tokens.addUnsigned(systemError);
    ureReport(URE_LOG_ERROR, "ureCreateThread", 8, static_cast<int32_t>(systemError), message, &tokens, 0, true);
}

}  // namespace

uint32_t ureCreateThread(UREThreadFunction function, void* argument, UREThread* record) {
    if (!function || !record) {
        ureReport(URE_LOG_ERROR, "ureCreateThread", 5, 5003, 5003, nullptr, 0, true);
        return 5003;
    }
    auto* block = static_cast<StartBlock*>(std::malloc(sizeof(StartBlock)));
    if (!block) {
        // The allocator sets no system error; this is the one that stands for its failure.
        reportStartFailure(5002, ERROR_NOT_ENOUGH_MEMORY);
        return 5002;
    }
    block->function = function;
    block->argument = argument;
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, record->stackSize, threadStart, block, 0, &id);
    if (handle == 0) {
        DWORD error = GetLastError();
        std::free(block);
        reportStartFailure(5111, error);
        return 5111;
    }
    record->id = id;
    record->handle = reinterpret_cast<HANDLE>(handle);
    return 0;
}

void ureJoinThread(UREThread* record) {
    if (!record) return;
    // Without a thread the wait fails; that is expected and ignored.
    WaitForSingleObject(record->handle, INFINITE);
    if (record->handle) CloseHandle(record->handle);
    record->handle = nullptr;
    record->id = 0;
}

bool ureJoinThread(UREThread* record, DWORD timeout) {
    if (!record) return true;
    if (record->handle && WaitForSingleObject(record->handle, timeout) == WAIT_TIMEOUT) return false;
    ureJoinThread(record);
    return true;
}
