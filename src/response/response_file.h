// A parsed response file: its entries in file order, the instance and section names it
// declares, and the keywords it marks as ENCRYPTED.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

enum ResponseFileStatus {
    RSP_FILE_OK = 0,
    RSP_FILE_INVALID = 1,     // an entry is invalid or a cross-check failed
    RSP_FILE_NOT_OPENED = 2,  // no name, or the file cannot be opened for reading
    RSP_FILE_READ_ERROR = 3,
    RSP_FILE_UTF16 = 4,       // the file is UTF-16 text, which the parse cannot read
    RSP_FILE_NO_MEMORY = 5,
};

// The four kinds of section keyword, in the order their passes run.
enum SectionKind { SECTION_NEW_NODE = 0, SECTION_CONTACT, SECTION_DATABASE, SECTION_LEVEL, SECTION_KINDS };

class ResponseFile;

// Owned copies of names, in the order they were added.
class NameList {
public:
    explicit NameList(int growth) : growth_(growth) {}
    ~NameList();
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    // Adds the first `length` bytes of `text`, cut to `maxLength` (0: no cut); false
    // when out of memory.
    bool add(const char* text, size_t length, size_t maxLength);
    int count() const { return count_; }
    const char* get(int index) const { return index >= 0 && index < count_ ? items_[index] : ""; }
    // Whether `name` is in the list, case ignored.
    bool contains(const char* name) const;

private:
    char** items_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    int growth_;
};

class ResponseFileEntry {
public:
    ResponseFileEntry(ResponseFile* owner, int lineNumber) : owner_(owner), lineNumber_(lineNumber) {}
    ~ResponseFileEntry();
    ResponseFileEntry(const ResponseFileEntry&) = delete;
    ResponseFileEntry& operator=(const ResponseFileEntry&) = delete;

    // Each false when out of memory. A value of length 0 is absent.
    bool setKeyword(const char* text, size_t length);
    bool setValue(const char* text, size_t length);

    const char* keyword() const { return keyword_ ? keyword_ : ""; }
    // The value as written (unscrambled for an ENCRYPTED password), or null.
    const char* value() const { return value_; }
    // The value as readers see it: a valid entry's BLANK (any case) reads as empty text.
    const char* readValue() const;
    // Whether the value is a secret that reports show as "********": its keyword's rule
    // is a password's, or the file names the keyword under ENCRYPTED.
    bool isSecret() const;

    int status() const { return status_; }
    void setStatus(int status) { status_ = status; }
    int lineNumber() const { return lineNumber_; }
    int ruleIndex() const { return ruleIndex_; }
    void setRuleIndex(int index) { ruleIndex_ = index; }
    ResponseFile* owner() const { return owner_; }

private:
    ResponseFile* owner_;
    char* keyword_ = nullptr;
    char* value_ = nullptr;
    int status_ = 1;
    int lineNumber_;
    int ruleIndex_ = -1;
};

class ResponseFile {
public:
    static constexpr size_t kFileNameCapacity = 261;
    static constexpr size_t kNameLength = 80;
    static constexpr int kEntryGrowth = 500;

    ResponseFile();
    ~ResponseFile();
    ResponseFile(const ResponseFile&) = delete;
    ResponseFile& operator=(const ResponseFile&) = delete;

    // Reads and checks the file at `path` (null: status 2). Multi-byte characters follow
    // the C runtime's current locale; a UTF-8 byte-order mark is skipped and UTF-16 text
    // is refused (status 4).
    void build(const char* path);
    // The same for text already in memory, named `fileName` (P() rules are relative to
    // its folder): what build does after reading.
    void parse(const char* fileName, const char* text, size_t length);

    ResponseFileStatus status() const { return status_; }
    int count() const { return count_; }
    ResponseFileEntry* entry(int index) const { return index >= 0 && index < count_ ? entries_[index] : nullptr; }
    // The first entry at or after `from` whose keyword equals `keyword`, case ignored; -1.
    int find(const char* keyword, int from = 0) const;
    const char* fileName() const { return fileName_; }
    const char* defaultInstance() const { return defaultInstance_; }
    const NameList& encrypted() const { return encrypted_; }

    // The first row of the keyword table (valid in this program) that accepts `keyword`
    // with this file's instance and section names; -1 when none does.
    int lookUpKeyword(const char* keyword) const;

    // Appends an entry (taking it over) and applies the keep-or-replace rule. False when
    // the entry array could not grow: status 5, all entries freed.
    bool keep(ResponseFileEntry* entry);

private:
    struct Text;
    // One pass for the ENCRYPTED, instance and section names, which the main pass needs.
    void namePass(const Text& text);
    void encryptedLine(const char* line, size_t n);
    void instanceLine(const char* keyword, size_t keywordLength, const char* value, size_t valueLength);
    void sectionLine(SectionKind kind, const char* keyword, size_t keywordLength, const char* value,
                     size_t valueLength);
    void mainPass(const Text& text);
    bool rowAccepts(int index, const char* keyword, size_t length) const;
    // keep without closing the gaps that removals leave; compact closes them.
    bool keepEntry(ResponseFileEntry* entry);
    void compact();
    void crossChecks();
    void crossCheckEntries();
    void agentChecks(const char* prefix);
    void check(ResponseFileEntry& entry);
    void freeEntries();
    void drop(int index);
    void mark(ResponseFileEntry* entry);
    ResponseFileEntry* findEntry(const char* keyword) const;

    ResponseFileEntry** entries_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    int errorCount_ = 0;
    ResponseFileStatus status_ = RSP_FILE_OK;
    char fileName_[kFileNameCapacity] = {};
    NameList instances_{8};
    char defaultInstance_[kNameLength + 1] = {};
    char controlServerInstance_[kNameLength + 1] = {};
    char adminServerInstance_[kNameLength + 1] = {};
    NameList sections_[SECTION_KINDS] = {NameList(8), NameList(8), NameList(8), NameList(8)};
    NameList encrypted_{5};
    char* progName_ = nullptr;
    // Upper-cased keyword of each kept entry whose rule does not repeat -> its index, so
    // that the entry a later line replaces is found at once.
    std::unordered_map<std::string, int> lastOf_;
    int holes_ = 0;  // removed entries whose places compact has not closed yet
    // While the cross-checks run: upper-cased keyword they read -> its first entry, or -1.
    std::unordered_map<std::string, int> checked_;
};

// Splits one logical line (comment rules, first '=', trailing ** or ## comment,
// multi-byte characters by the current locale). False for a comment or empty line.
// `value` is null with `valueLength` 0 when the line has no value.
bool rspSplitLine(const char* line, size_t length, const char** keyword, size_t* keywordLength, const char** value,
                  size_t* valueLength);
