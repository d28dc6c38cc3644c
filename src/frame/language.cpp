#include "frame/language.h"

#include "platform/bounded.h"

// Search order matters: the first entry that matches wins.
const LanguageInfo kLanguageTable[kLanguageCount] = {
    {785, 0x01, 1, "AR", "1256", "ar_AA", 3325},
    {1, 0x09, 1, "EN", "1252", "en_US", 3306},
    {359, 0x02, 1, "BG", "1251", "bg_BG", 3300},
    {385, 0x1A, 1, "HR", "1250", "hr_HR", 3326},
    {42, 0x05, 1, "CZ", "1250", "cs_CZ", 3303},
    {45, 0x06, 1, "DK", "1252", "da_DK", 3304},
    {32, 0x13, 1, "NL", "1252", "nl_NL", 3305},
    {49, 0x07, 1, "DE", "1252", "de_DE", 3309},
    {30, 0x08, 1, "EL", "1253", "el_GR", 3310},
    {34, 0x0A, 3, "ES", "1252", "es_ES", 3321},
    {358, 0x0B, 1, "FI", "1252", "fi_FI", 3307},
    {33, 0x0C, 1, "FR", "1252", "fr_FR", 3308},
    {36, 0x0E, 1, "HU", "1250", "hu_HU", 3312},
    {39, 0x10, 1, "IT", "1252", "it_IT", 3313},
    {972, 0x0D, 1, "IW", "1255", "iw_IL", 3311},
    {81, 0x11, 1, "JP", "932", "ja_JP", 3314},
    {82, 0x12, 1, "KR", "949", "ko_KR", 3315},
    {47, 0x14, 1, "NO", "1252", "no_NO", 3316},
    {48, 0x15, 1, "PL", "1250", "pl_PL", 3317},
    {55, 0x16, 1, "BR", "1252", "pt_BR", 3318},
    {351, 0x16, 2, "PT", "1252", "pt_PT", 3319},
    {40, 0x18, 1, "RO", "1250", "ro_RO", 3228},
    {7, 0x19, 1, "RU", "1251", "ru_RU", 3322},
    {421, 0x1B, 1, "SK", "1250", "sk_SK", 3327},
    {386, 0x24, 1, "SL", "1250", "sl_SI", 3320},
    {46, 0x1D, 1, "SE", "1252", "sv_SE", 3323},
    {86, 0x04, 2, "CN", "936", "zh_CN", 3301},
    {88, 0x04, 1, "TW", "950", "zh_TW", 3302},
    {90, 0x1F, 1, "TR", "1254", "tr_TR", 3324},
};

int liteGetLanguageInfo(LANGID id, LanguageInfo* out) {
    if (!out) return 5003;
    const uint32_t primary = id & 0x3FFu;
    const uint32_t sub = static_cast<uint32_t>(id) >> 10;
    for (const LanguageInfo& entry : kLanguageTable) {
        if (entry.primaryLanguage != primary) continue;
        if (entry.subLanguage != 0 && entry.subLanguage != sub && entry.subLanguage != 3) continue;
        *out = entry;
        // A code page of more than four digits does not fit; it is cut, as nothing reads it.
        fa9::formatText(out->codePage, sizeof out->codePage, "%u", GetACP());
        return 0;
    }
    return 5005;
}

int liteGetSystemLanguageInfo(LanguageInfo* out) { return liteGetLanguageInfo(GetSystemDefaultLangID(), out); }
