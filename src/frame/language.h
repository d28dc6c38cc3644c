// The language table: Windows language identifiers to the locale names that name the
// string libraries' folders.
#pragma once

#include "platform/win32.h"

#include <cstdint>

struct LanguageInfo {
    uint32_t countryCode;
    uint32_t primaryLanguage;  // low 10 bits of a language identifier
    uint32_t subLanguage;      // high 6 bits; 0 and 3 match any sub-language
    char territory[3];
    char codePage[5];  // the system's ANSI code page as decimal text once looked up
    char locale[6];
    uint32_t number;
};

const int kLanguageCount = 29;
extern const LanguageInfo kLanguageTable[kLanguageCount];

// 0 and the matching entry (code page replaced by the system's), or 5005.
int liteGetLanguageInfo(LANGID id, LanguageInfo* out);
// The same for the system's default language.
int liteGetSystemLanguageInfo(LanguageInfo* out);
