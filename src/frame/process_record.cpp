#include "frame/process_record.h"

#include "platform/bounded.h"

#include <cstdint>
#include <cstring>

namespace {

const DWORD kRecordCapacity = 4096;

// "<process id in hex>#": a record counts only in the process that wrote it. Children
// inherit the environment, and a user's saved variables can reach the installer's
// processes: a handle from anywhere else would be freed, or a folder it names removed.
bool ownPrefix(char (&out)[16]) {
    return fa9::formatText(out, sizeof out, "%lx#", static_cast<unsigned long>(GetCurrentProcessId()));
}

}  // namespace

// The record: the process's prefix, then "<handle in hex>|<path>" entries, each ended by
// '*' (no path holds one).
std::vector<ProcessRecordEntry> iReadProcessRecord(const char* variable) {
    std::vector<ProcessRecordEntry> entries;
    char record[kRecordCapacity] = {}, prefix[16];
    const DWORD n = GetEnvironmentVariableA(variable, record, sizeof record);
    if (n == 0 || n >= sizeof record || !ownPrefix(prefix) || std::strncmp(record, prefix, std::strlen(prefix)) != 0)
        return entries;
    for (char* entry = record + std::strlen(prefix); *entry;) {
        char* end = std::strchr(entry, '*');
        if (!end) break;
        *end = '\0';
        char* bar = std::strchr(entry, '|');
        if (bar) {
            *bar = '\0';
            uintptr_t value = 0;
            for (const char* c = entry; *c; ++c)
                value = value * 16 + static_cast<uintptr_t>(*c <= '9' ? *c - '0' : (*c | 0x20) - 'a' + 10);
            entries.push_back({reinterpret_cast<HANDLE>(value), bar + 1});
        }
        entry = end + 1;
    }
    return entries;
}

void iWriteProcessRecord(const char* variable, const std::vector<ProcessRecordEntry>& entries) {
    char prefix[16];
    std::string record = ownPrefix(prefix) ? prefix : "";
    for (const ProcessRecordEntry& e : entries) {
        char handle[24];
        fa9::formatText(handle, sizeof handle, "%llx",
                        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(e.handle)));
        record += std::string(handle) + "|" + e.path + "*";
    }
    SetEnvironmentVariableA(variable, entries.empty() ? nullptr : record.c_str());
}
