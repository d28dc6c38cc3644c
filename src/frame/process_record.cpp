#include "frame/process_record.h"

#include "frame/bounded.h"

#include <cstdint>
#include <cstring>

namespace {

const DWORD kRecordCapacity = 4096;

}  // namespace

// The record: "<handle in hex>|<path>" entries, each ended by '*' (no path holds one).
std::vector<ProcessRecordEntry> iReadProcessRecord(const char* variable) {
    std::vector<ProcessRecordEntry> entries;
    char record[kRecordCapacity] = {};
    const DWORD n = GetEnvironmentVariableA(variable, record, sizeof record);
    if (n == 0 || n >= sizeof record) return entries;
    for (char* entry = record; *entry;) {
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
    std::string record;
    for (const ProcessRecordEntry& e : entries) {
        char handle[24];
        fa9::formatText(handle, sizeof handle, "%llx",
                        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(e.handle)));
        record += std::string(handle) + "|" + e.path + "*";
    }
    SetEnvironmentVariableA(variable, record.empty() ? nullptr : record.c_str());
}
