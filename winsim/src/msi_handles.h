// MSI handle objects shared by the installer functions of the simulated Windows.
#pragma once

#include "winsim/control.h"

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
    bool isNull() const { return kind_ == Kind::Null; }
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
    enum class Kind { Null, Text, Int } kind_ = Kind::Null;
    std::string text_;
    int int_ = 0;
};

struct RecordObject : MsiObject {
    std::vector<RecordField> fields;  // field 0 .. count
};

MSIHANDLE allocMsiHandle(std::shared_ptr<MsiObject> obj);
std::shared_ptr<MsiObject> lookupMsiHandle(MSIHANDLE h);
bool closeMsiHandle(MSIHANDLE h);
Session* sessionOf(MSIHANDLE h);
std::shared_ptr<RecordObject> recordOf(MSIHANDLE h);
std::string formatRecord(const RecordObject& rec);

}  // namespace winsim
