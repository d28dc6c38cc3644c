// Installer conditions: NOT, AND, OR, parentheses, comparisons (=, <>, <, >, <=, >=,
// and the case-insensitive ~= forms) of property values, "text" literals and integers;
// a lone property is true when it has a value. Environment variables (%NAME) are read
// from the machine. Component and feature states are not used by the library.
#include "msi_handles.h"
#include "winsim/control.h"

#include <cctype>
#include <stdexcept>

namespace winsim {
namespace {

struct Value {
    std::string text;
    bool isInt = false;
    long number = 0;
};

Value fromText(std::string t) {
    Value v;
    v.text = std::move(t);
    if (!v.text.empty() && v.text.size() < 10 &&
        v.text.find_first_not_of("0123456789", v.text[0] == '-' ? 1 : 0) == std::string::npos &&
        v.text != "-") {
        v.isInt = true;
        v.number = std::stol(v.text);
    }
    return v;
}

class ConditionParser {
public:
    ConditionParser(const std::string& text, const Session& session) : s_(text), session_(session) {}

    bool parse() {
        bool result = orExpr();
        skipBlanks();
        if (pos_ != s_.size()) throw std::runtime_error("trailing text");
        return result;
    }

private:
    void skipBlanks() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool word(const char* w) {
        skipBlanks();
        size_t n = std::char_traits<char>::length(w);
        if (s_.size() - pos_ < n || !equalsNoCase(s_.substr(pos_, n), w)) return false;
        if (pos_ + n < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_ + n])) || s_[pos_ + n] == '_'))
            return false;
        pos_ += n;
        return true;
    }
    bool orExpr() {
        bool v = andExpr();
        while (word("OR")) v = andExpr() || v;
        return v;
    }
    bool andExpr() {
        bool v = notExpr();
        while (word("AND")) v = notExpr() && v;
        return v;
    }
    bool notExpr() {
        if (word("NOT")) return !notExpr();
        return comparison();
    }
    bool comparison() {
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == '(') {
            ++pos_;
            bool v = orExpr();
            skipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != ')') throw std::runtime_error("missing )");
            ++pos_;
            return v;
        }
        Value left = operand();
        skipBlanks();
        static const char* ops[] = {"~<>", "~<=", "~>=", "<>", "<=", ">=", "~=", "~<", "~>", "=", "<", ">"};
        for (const char* op : ops) {
            std::string o = op;
            if (s_.compare(pos_, o.size(), o) == 0) {
                pos_ += o.size();
                Value right = operand();
                return compare(left, right, o);
            }
        }
        return !left.text.empty();
    }
    static bool compare(Value a, Value b, std::string op) {
        bool noCase = op[0] == '~';
        if (noCase) op = op.substr(1);
        int c;
        if (a.isInt && b.isInt) {
            c = a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
        } else {
            if (noCase) {
                for (char& ch : a.text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                for (char& ch : b.text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
            c = a.text.compare(b.text);
        }
        if (op == "=") return c == 0;
        if (op == "<>") return c != 0;
        if (op == "<") return c < 0;
        if (op == ">") return c > 0;
        if (op == "<=") return c <= 0;
        return c >= 0;
    }
    Value operand() {
        skipBlanks();
        if (pos_ >= s_.size()) throw std::runtime_error("missing operand");
        char c = s_[pos_];
        if (c == '"') {
            size_t end = s_.find('"', pos_ + 1);
            if (end == std::string::npos) throw std::runtime_error("open string");
            Value v;
            v.text = s_.substr(pos_ + 1, end - pos_ - 1);
            pos_ = end + 1;
            return v;
        }
        bool env = c == '%';
        if (env) ++pos_;
        size_t start = pos_;
        while (pos_ < s_.size() &&
               (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_' || s_[pos_] == '.' ||
                (s_[pos_] == '-' && pos_ == start)))
            ++pos_;
        if (pos_ == start) throw std::runtime_error("bad operand");
        std::string name = s_.substr(start, pos_ - start);
        if (std::isdigit(static_cast<unsigned char>(name[0])) || name[0] == '-') return fromText(name);
        if (env) {
            const Machine* m = Machine::currentOrNull();
            if (!m) return Value();
            auto it = m->environment.find(name);
            return fromText(it != m->environment.end() ? it->second : std::string());
        }
        return fromText(session_.offersProperty(name) ? session_.property(name) : std::string());
    }

    std::string s_;
    const Session& session_;
    size_t pos_ = 0;
};

}  // namespace
}  // namespace winsim

using namespace winsim;

extern "C" MSICONDITION WINAPI MsiEvaluateConditionA(MSIHANDLE hInstall, LPCSTR szCondition) {
    Session* s = countedSessionOf(hInstall);
    if (!s) return MSICONDITION_ERROR;
    if (!szCondition) return MSICONDITION_NONE;
    std::string text = szCondition;
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return MSICONDITION_NONE;
    try {
        return ConditionParser(text, *s).parse() ? MSICONDITION_TRUE : MSICONDITION_FALSE;
    } catch (const std::exception&) {
        return MSICONDITION_ERROR;
    }
}
