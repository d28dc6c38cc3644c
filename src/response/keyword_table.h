// The keyword table shared by the installers of the product family: which response-file
// keywords exist, how they may be written, and what their values must look like.
#pragma once

#include <cstdint>

struct KeywordRule {
    const char* name;              // as written, upper case
    const char* refusedPrograms;   // space-separated PROGNAME values that refuse it, or null
    uint32_t repeat;               // 1: every occurrence is kept; 0: the last one wins
    const char* valueRule;         // rule text, or null for any value
    const char* forbiddenValues;   // space-separated patterns the value must not match, or null
    uint32_t bareForm;             // non-zero: KEYWORD
    uint32_t defaultInstanceForm;  // non-zero: <DEFAULT_INSTANCE>.KEYWORD
    uint32_t adminServerForm;      // non-zero: <ADMIN_INSTANCE>.KEYWORD
    uint32_t controlServerForm;    // non-zero: <CTLSRV_INSTANCE>.KEYWORD
    uint32_t instanceForm;         // non-zero: <any INSTANCE>.KEYWORD
    const char* sectionKinds;      // words of NEW_NODE CONTACT DATABASE LEVEL whose names may prefix it
    uint32_t flags;                // kRuleFlagPassword; the other bits belong to other programs
    uint32_t programMask;          // kProgramThis: valid in this program
};

// Flags bit: the value is a password (may stand scrambled, see ENCRYPTED).
const uint32_t kRuleFlagPassword = 0x2;
// Program-mask bit of this program; rows without it take no part in look-ups.
const uint32_t kProgramThis = 0x2;

extern const KeywordRule KeywordTable[];
extern const int kKeywordTableSize;
