#include "response/response_file.h"

#include "platform/bounded.h"
#include "platform/win32.h"
#include "platform/crt_locale.h"
#include "response/keyword_table.h"
#include "response/password_scramble.h"
#include "response/rule_match.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

const char* const kSectionKeywords[SECTION_KINDS] = {"NEW_NODE", "CONTACT", "DATABASE", "LEVEL"};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upperCopy(const char* text, size_t n) {
    std::string copy(text, n);
    for (char& c : copy) c = upper(c);
    return copy;
}

bool equalsNoCaseN(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// `keyword` is `prefix`, a point and `name`, case ignored.
bool isPrefixed(const char* keyword, size_t keywordLength, const char* prefix, const char* name, size_t nameLength) {
    size_t prefixLength = std::strlen(prefix);
    if (prefixLength == 0 || keywordLength != prefixLength + 1 + nameLength) return false;
    return keyword[prefixLength] == '.' && equalsNoCaseN(keyword, prefix, prefixLength) &&
           equalsNoCaseN(keyword + prefixLength + 1, name, nameLength);
}

// Whether `word` is one of the space-separated words of `list`, compared exactly.
bool hasWord(const char* list, const char* word, size_t wordLength) {
    if (!list) return false;
    for (const char* p = list; *p;) {
        while (*p == ' ') ++p;
        const char* start = p;
        while (*p && *p != ' ') ++p;
        if (static_cast<size_t>(p - start) == wordLength && wordLength && std::memcmp(start, word, wordLength) == 0)
            return true;
    }
    return false;
}

char* copyOf(const char* text, size_t length) {
    char* copy = new (std::nothrow) char[length + 1];
    if (!copy) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

// A name as the instance and section passes take it from a value: up to its first blank,
// cut to 80 characters.
size_t nameLength(const char* value, size_t length) {
    size_t n = 0;
    while (n < length && !isSpace(value[n])) ++n;
    return n;
}

// The environment variable PROGNAME, or null when it is not set or empty.
char* readProgName() {
    char small[256];
    DWORD n = GetEnvironmentVariableA("PROGNAME", small, sizeof small);
    if (n == 0) return nullptr;
    if (n < sizeof small) return copyOf(small, n);
    char* big = new (std::nothrow) char[n];
    if (!big) return nullptr;
    DWORD m = GetEnvironmentVariableA("PROGNAME", big, n);
    if (m == 0 || m >= n) {
        delete[] big;
        return nullptr;
    }
    return big;
}

// UTF-16 text (Notepad's "Unicode"): a byte-order mark of either order, or else a first
// character that is ASCII in two bytes, one of them zero, as every such file beginning
// with a keyword, a comment or a blank has. Code-page text never holds a zero byte.
bool isUtf16(const char* data, size_t length) {
    if (length < 2) return false;
    const unsigned char a = static_cast<unsigned char>(data[0]);
    const unsigned char b = static_cast<unsigned char>(data[1]);
    if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) return true;
    return (a != 0 && a < 0x80 && b == 0) || (a == 0 && b != 0 && b < 0x80);
}

}  // namespace

// The file's text, line by line: LF, CR LF and a lone CR (older editors' line end) each
// end a line, and a line stops at a NUL byte as a C string would.
struct ResponseFile::Text {
    const char* data;
    size_t length;

    struct Cursor {
        size_t at = 0;
    };
    bool next(Cursor& c, const char** line, size_t* lineLength) const {
        if (c.at >= length) return false;
        const char* start = data + c.at;
        const size_t left = length - c.at;
        size_t n = 0;
        while (n < left && start[n] != '\n' && start[n] != '\r') ++n;
        size_t end = n;
        if (end < left) end += (start[end] == '\r' && end + 1 < left && start[end + 1] == '\n') ? 2 : 1;
        c.at += end;
        const void* nul = std::memchr(start, '\0', n);
        if (nul) n = static_cast<size_t>(static_cast<const char*>(nul) - start);
        *line = start;
        *lineLength = n;
        return true;
    }
};

bool rspSplitLine(const char* line, size_t length, const char** keyword, size_t* keywordLength, const char** value,
                  size_t* valueLength) {
    const char* p = line;
    const char* end = line + length;
    while (p < end && isSpace(*p)) ++p;
    if (p == end || *p == '*' || *p == '#') return false;
    const char* start = p;
    const char* equals = nullptr;
    const char* stop = end;
    while (p < end) {
        size_t unit = static_cast<unsigned char>(*p) < 0x80 ? 1 : rspCharLength(p, end);
        if (unit == 1) {
            char c = *p;
            if ((c == '*' || c == '#') && p > start && p + 1 < end && p[1] == c) {
                stop = p;
                break;
            }
            if (c == '=' && !equals) equals = p;
        }
        p += unit;
    }
    const char* keyEnd = equals ? equals : stop;
    while (keyEnd > start && isSpace(keyEnd[-1])) --keyEnd;
    *keyword = start;
    *keywordLength = static_cast<size_t>(keyEnd - start);
    *value = nullptr;
    *valueLength = 0;
    if (equals) {
        const char* v = equals + 1;
        const char* vEnd = stop;
        while (v < vEnd && isSpace(*v)) ++v;
        while (vEnd > v && isSpace(vEnd[-1])) --vEnd;
        if (vEnd > v) {
            *value = v;
            *valueLength = static_cast<size_t>(vEnd - v);
        }
    }
    return true;
}

// ---------------------------------------------------------------- NameList

NameList::~NameList() {
    for (int i = 0; i < count_; ++i) delete[] items_[i];
    delete[] items_;
}

bool NameList::add(const char* text, size_t length, size_t maxLength) {
    if (maxLength && length > maxLength) length = maxLength;
    if (count_ == capacity_) {
        char** grown = new (std::nothrow) char*[static_cast<size_t>(capacity_ + growth_)];
        if (!grown) return false;
        for (int i = 0; i < count_; ++i) grown[i] = items_[i];
        delete[] items_;
        items_ = grown;
        capacity_ += growth_;
    }
    char* copy = copyOf(text, length);
    if (!copy) return false;
    items_[count_++] = copy;
    return true;
}

bool NameList::contains(const char* name) const {
    for (int i = 0; i < count_; ++i)
        if (fa9::equalsNoCase(items_[i], name)) return true;
    return false;
}

// ---------------------------------------------------------------- ResponseFileEntry

ResponseFileEntry::~ResponseFileEntry() {
    delete[] keyword_;
    delete[] value_;
}

bool ResponseFileEntry::setKeyword(const char* text, size_t length) {
    char* copy = copyOf(text, length);
    if (!copy) return false;
    delete[] keyword_;
    keyword_ = copy;
    return true;
}

bool ResponseFileEntry::setValue(const char* text, size_t length) {
    char* copy = nullptr;
    if (text && length) {
        copy = copyOf(text, length);
        if (!copy) return false;
    }
    delete[] value_;
    value_ = copy;
    return true;
}

const char* ResponseFileEntry::readValue() const {
    if (status_ == 0 && value_ && fa9::equalsNoCase(value_, "BLANK")) return "";
    return value_;
}

bool ResponseFileEntry::isSecret() const {
    if (ruleIndex_ >= 0 && ruleIndex_ < kKeywordTableSize && (KeywordTable[ruleIndex_].flags & kRuleFlagPassword))
        return true;
    return fa9::equalsNoCase(keyword(), "PASSWORD") || (owner_ && owner_->encrypted().contains(keyword()));
}

// ---------------------------------------------------------------- ResponseFile

ResponseFile::ResponseFile() = default;

ResponseFile::~ResponseFile() {
    freeEntries();
    delete[] progName_;
}

void ResponseFile::freeEntries() {
    for (int i = 0; i < count_; ++i) delete entries_[i];
    delete[] entries_;
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
    holes_ = 0;
    lastOf_.clear();
}

int ResponseFile::find(const char* keyword, int from) const {
    if (!keyword) return -1;
    const char first = upper(keyword[0]);
    for (int i = from < 0 ? 0 : from; i < count_; ++i) {
        const char* k = entries_[i]->keyword();
        if (upper(k[0]) == first && fa9::equalsNoCase(k, keyword)) return i;
    }
    return -1;
}

ResponseFileEntry* ResponseFile::findEntry(const char* keyword) const {
    if (!checked_.empty()) {
        auto it = checked_.find(upperCopy(keyword, std::strlen(keyword)));
        if (it != checked_.end()) return entry(it->second);
    }
    return entry(find(keyword));
}

void ResponseFile::build(const char* path) {
    if (!path) {
        status_ = RSP_FILE_NOT_OPENED;
        return;
    }
    fa9::copyText(fileName_, sizeof fileName_, path);
    HANDLE file =
        CreateFileA(fileName_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        status_ = RSP_FILE_NOT_OPENED;
        return;
    }
    // The whole file at once: every pass reads it from the start.
    char* data = nullptr;
    size_t length = 0, capacity = 0;
    bool failed = false;
    for (;;) {
        if (capacity - length < 65536) {
            size_t grown = capacity + 262144;
            char* bigger = static_cast<char*>(std::realloc(data, grown));
            if (!bigger) {
                status_ = RSP_FILE_NO_MEMORY;
                failed = true;
                break;
            }
            data = bigger;
            capacity = grown;
        }
        DWORD got = 0;
        if (!ReadFile(file, data + length, static_cast<DWORD>(capacity - length), &got, nullptr)) {
            status_ = RSP_FILE_READ_ERROR;
            failed = true;
            break;
        }
        if (got == 0) break;
        length += got;
    }
    CloseHandle(file);
    if (!failed) {
        size_t skip = 0;
        if (isUtf16(data, length)) {
            status_ = RSP_FILE_UTF16;
        } else {
            // Editors that save UTF-8 put a byte-order mark first; the text after it is read as usual.
            if (length >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) skip = 3;
            // Text-mode reading ends the file at a Ctrl+Z.
            const void* eof = length > skip ? std::memchr(data + skip, 0x1A, length - skip) : nullptr;
            if (eof) length = static_cast<size_t>(static_cast<const char*>(eof) - data);
            parse(fileName_, data + skip, length - skip);
        }
    }
    std::free(data);
}

void ResponseFile::parse(const char* fileName, const char* data, size_t length) {
    if (fileName != fileName_) fa9::copyText(fileName_, sizeof fileName_, fileName);
    delete[] progName_;
    progName_ = readProgName();
    Text text{data ? data : "", data ? length : 0};
    namePass(text);
    if (status_ != RSP_FILE_OK) return;
    mainPass(text);
    if (status_ == RSP_FILE_NO_MEMORY) return;
    if (errorCount_ > 0) status_ = RSP_FILE_INVALID;
    crossChecks();
}

void ResponseFile::namePass(const Text& text) {
    Text::Cursor c;
    const char* line;
    size_t n;
    while (text.next(c, &line, &n)) {
        encryptedLine(line, n);
        const char *keyword, *value;
        size_t keywordLength, valueLength;
        if (!rspSplitLine(line, n, &keyword, &keywordLength, &value, &valueLength) || !value) continue;
        instanceLine(keyword, keywordLength, value, valueLength);
        for (int kind = 0; kind < SECTION_KINDS; ++kind)
            sectionLine(static_cast<SectionKind>(kind), keyword, keywordLength, value, valueLength);
    }
}

void ResponseFile::encryptedLine(const char* line, size_t n) {
    static const char kMarker[] = "ENCRYPTED";
    const size_t markerLength = sizeof kMarker - 1;
    size_t i = 0;
    while (i < n && isBlank(line[i])) ++i;
    if (n - i < markerLength || std::memcmp(line + i, kMarker, markerLength) != 0) return;
    i += markerLength;
    while (i < n && isBlank(line[i])) ++i;
    if (i == n || line[i] != '=') return;
    ++i;
    while (i < n && isBlank(line[i])) ++i;
    size_t start = i;
    while (i < n && !isSpace(line[i]) && line[i] != '#' && line[i] != '*') ++i;
    if (i > start && !encrypted_.add(line + start, i - start, 0)) status_ = RSP_FILE_NO_MEMORY;
}

void ResponseFile::instanceLine(const char* keyword, size_t keywordLength, const char* value, size_t valueLength) {
    size_t nameLen = nameLength(value, valueLength);
    if (nameLen == 0) return;
    if (nameLen > kNameLength) nameLen = kNameLength;
    char* single = nullptr;
    if (keywordLength == 8 && equalsNoCaseN(keyword, "INSTANCE", 8)) {
        if (!instances_.add(value, nameLen, kNameLength)) status_ = RSP_FILE_NO_MEMORY;
        return;
    }
    if (keywordLength == 16 && equalsNoCaseN(keyword, "DEFAULT_INSTANCE", 16)) single = defaultInstance_;
    if (keywordLength == 15 && equalsNoCaseN(keyword, "CTLSRV_INSTANCE", 15)) single = controlServerInstance_;
    if (keywordLength == 14 && equalsNoCaseN(keyword, "ADMIN_INSTANCE", 14)) single = adminServerInstance_;
    if (!single) return;
    std::memcpy(single, value, nameLen);
    single[nameLen] = '\0';
}

void ResponseFile::sectionLine(SectionKind kind, const char* keyword, size_t keywordLength, const char* value,
                               size_t valueLength) {
    const char* name = kSectionKeywords[kind];
    size_t nameLen = std::strlen(name);
    if (keywordLength != nameLen || !equalsNoCaseN(keyword, name, nameLen)) return;
    size_t len = nameLength(value, valueLength);
    if (len && !sections_[kind].add(value, len, kNameLength)) status_ = RSP_FILE_NO_MEMORY;
}

namespace {

// Upper-cased names of the keyword table's rows valid in this program -> their indexes in
// table order: a keyword is tried only against the rows named like it or like a part
// after one of its points.
const std::unordered_map<std::string, std::vector<int>>& rowsByName() {
    static const std::unordered_map<std::string, std::vector<int>> index = [] {
        std::unordered_map<std::string, std::vector<int>> rows;
        for (int i = 0; i < kKeywordTableSize; ++i)
            if (KeywordTable[i].programMask & kProgramThis)
                rows[upperCopy(KeywordTable[i].name, std::strlen(KeywordTable[i].name))].push_back(i);
        return rows;
    }();
    return index;
}

}  // namespace

int ResponseFile::lookUpKeyword(const char* keyword) const {
    size_t length = std::strlen(keyword);
    const auto& rows = rowsByName();
    // The rows named like the whole keyword (bare form) or like the part after a point.
    int first = -1;
    auto consider = [&](const char* name, size_t nameLength) {
        auto it = rows.find(upperCopy(name, nameLength));
        if (it == rows.end()) return;
        for (int i : it->second) {
            if (first >= 0 && i >= first) break;
            if (rowAccepts(i, keyword, length)) first = i;
        }
    };
    consider(keyword, length);
    for (size_t dot = 0; dot + 1 < length; ++dot)
        if (keyword[dot] == '.' && dot > 0) consider(keyword + dot + 1, length - dot - 1);
    return first;
}

bool ResponseFile::rowAccepts(int index, const char* keyword, size_t length) const {
    const KeywordRule& row = KeywordTable[index];
    size_t nameLen = std::strlen(row.name);
    if (row.bareForm && length == nameLen && equalsNoCaseN(keyword, row.name, nameLen)) return true;
    // Every other form is a name, a point and the row's name.
    if (length <= nameLen + 1 || !equalsNoCaseN(keyword + length - nameLen, row.name, nameLen) ||
        keyword[length - nameLen - 1] != '.')
        return false;
    if (row.defaultInstanceForm && isPrefixed(keyword, length, defaultInstance_, row.name, nameLen)) return true;
    if (row.adminServerForm && isPrefixed(keyword, length, adminServerInstance_, row.name, nameLen)) return true;
    if (row.controlServerForm && isPrefixed(keyword, length, controlServerInstance_, row.name, nameLen)) return true;
    if (row.instanceForm)
        for (int k = 0; k < instances_.count(); ++k)
            if (isPrefixed(keyword, length, instances_.get(k), row.name, nameLen)) return true;
    for (int kind = 0; kind < SECTION_KINDS; ++kind) {
        if (!hasWord(row.sectionKinds, kSectionKeywords[kind], std::strlen(kSectionKeywords[kind]))) continue;
        for (int k = 0; k < sections_[kind].count(); ++k)
            if (isPrefixed(keyword, length, sections_[kind].get(k), row.name, nameLen)) return true;
    }
    return false;
}

void ResponseFile::check(ResponseFileEntry& entry) {
    int index = lookUpKeyword(entry.keyword());
    if (index >= 0 && progName_ &&
        hasWord(KeywordTable[index].refusedPrograms, progName_, std::strlen(progName_)))
        index = -1;
    entry.setRuleIndex(index);
    if (index < 0) {
        entry.setStatus(kEntryUnknown);
        return;
    }
    entry.setStatus(ureCheckKeywordValue(index, entry.value(), fileName_));
    const char* value = entry.value();
    if (entry.status() == kEntryValid && value && (KeywordTable[index].flags & kRuleFlagPassword) &&
        encrypted_.contains(entry.keyword())) {
        // The scrambled form was judged as it stands; what is kept is the password.
        size_t capacity = std::strlen(value) + 1;
        char* plain = new (std::nothrow) char[capacity];
        if (!plain) {
            status_ = RSP_FILE_NO_MEMORY;
            return;
        }
        bool ok = rspUnscramble(value, plain, capacity);
        if (ok && !entry.setValue(plain, std::strlen(plain))) status_ = RSP_FILE_NO_MEMORY;
        delete[] plain;
        if (!ok) entry.setStatus(kEntryBadValue);
    }
}

void ResponseFile::mainPass(const Text& text) {
    Text::Cursor c;
    const char* line;
    size_t n;
    int lineNumber = 0;
    while (text.next(c, &line, &n)) {
        ++lineNumber;
        const char *keyword, *value;
        size_t keywordLength, valueLength;
        if (!rspSplitLine(line, n, &keyword, &keywordLength, &value, &valueLength)) continue;
        ResponseFileEntry* entry = new (std::nothrow) ResponseFileEntry(this, lineNumber);
        const bool stored =
            entry && entry->setKeyword(keyword, keywordLength) && entry->setValue(value, valueLength);
        if (stored) check(*entry);
        if (!stored || status_ == RSP_FILE_NO_MEMORY) {
            delete entry;
            status_ = RSP_FILE_NO_MEMORY;
            freeEntries();
            return;
        }
        if (!keepEntry(entry)) return;  // out of memory: it has freed everything
    }
    compact();
}

bool ResponseFile::keep(ResponseFileEntry* entry) {
    const bool kept = keepEntry(entry);
    compact();
    return kept;
}

bool ResponseFile::keepEntry(ResponseFileEntry* entry) {
    if (entry->status() == kEntryValid && !entry->value()) {
        delete entry;
        return true;
    }
    if (count_ == capacity_) {
        // Grown by half again (at least one step of 500): a long file costs a few copies
        // of the array, not one per step.
        const int growth = capacity_ / 2 > kEntryGrowth ? capacity_ / 2 : kEntryGrowth;
        ResponseFileEntry** grown = new (std::nothrow) ResponseFileEntry*[static_cast<size_t>(capacity_ + growth)];
        if (!grown) {
            delete entry;
            freeEntries();
            status_ = RSP_FILE_NO_MEMORY;
            return false;
        }
        for (int i = 0; i < count_; ++i) grown[i] = entries_[i];
        delete[] entries_;
        entries_ = grown;
        capacity_ += growth;
    }
    entries_[count_++] = entry;
    if (entry->status() != kEntryValid) ++errorCount_;
    int rule = entry->ruleIndex();
    if (rule >= 0 && KeywordTable[rule].repeat) return true;
    // The last line of a keyword wins. All lines of one keyword share its rule, so at most
    // one earlier entry can be there: the one kept last.
    auto placed = lastOf_.emplace(upperCopy(entry->keyword(), std::strlen(entry->keyword())), count_ - 1);
    if (!placed.second) {
        drop(placed.first->second);
        placed.first->second = count_ - 1;
    }
    return true;
}

void ResponseFile::drop(int index) {
    if (entries_[index]->status() != kEntryValid) --errorCount_;
    delete entries_[index];
    entries_[index] = nullptr;
    ++holes_;
}

// Closes the places of removed entries; the later entries move down, in order.
void ResponseFile::compact() {
    if (holes_ == 0) return;
    std::vector<int> moved(static_cast<size_t>(count_), -1);
    int kept = 0;
    for (int i = 0; i < count_; ++i) {
        if (!entries_[i]) continue;
        moved[static_cast<size_t>(i)] = kept;
        entries_[kept++] = entries_[i];
    }
    count_ = kept;
    holes_ = 0;
    for (auto& last : lastOf_) last.second = moved[static_cast<size_t>(last.second)];
}

void ResponseFile::mark(ResponseFileEntry* entry) {
    status_ = RSP_FILE_INVALID;
    if (entry && entry->status() == kEntryValid) entry->setStatus(kEntryBadValue);
}

void ResponseFile::crossChecks() {
    // The first entry of each keyword the checks read, found in one walk over the entries
    // rather than one walk a keyword.
    static const char* const kAgentSettings[] = {"MAXAGENTS",   "MAX_COORDAGENTS", "NUM_INITAGENTS",  "NUM_POOLAGENTS",
                                                 "MAXCAGENTS",  "MAXDARI",         "MAX_LOGICAGENTS", "FCM_NUM_CONNECT",
                                                 "FCM_NUM_RQB", "FCM_NUM_ANCHORS"};
    checked_.clear();
    checked_.emplace("FA9.DIR_OBJ_NAME", -1);
    checked_.emplace("FA9.DIR_PATH_NAME", -1);
    checked_.emplace("INSTALL_TYPE", -1);
    for (const char* prefix : {"FA9.", "FA9CTLSV."})
        for (const char* setting : kAgentSettings) checked_.emplace(std::string(prefix) + setting, -1);
    for (int i = 0; i < count_; ++i) {
        const char* k = entries_[i]->keyword();
        const char first = upper(k[0]);
        if (first != 'F' && first != 'I') continue;
        auto it = checked_.find(upperCopy(k, std::strlen(k)));
        if (it != checked_.end() && it->second < 0) it->second = i;
    }
    crossCheckEntries();
    checked_.clear();
}

void ResponseFile::crossCheckEntries() {
    ResponseFileEntry* objectName = findEntry("FA9.DIR_OBJ_NAME");
    ResponseFileEntry* pathName = findEntry("FA9.DIR_PATH_NAME");
    if (objectName && pathName) {
        // Both names together make one directory entry, which holds 255 characters.
        size_t total = fa9::textLength(objectName->readValue()) + fa9::textLength(pathName->readValue());
        if (total > 255) {
            mark(objectName);
            mark(pathName);
        }
    }
    ResponseFileEntry* installType = findEntry("INSTALL_TYPE");
    if (installType && installType->value()) {
        const char* type = installType->value();
        bool compact = fa9::equalsNoCase(type, "COMPACT");
        bool typical = fa9::equalsNoCase(type, "TYPICAL");
        // Any product of the file that has no such installation type makes it wrong.
        for (int i = find("PROD"); i >= 0; i = find("PROD", i + 1)) {
            const char* prod = entries_[i]->value();
            if (!prod) continue;
            bool refuses = (fa9::equalsNoCase(prod, "GANTRY_WATCH") && compact) ||
                           ((fa9::equalsNoCase(prod, "FERRO_BRIDGE") || fa9::equalsNoCase(prod, "FERRO_BRIDGE_PLUS")) &&
                            (compact || typical));
            if (refuses) {
                mark(installType);
                break;
            }
        }
    }
    agentChecks("FA9");
    agentChecks("FA9CTLSV");
}

// The agent and communication-buffer settings of one instance must fit together. Only
// valid, non-negative numbers take part (-1 leaves the choice to the server).
void ResponseFile::agentChecks(const char* prefix) {
    struct Limit {
        const char* setting;
        const char* bound;
    };
    static const Limit kLimits[] = {
        {"MAX_COORDAGENTS", "MAXAGENTS"}, {"NUM_INITAGENTS", "MAXAGENTS"},  {"NUM_POOLAGENTS", "MAXAGENTS"},
        {"MAXCAGENTS", "MAXAGENTS"},      {"MAXDARI", "MAXAGENTS"},         {"MAX_COORDAGENTS", "MAX_LOGICAGENTS"},
        {"FCM_NUM_CONNECT", "FCM_NUM_RQB"}, {"FCM_NUM_ANCHORS", "FCM_NUM_RQB"},
    };
    auto number = [&](const char* name, ResponseFileEntry** found) -> long long {
        char keyword[64];
        if (!fa9::formatText(keyword, sizeof keyword, "%s.%s", prefix, name)) return -1;
        ResponseFileEntry* e = findEntry(keyword);
        *found = e;
        if (!e || e->status() != kEntryValid || !e->value()) return -1;
        const char* v = e->value();
        const char* digits = (*v == '+') ? v + 1 : v;
        if (!*digits) return -1;
        for (const char* q = digits; *q; ++q)
            if (*q < '0' || *q > '9') return -1;
        return std::strtoll(digits, nullptr, 10);
    };
    for (const Limit& limit : kLimits) {
        ResponseFileEntry *setting = nullptr, *bound = nullptr;
        long long s = number(limit.setting, &setting);
        long long b = number(limit.bound, &bound);
        if (s >= 0 && b >= 0 && s > b) mark(setting);
    }
}
