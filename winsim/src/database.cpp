// The active database of a session: package tables, and views on them through the
// small part of the installer's SQL that the library issues:
//   SELECT * | col[, col...] FROM table [WHERE col =|<> value [AND ...]]
// with columns written plain, as table.column or in back quotes, and values as
// 'text' or integers.
#include "msi_handles.h"
#include "winsim/control.h"

#include <cctype>

namespace winsim {

void Database::createTable(const std::string& name, std::vector<std::string> columns) {
    tables_[name] = Table{std::move(columns), {}};
}

void Database::insertRow(const std::string& table, std::vector<Cell> row) {
    Table& t = tables_.at(table);
    row.resize(t.columns.size());
    t.rows.push_back(std::move(row));
}

void Database::addBinary(const std::string& name, const std::string& bytes) {
    if (!hasTable("Binary")) createTable("Binary", {"Name", "Data"});
    insertRow("Binary", {Cell::str(name), Cell::stream(bytes)});
}

std::optional<UINT> Database::executeFault(const std::string& table) const {
    auto it = executeFaults_.find(table);
    if (it == executeFaults_.end()) return std::nullopt;
    return it->second;
}

namespace {

struct Token {
    enum Kind { Word, Text, Number, Symbol, End } kind;
    std::string value;
};

std::vector<Token> tokenize(const std::string& q) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < q.size()) {
        char c = q[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '\'') {
            size_t j = q.find('\'', i + 1);
            if (j == std::string::npos) return {};
            out.push_back({Token::Text, q.substr(i + 1, j - i - 1)});
            i = j + 1;
        } else if (c == '`') {
            size_t j = q.find('`', i + 1);
            if (j == std::string::npos) return {};
            out.push_back({Token::Word, q.substr(i + 1, j - i - 1)});
            i = j + 1;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || (c == '-' && i + 1 < q.size() && std::isdigit(static_cast<unsigned char>(q[i + 1])))) {
            size_t j = i + 1;
            while (j < q.size() && std::isdigit(static_cast<unsigned char>(q[j]))) ++j;
            out.push_back({Token::Number, q.substr(i, j - i)});
            i = j;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < q.size() && (std::isalnum(static_cast<unsigned char>(q[j])) || q[j] == '_')) ++j;
            out.push_back({Token::Word, q.substr(i, j - i)});
            i = j;
        } else if (c == '<' && i + 1 < q.size() && q[i + 1] == '>') {
            out.push_back({Token::Symbol, "<>"});
            i += 2;
        } else {
            out.push_back({Token::Symbol, std::string(1, c)});
            ++i;
        }
    }
    out.push_back({Token::End, ""});
    return out;
}

bool keyword(const Token& t, const char* word) { return t.kind == Token::Word && equalsNoCase(t.value, word); }

class Parser {
public:
    Parser(const Database& db, const std::string& q) : db_(db), tokens_(tokenize(q)) {}

    bool select(ViewObject& view) {
        if (tokens_.empty() || !keyword(next(), "SELECT")) return false;
        std::vector<std::pair<std::string, std::string>> cols;  // (table or "", column)
        bool all = false;
        if (peek().kind == Token::Symbol && peek().value == "*") {
            next();
            all = true;
        } else {
            do {
                std::pair<std::string, std::string> c;
                if (!column(c)) return false;
                cols.push_back(c);
            } while (peek().kind == Token::Symbol && peek().value == "," && (next(), true));
        }
        if (!keyword(next(), "FROM")) return false;
        const Token& table = next();
        if (table.kind != Token::Word || !db_.hasTable(table.value)) return false;
        view.table = table.value;
        const auto& columns = db_.columns(view.table);
        if (all) {
            for (size_t i = 0; i < columns.size(); ++i) view.columns.push_back(i);
        } else {
            for (const auto& c : cols) {
                size_t index;
                if (!resolve(c, view.table, columns, index)) return false;
                view.columns.push_back(index);
            }
        }
        if (keyword(peek(), "WHERE")) {
            next();
            do {
                std::pair<std::string, std::string> c;
                if (!column(c)) return false;
                ViewObject::Condition cond;
                if (!resolve(c, view.table, columns, cond.column)) return false;
                const Token& op = next();
                if (op.kind != Token::Symbol || (op.value != "=" && op.value != "<>")) return false;
                cond.notEqual = op.value == "<>";
                const Token& value = next();
                if (value.kind == Token::Text)
                    cond.value = Cell::str(value.value);
                else if (value.kind == Token::Number)
                    cond.value = Cell::integer(std::stoi(value.value));
                else
                    return false;
                view.where.push_back(cond);
            } while (keyword(peek(), "AND") && (next(), true));
        }
        return peek().kind == Token::End;
    }

private:
    const Token& next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
    const Token& peek() const { return tokens_[pos_]; }

    bool column(std::pair<std::string, std::string>& c) {
        const Token& first = next();
        if (first.kind != Token::Word) return false;
        if (peek().kind == Token::Symbol && peek().value == ".") {
            next();
            const Token& second = next();
            if (second.kind != Token::Word) return false;
            c = {first.value, second.value};
        } else {
            c = {"", first.value};
        }
        return true;
    }

    static bool resolve(const std::pair<std::string, std::string>& c, const std::string& table,
                        const std::vector<std::string>& columns, size_t& index) {
        if (!c.first.empty() && c.first != table) return false;
        for (size_t i = 0; i < columns.size(); ++i) {
            if (columns[i] == c.second) {
                index = i;
                return true;
            }
        }
        return false;
    }

    const Database& db_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
};

bool cellEquals(const Cell& a, const Cell& b) {
    if (a.kind == Cell::Kind::Int || b.kind == Cell::Kind::Int)
        return a.kind == b.kind && a.number == b.number;
    if (a.kind == Cell::Kind::Null || b.kind == Cell::Kind::Null) return a.kind == b.kind;
    return a.text == b.text;
}

}  // namespace

UINT parseQuery(const Database& db, const std::string& query, ViewObject& view) {
    Parser parser(db, query);
    return parser.select(view) ? ERROR_SUCCESS : ERROR_BAD_QUERY_SYNTAX;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE hInstall) {
    Session* s = sessionOf(hInstall);
    if (!s || !s->database().available) return 0;
    auto db = std::make_shared<DatabaseObject>();
    db->session = s;
    return allocMsiHandle(db);
}

UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE hDatabase, LPCSTR szQuery, MSIHANDLE* phView) {
    auto db = std::dynamic_pointer_cast<DatabaseObject>(lookupMsiHandle(hDatabase));
    if (!db) return ERROR_INVALID_HANDLE;
    if (!szQuery || !phView) return ERROR_INVALID_PARAMETER;
    auto view = std::make_shared<ViewObject>();
    view->session = db->session;
    UINT rc = parseQuery(db->session->database(), szQuery, *view);
    if (rc != ERROR_SUCCESS) return rc;
    *phView = allocMsiHandle(view);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord) {
    auto view = std::dynamic_pointer_cast<ViewObject>(lookupMsiHandle(hView));
    if (!view) return ERROR_INVALID_HANDLE;
    const Database& db = view->session->database();
    if (auto fault = db.executeFault(view->table)) return *fault;
    view->result.clear();
    view->next = 0;
    for (const auto& row : db.rows(view->table)) {
        bool match = true;
        for (const auto& cond : view->where)
            if (cellEquals(row[cond.column], cond.value) == cond.notEqual) match = false;
        if (!match) continue;
        std::vector<Cell> selected;
        for (size_t c : view->columns) selected.push_back(row[c]);
        view->result.push_back(std::move(selected));
    }
    view->executed = true;
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord) {
    auto view = std::dynamic_pointer_cast<ViewObject>(lookupMsiHandle(hView));
    if (!view) return ERROR_INVALID_HANDLE;
    if (!phRecord) return ERROR_INVALID_PARAMETER;
    *phRecord = 0;
    if (!view->executed) return ERROR_FUNCTION_FAILED;
    if (view->next >= view->result.size()) return ERROR_NO_MORE_ITEMS;
    auto rec = std::make_shared<RecordObject>();
    rec->fields.resize(1);
    for (const Cell& cell : view->result[view->next++]) {
        switch (cell.kind) {
        case Cell::Kind::Null: rec->fields.push_back(RecordField()); break;
        case Cell::Kind::Text: rec->fields.push_back(RecordField::ofText(cell.text)); break;
        case Cell::Kind::Int: rec->fields.push_back(RecordField::ofInt(cell.number)); break;
        case Cell::Kind::Stream: rec->fields.push_back(RecordField::ofStream(cell.text)); break;
        }
    }
    *phRecord = allocMsiHandle(rec);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewClose(MSIHANDLE hView) {
    auto view = std::dynamic_pointer_cast<ViewObject>(lookupMsiHandle(hView));
    if (!view) return ERROR_INVALID_HANDLE;
    view->executed = false;
    view->result.clear();
    view->next = 0;
    return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordReadStream(MSIHANDLE hRecord, UINT iField, char* szDataBuf, LPDWORD pcbDataBuf) {
    auto rec = recordOf(hRecord);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (!pcbDataBuf) return ERROR_INVALID_PARAMETER;
    if (iField >= rec->fields.size() || !rec->fields[iField].isStream()) return ERROR_INVALID_DATATYPE;
    RecordField& field = rec->fields[iField];
    if (!szDataBuf) {
        *pcbDataBuf = static_cast<DWORD>(field.streamRemaining());
        return ERROR_SUCCESS;
    }
    *pcbDataBuf = static_cast<DWORD>(field.readStream(szDataBuf, *pcbDataBuf));
    return ERROR_SUCCESS;
}

}  // extern "C"
