// Message texts come from a resource library and tokens from the installation: the
// substitution must stay inside its buffer whatever either holds.
#include "frame/message_strings.h"
#include "frame/msg_token_holder.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // First byte: output capacity; then the text and up to 16 tokens, split at NUL bytes.
    size_t capacity = data[0];
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i)
        if (i == rest.size() || rest[i] == '\0') {
            parts.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    MsgTokenHolder tokens;
    for (size_t i = 1; i < parts.size(); ++i) tokens.addString(parts[i].c_str());
    std::vector<char> out(capacity ? capacity : 1, '#');
    int rc = ureSubstituteTokens(parts[0].c_str(), tokens, capacity ? out.data() : nullptr, capacity);
    if (capacity && std::memchr(out.data(), '\0', capacity) == nullptr) __builtin_trap();
    if (rc != 0 && rc != -1 && rc != 5006) __builtin_trap();
    return 0;
}
