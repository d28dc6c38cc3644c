// Script actions read message texts from a string library's bytes taken out of the
// package, which someone may have shaped: whatever the bytes, the reader ends, reads
// nothing outside them, and a text comes back whole (never longer than the bytes could
// hold) or not at all.
#include "frame/string_resource.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The seeds' numbers (tests/data/frame_de.rc), their blocks' first and last entries,
    // and numbers in blocks they lack.
    static const uint32_t kIds[] = {2003, 2006, 2000, 2015, 0, 1, 6031, 65535, 0x10000 + 2003};
    for (uint32_t id : kIds) {
        std::u16string text = u"old";
        const bool found = iFindStringResource(data, size, id, text);
        if (found == text.empty() || text.size() > size / 2) __builtin_trap();
    }
    return 0;
}
