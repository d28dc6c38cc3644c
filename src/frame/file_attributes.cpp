#include "frame/file_attributes.h"

#include "platform/bounded.h"

#include <cstring>

namespace {

const size_t kUniqueNameCapacity = 264;

// Fills the template's question marks from the right with the counter's digits;
// false when digits are left over.
bool fillTemplate(char* name, unsigned long counter) {
    for (size_t i = std::strlen(name); i-- > 0;) {
        if (name[i] != '?') continue;
        name[i] = static_cast<char>('0' + counter % 10);
        counter /= 10;
    }
    return counter == 0;
}

}  // namespace

DWORD iGetUnquotedFileAttributes(const char* path) {
    char bare[2 * MAX_PATH];
    const char* p = path ? path : "";
    size_t n = std::strlen(p);
    if (n && p[0] == '"') {
        ++p;
        --n;
    }
    if (n && p[n - 1] == '"') --n;
    if (n >= sizeof bare) return INVALID_FILE_ATTRIBUTES;
    std::memcpy(bare, p, n);
    bare[n] = '\0';
    return GetFileAttributesA(bare);
}

bool iIsUnquotedRegularFile(const char* path) {
    const DWORD attributes = iGetUnquotedFileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool iIsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

const char* GenerateUniqueName(const char* directory, const char* templ) {
    static char result[kUniqueNameCapacity];
    if (!templ) templ = "????????.???";
    char prefix[kUniqueNameCapacity] = "";
    if (directory && *directory) {
        fa9::copyText(prefix, sizeof prefix, directory);
        size_t n = std::strlen(prefix);
        if (n && prefix[n - 1] == '"') prefix[--n] = '\0';
        if (n == 0 || prefix[n - 1] != '\\') fa9::appendText(prefix, sizeof prefix, "\\");
    }
    const bool quoted = prefix[0] == '"';
    for (unsigned long counter = 0;; ++counter) {
        char name[kUniqueNameCapacity];
        fa9::copyText(name, sizeof name, templ);
        if (!fillTemplate(name, counter)) return nullptr;
        // A candidate that does not fit could never name the real file: stop rather than cut it.
        if (!fa9::formatText(result, sizeof result, quoted ? "%s%s\"" : "%s%s", prefix, name)) return nullptr;
        if (iGetUnquotedFileAttributes(result) == INVALID_FILE_ATTRIBUTES) return result;
    }
}
