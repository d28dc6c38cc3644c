// Key paths get installation names put into them: no text, name or capacity may make
// the resolution write past its buffers or return an unterminated text.
#include "registry/fa9i_registry.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    size_t capacity = static_cast<size_t>(data[0]) * 8;
    bool withName = data[1] & 1;
    std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    size_t split = rest.find('\0');
    std::string text = rest.substr(0, split);
    std::string name = split == std::string::npos ? std::string() : rest.substr(split + 1);
    name = name.substr(0, name.find('\0'));
    std::vector<char> out(capacity ? capacity : 1, '#');
    const char* result = resolveInstallationName(text.c_str(), withName ? name.c_str() : nullptr, capacity,
                                                 capacity ? out.data() : nullptr);
    if (result && std::strlen(result) > 1023 && result != text.c_str()) __builtin_trap();
    if (result && capacity && result == out.data() && std::memchr(out.data(), '\0', capacity) == nullptr)
        __builtin_trap();
    return 0;
}
