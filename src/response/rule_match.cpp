#include "response/rule_match.h"

#include "platform/bounded.h"
#include "platform/win32.h"
#include "platform/crt_locale.h"
#include "response/keyword_table.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One argument of a form: a quoted set (raw text between the quotes, '' undecoded) or a
// bare text up to the next comma or closing parenthesis.
struct Argument {
    const char* text = nullptr;
    size_t length = 0;
    bool quoted = false;
};

const int kMaxArguments = 4;

// One alternative of a rule.
struct Alternative {
    char form = 0;  // 'I', 'F', 'S', 'P', 'R', 'L', or 0 for a literal word
    const char* word = nullptr;
    size_t wordLength = 0;
    Argument args[kMaxArguments];
    int argCount = 0;
};

// Reads the alternative at `*p` (blanks already skipped). False: the rule is malformed.
bool readAlternative(const char*& p, Alternative& alt) {
    alt = Alternative();
    if (std::strchr("IFSPRL", *p) && p[1] == '(') {
        alt.form = *p;
        p += 2;
        for (;;) {
            while (isBlank(*p)) ++p;
            Argument arg;
            if (*p == '\'') {
                arg.quoted = true;
                arg.text = ++p;
                for (;;) {
                    if (*p == '\0') return false;  // no closing quote
                    if (*p == '\'' && p[1] == '\'') {
                        p += 2;
                        continue;
                    }
                    if (*p == '\'') break;
                    ++p;
                }
                arg.length = static_cast<size_t>(p - arg.text);
                ++p;
                while (isBlank(*p)) ++p;
            } else {
                arg.text = p;
                while (*p && *p != ',' && *p != ')' && !isBlank(*p)) ++p;
                arg.length = static_cast<size_t>(p - arg.text);
                while (isBlank(*p)) ++p;
            }
            if (*p != ',' && *p != ')') return false;  // no closing parenthesis
            bool empty = !arg.quoted && arg.length == 0;
            if (!(empty && *p == ')' && alt.argCount == 0)) {
                if (alt.argCount == kMaxArguments || empty) return false;
                alt.args[alt.argCount++] = arg;
            }
            if (*p++ == ')') break;
        }
        // Something glued to the closing parenthesis is no alternative we know.
        return *p == '\0' || isBlank(*p);
    }
    alt.word = p;
    while (*p && !isBlank(*p)) ++p;
    alt.wordLength = static_cast<size_t>(p - alt.word);
    return true;
}

bool parseInteger(const char* text, size_t length, long long& out) {
    if (length == 0 || length > 40) return false;
    char buffer[48];
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    const char* s = buffer;
    if (*s == '+' || *s == '-') ++s;
    if (!isDigit(*s)) return false;
    for (const char* q = s; *q; ++q)
        if (!isDigit(*q)) return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoll(buffer, &end, 10);
    return errno == 0 && end && *end == '\0';
}

// A decimal number: sign, digits, fraction, exponent; no hexadecimal, infinity or NaN.
bool parseNumber(const char* text, size_t length, double& out) {
    if (length == 0 || length > 300) return false;
    char buffer[320];
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    const char* s = buffer;
    if (*s == '+' || *s == '-') ++s;
    int digits = 0;
    while (isDigit(*s)) ++s, ++digits;
    if (*s == '.') {
        ++s;
        while (isDigit(*s)) ++s, ++digits;
    }
    if (digits == 0) return false;
    if (*s == 'e' || *s == 'E') {
        ++s;
        if (*s == '+' || *s == '-') ++s;
        if (!isDigit(*s)) return false;
        while (isDigit(*s)) ++s;
    }
    if (*s != '\0') return false;
    // The runtime's decimal point follows its locale; the file's is always a point.
    ScopedCrtLocale classic("C");
    out = std::strtod(buffer, nullptr);
    return true;
}

bool parseCount(const Argument& arg, long long& out) {
    return !arg.quoted && parseInteger(arg.text, arg.length, out) && out >= 0;
}

// The forms' arguments, checked once so that a malformed rule is known before matching.
bool wellFormed(const Alternative& alt) {
    long long a = 0, b = 0;
    double x = 0, y = 0;
    switch (alt.form) {
    case 0: return true;
    case 'I':
        return alt.argCount == 2 && !alt.args[0].quoted && !alt.args[1].quoted &&
               parseInteger(alt.args[0].text, alt.args[0].length, a) &&
               parseInteger(alt.args[1].text, alt.args[1].length, b);
    case 'F':
        return alt.argCount == 2 && !alt.args[0].quoted && !alt.args[1].quoted &&
               parseNumber(alt.args[0].text, alt.args[0].length, x) &&
               parseNumber(alt.args[1].text, alt.args[1].length, y);
    case 'S':
        if (alt.argCount < 1 || !parseCount(alt.args[0], a)) return false;
        if (alt.argCount >= 2 && !parseCount(alt.args[1], b)) return false;
        return (alt.argCount < 3 || alt.args[2].quoted) && (alt.argCount < 4 || alt.args[3].quoted);
    case 'P': return alt.argCount == 0;
    case 'R':
        return alt.argCount == 3 && !alt.args[0].quoted && !alt.args[1].quoted &&
               parseInteger(alt.args[0].text, alt.args[0].length, a) &&
               parseInteger(alt.args[1].text, alt.args[1].length, b) && alt.args[2].quoted &&
               alt.args[2].length >= 1;
    case 'L':
        return alt.argCount == 3 && parseCount(alt.args[0], a) && parseCount(alt.args[1], b) &&
               alt.args[2].quoted && alt.args[2].length >= 1;
    }
    return false;
}

// The separator of R and L: the set's first character ('' counts as one apostrophe).
char separatorOf(const Argument& arg) { return arg.text[0]; }

bool inSet(char c, const Argument& set) {
    const char* p = set.text;
    const char* end = set.text + set.length;
    bool negated = p < end && *p == '!';
    if (negated) ++p;
    bool found = false;
    while (p < end) {
        char member = *p;
        p += (*p == '\'' && p + 1 < end && p[1] == '\'') ? 2 : 1;
        if (member == c) {
            found = true;
            break;
        }
    }
    return negated ? !found : found;
}

bool matchInteger(const char* value, long long min, long long max) {
    long long v = 0;
    return parseInteger(value, std::strlen(value), v) && v >= min && v <= max;
}

bool matchString(const char* value, const Alternative& alt) {
    long long min = 0, max = 0;
    parseCount(alt.args[0], min);
    bool bounded = alt.argCount >= 2 && parseCount(alt.args[1], max);
    size_t length = std::strlen(value);
    if (static_cast<long long>(length) < min || (bounded && static_cast<long long>(length) > max)) return false;
    if (alt.argCount < 3 || length == 0) return true;
    const Argument& set = alt.args[2];
    const Argument& first = alt.argCount >= 4 ? alt.args[3] : alt.args[2];
    if (!inSet(value[0], first)) return false;
    for (size_t i = 1; i < length; ++i)
        if (!inSet(value[i], set)) return false;
    return true;
}

bool matchRange(const char* value, const Alternative& alt) {
    long long min = 0, max = 0;
    parseInteger(alt.args[0].text, alt.args[0].length, min);
    parseInteger(alt.args[1].text, alt.args[1].length, max);
    char sep = separatorOf(alt.args[2]);
    long long previous = 0;
    bool any = false;
    const char* p = value;
    for (;;) {
        const char* end = std::strchr(p, sep);
        size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
        long long v = 0;
        if (!parseInteger(p, n, v) || v < min || v > max || (any && v < previous)) return false;
        previous = v;
        any = true;
        if (!end) return true;
        p = end + 1;
    }
}

bool matchList(const char* value, const Alternative& alt) {
    long long min = 0, max = 0;
    parseCount(alt.args[0], min);
    parseCount(alt.args[1], max);
    char sep = separatorOf(alt.args[2]);
    long long items = 0;
    const char* p = value;
    for (;;) {
        const char* end = std::strchr(p, sep);
        size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (n == 0) return false;
        ++items;
        if (!end) break;
        p = end + 1;
    }
    return items >= min && items <= max;
}

// Whether a file can be opened for reading: the response file's folder anchors
// relative names.
bool matchPath(const char* value, const char* responseFile) {
    size_t n = std::strlen(value);
    if (n == 0) return false;
    bool drive = n >= 2 && isLetter(value[0]) && value[1] == ':';
    if (drive && value[2] != '\\') return false;
    bool absolute = drive || (value[0] == '\\' && value[1] == '\\');
    size_t folder = 0;
    if (!absolute && responseFile) {
        for (size_t i = 0; responseFile[i]; ++i)
            if (responseFile[i] == '\\' || responseFile[i] == '/') folder = i + 1;
    }
    size_t size = folder + n + 1;
    char* path = new (std::nothrow) char[size];
    if (!path) return false;
    if (folder) std::memcpy(path, responseFile, folder);
    std::memcpy(path + folder, value, n + 1);
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    delete[] path;
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool matchWord(const char* value, const char* word, size_t wordLength) {
    size_t i = 0, j = 0;
    size_t valueLength = std::strlen(value);
    while (j < wordLength) {
        if (word[j] == '*') {
            if (j + 1 < wordLength && word[j + 1] == '*') {
                if (i >= valueLength || value[i] != '*') return false;
                ++i;
                j += 2;
                continue;
            }
            ++j;
            if (j == wordLength) return true;
            // The run ends at the first occurrence of the word's next character.
            char next = upper(word[j]);
            while (i < valueLength && upper(value[i]) != next) ++i;
            if (i == valueLength) return false;
            continue;
        }
        if (i >= valueLength || upper(value[i]) != upper(word[j])) return false;
        ++i;
        ++j;
    }
    return i == valueLength;
}

bool matchAlternative(const char* value, const Alternative& alt, const char* responseFile) {
    switch (alt.form) {
    case 0: return matchWord(value, alt.word, alt.wordLength);
    case 'I': {
        long long min = 0, max = 0;
        parseInteger(alt.args[0].text, alt.args[0].length, min);
        parseInteger(alt.args[1].text, alt.args[1].length, max);
        return matchInteger(value, min, max);
    }
    case 'F': {
        double min = 0, max = 0, v = 0;
        parseNumber(alt.args[0].text, alt.args[0].length, min);
        parseNumber(alt.args[1].text, alt.args[1].length, max);
        return parseNumber(value, std::strlen(value), v) && v >= min && v <= max;
    }
    case 'S': return matchString(value, alt);
    case 'P': return matchPath(value, responseFile);
    case 'R': return matchRange(value, alt);
    case 'L': return matchList(value, alt);
    }
    return false;
}

bool forbiddenChar(char c) { return std::strchr("<>\"|?*", c) != nullptr; }

bool checkOptions(const char* value) {
    const char* p = value;
    bool any = false;
    while (*p) {
        while (isBlank(*p)) ++p;
        if (!*p) break;
        if ((*p != '-' && *p != '+') || !isLetter(p[1])) return false;
        p += 2;
        while (*p && !isBlank(*p)) ++p;
        any = true;
    }
    return any;
}

bool checkDrive(const char* value) {
    return isLetter(value[0]) && value[1] == ':' && (value[2] == '\0' || (value[2] == '\\' && value[3] == '\0'));
}

bool checkPathCharacters(const char* value, size_t from) {
    for (size_t i = from; value[i]; ++i)
        if (forbiddenChar(value[i]) || value[i] == ':') return false;
    return true;
}

bool checkFolderPath(const char* value) {
    if (isLetter(value[0]) && value[1] == ':' && value[2] == '\\') return checkPathCharacters(value, 2);
    if (value[0] == '\\' && value[1] == '\\' && value[2] && value[2] != '\\') return checkPathCharacters(value, 2);
    return false;
}

bool checkFileName(const char* value) {
    size_t n = std::strlen(value);
    if (n == 0 || value[n - 1] == '\\') return false;
    size_t from = (isLetter(value[0]) && value[1] == ':') ? 2 : 0;
    return checkPathCharacters(value, from);
}

// -1 when the rule does not parse, else whether the value matches.
int matchRule(const char* value, const char* rule, const char* responseFile) {
    if (!value) value = "";
    Alternative alt;
    for (const char* p = rule;;) {
        while (isBlank(*p)) ++p;
        if (!*p) break;
        if (!readAlternative(p, alt) || !wellFormed(alt)) return -1;
    }
    for (const char* p = rule;;) {
        while (isBlank(*p)) ++p;
        if (!*p) break;
        readAlternative(p, alt);
        if (matchAlternative(value, alt, responseFile)) return 1;
    }
    return 0;
}

}  // namespace

bool ureMatchRule(const char* value, const char* rule, const char* responseFile) {
    // A broken rule accepts everything.
    return !rule || matchRule(value, rule, responseFile) != 0;
}

bool ureRuleIsWellFormed(const char* rule) { return !rule || matchRule("", rule, nullptr) != -1; }

bool ureCheckServerKeyword(const char* name, const char* value) {
    if (!name || !value) return true;
    if (std::strcmp(name, "FA9OPTIONS") == 0) return checkOptions(value);
    if (std::strcmp(name, "DFTDBPATH") == 0) return checkDrive(value);
    if (std::strcmp(name, "DIAGPATH") == 0) return checkFolderPath(value);
    if (std::strcmp(name, "FA9LOADREC") == 0) return checkFileName(value);
    return true;
}

int ureCheckKeywordValue(int ruleIndex, const char* value, const char* responseFile) {
    if (ruleIndex < 0 || ruleIndex >= kKeywordTableSize) return kEntryUnknown;
    if (!value || !*value) return kEntryValid;
    const KeywordRule& row = KeywordTable[ruleIndex];
    if (row.valueRule && !ureMatchRule(value, row.valueRule, responseFile)) return kEntryBadValue;
    if (row.forbiddenValues) {
        // The patterns are matched as a rule; a list that does not parse forbids nothing.
        if (matchRule(value, row.forbiddenValues, responseFile) == 1) return kEntryBadValue;
    }
    if (!ureCheckServerKeyword(row.name, value)) return kEntryBadValue;
    return kEntryValid;
}
