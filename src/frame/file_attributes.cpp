#include "frame/file_attributes.h"

#include <cstring>

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
