/* What the harness's helper programs share: JSON strings in ASCII and a file test. */
#ifndef E2E_HELPERS_H
#define E2E_HELPERS_H

#include <windows.h>
#include <stdio.h>

/* A JSON string; everything outside printable ASCII is written as \uXXXX. */
static void put_json_string(FILE *out, const wchar_t *s) {
    fputc('"', out);
    for (; *s; ++s) {
        if (*s == L'"' || *s == L'\\') fprintf(out, "\\%c", (char)*s);
        else if (*s >= 0x20 && *s < 0x7F) fputc((char)*s, out);
        else fprintf(out, "\\u%04x", (unsigned)*s);
    }
    fputc('"', out);
}

static int file_exists(const wchar_t *path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

#endif
