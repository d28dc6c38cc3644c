// The values handed to a script action arrive as one text: whatever it holds, a look-up
// stays inside it, and whatever names and values went in come back out unchanged.
#include "session/action_data.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // The whole input as data, looked up by the name its first line gives.
    size_t line = 0;
    while (line < size && text[line] != '\n') ++line;
    const std::string lookup(text, line);
    std::string value;
    const ActionEntry found = line < size ? iFindActionEntry(text + line + 1, size - line - 1, lookup.c_str(), value)
                                          : iFindActionEntry(text, size, lookup.c_str(), value);
    if (found != ActionEntry::Found && found != ActionEntry::Absent && found != ActionEntry::Malformed)
        __builtin_trap();

    // The input split at NUL bytes into names and values: encoded, each name's first
    // value comes back.
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i)
        if (i == size || text[i] == '\0') {
            parts.push_back(std::string(text + start, i - start));
            start = i + 1;
        }
    std::string encoded;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) iAppendActionEntry(encoded, parts[i].c_str(), parts[i + 1].c_str());
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        size_t first = i;
        for (size_t j = 0; j < i; j += 2)
            if (parts[j] == parts[i]) {
                first = j;
                break;
            }
        std::string back;
        if (iFindActionEntry(encoded.data(), encoded.size(), parts[i].c_str(), back) != ActionEntry::Found ||
            back != parts[first + 1])
            __builtin_trap();
    }
    return 0;
}
