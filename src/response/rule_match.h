// Value rules of the keyword table and the value check of one response-file entry.
//
// A rule is a list of alternatives separated by blanks; a value matches the rule when it
// matches one alternative. Blanks inside a quoted set do not separate.
//   I(min,max)     the whole value is a decimal integer (optional sign), min <= v <= max
//   F(min,max)     the whole value is a decimal number (optional sign, fraction and
//                  exponent), min <= v <= max
//   S(min[,max[,'set'[,'first']]])
//                  length in characters between min and max (no max: no limit); with a
//                  set, every character after the first belongs to it, the first to
//                  `first` when given, else to the set. A set beginning with ! lists the
//                  characters not allowed. '' inside a set stands for one apostrophe.
//   P()            the value names a file that can be opened for reading: "X:\..." and
//                  "\\..." as they stand, "X:" without a backslash never, anything else
//                  relative to the folder of the response file.
//   R(min,max,'c') one or more integers between min and max joined by the character c,
//                  each not below the one before it (a port range "60000:60003", an
//                  ordered list).
//   L(min,max,'c') between min and max items joined by the character c, none empty.
//   a word         the whole value equals it, case ignored; * stands for any run of
//                  characters up to the first occurrence of what follows it in the word
//                  (so *$ is a value whose first dollar sign is its last character), and
//                  ** for one literal asterisk. BLANK and NULL are such words.
// A rule that cannot be parsed (a form without its numbers, a missing parenthesis or
// quote, a set argument that is no quoted text) accepts every value: a broken table row
// must not make every installation fail.
// The match runs in the "C" locale, so characters are bytes and case is ASCII case.
#pragma once

// Entry status values of the check.
const int kEntryValid = 0;
const int kEntryUnknown = 1;
const int kEntryBadValue = 2;

// True when `value` matches `rule`. `responseFile` (may be null) anchors relative P()
// paths.
bool ureMatchRule(const char* value, const char* rule, const char* responseFile);

// Whether `rule` parses (a rule that does not accepts every value).
bool ureRuleIsWellFormed(const char* rule);

// The value check of one entry whose keyword matched table row `ruleIndex`: 0 valid,
// 1 unknown (index outside the table), 2 bad value.
int ureCheckKeywordValue(int ruleIndex, const char* value, const char* responseFile);

// The further checks of the server keywords FA9OPTIONS, DFTDBPATH, DIAGPATH and
// FA9LOADREC (true for every other keyword):
//   FA9OPTIONS  option words separated by blanks, each a minus or plus sign and a letter,
//               optionally followed by the option's argument ("-t -z30 +s");
//   DFTDBPATH   a drive: a letter and a colon, optionally a backslash ("D:", "D:\");
//   DIAGPATH    a full folder path: "X:\..." or "\\server\share...", no : after the
//               drive and none of < > " | ? *;
//   FA9LOADREC  a file name or path: none of < > " | ? *, a colon only as the drive's,
//               not ending in a backslash.
bool ureCheckServerKeyword(const char* name, const char* value);
