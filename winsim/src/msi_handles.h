// MSI handle objects shared by the installer functions of the simulated Windows.
#pragma once

#include "winsim/control.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace winsim {

struct MsiObject {
    virtual ~MsiObject() = default;
};

struct SessionObject : MsiObject {
    Session* session = nullptr;
};

class RecordField {
public:
    RecordField() = default;
    static RecordField ofText(std::string t) {
        RecordField f;
        f.kind_ = Kind::Text;
        f.text_ = std::move(t);
        return f;
    }
    static RecordField ofInt(int v) {
        RecordField f;
        f.kind_ = Kind::Int;
        f.int_ = v;
        return f;
    }
    static RecordField ofStream(std::string bytes) {
        RecordField f;
        f.kind_ = Kind::Stream;
        f.text_ = std::move(bytes);
        return f;
    }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isStream() const { return kind_ == Kind::Stream; }
    // Reads the next bytes of a stream field.
    size_t readStream(char* out, size_t max) {
        size_t n = std::min(max, text_.size() - streamPos_);
        text_.copy(out, n, streamPos_);
        streamPos_ += n;
        return n;
    }
    size_t streamRemaining() const { return text_.size() - streamPos_; }
    std::string text() const {
        if (kind_ == Kind::Int) return std::to_string(int_);
        return text_;
    }
    int asInt() const {
        if (kind_ == Kind::Int) return int_;
        if (kind_ == Kind::Text && !text_.empty() &&
            text_.find_first_not_of("0123456789", text_[0] == '-' ? 1 : 0) == std::string::npos &&
            text_.size() < 11)
            return std::stoi(text_);
        return static_cast<int>(MSI_NULL_INTEGER);
    }

private:
    enum class Kind { Null, Text, Int, Stream } kind_ = Kind::Null;
    std::string text_;
    int int_ = 0;
    size_t streamPos_ = 0;
};

struct RecordObject : MsiObject {
    std::vector<RecordField> fields;  // field 0 .. count
    // A row fetched from a view: its streams stay in the installer and each read is a call.
    Session* fetchedThrough = nullptr;
};

struct DatabaseObject : MsiObject {
    Session* session = nullptr;
};

struct ViewObject : MsiObject {
    Session* session = nullptr;
    std::string table;
    std::vector<size_t> columns;  // indexes into the table's columns
    struct Condition {
        size_t column;
        bool notEqual;
        Cell value;
        bool atLeast = false;  // ">=": an integer cell not below the value (a null one never)
        bool orBefore = false;  // OR, not AND, joins it to the condition before
    };
    std::vector<Condition> where;
    std::vector<std::vector<Cell>> result;
    size_t next = 0;
    bool executed = false;
};

MSIHANDLE allocMsiHandle(std::shared_ptr<MsiObject> obj);
std::shared_ptr<MsiObject> lookupMsiHandle(MSIHANDLE h);
bool closeMsiHandle(MSIHANDLE h);
Session* sessionOf(MSIHANDLE h);
// The session of a handle that lives in the installer (session, database, view), counted
// as one installer call; null for any other handle.
Session* countedSessionOf(MSIHANDLE h);
std::shared_ptr<RecordObject> recordOf(MSIHANDLE h);
// Expands a record as MsiFormatRecord does; `session` answers property references.
std::string formatRecord(const RecordObject& rec, const Session* session);
// Parses a query of the subset the library issues; 0 or ERROR_BAD_QUERY_SYNTAX.
UINT parseQuery(const Database& db, const std::string& query, ViewObject& view);

// Copies `value` into an A buffer the way msi.dll does; `remoteQuirk`: as inside a
// custom action, where a length that does not fit comes back doubled.
UINT copyStringOut(const std::string& value, LPSTR buf, LPDWORD pcch, bool remoteQuirk);

}  // namespace winsim
