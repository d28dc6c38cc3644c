// The active database of a session: package tables, and views on them through the
// small part of the installer's SQL that the library issues:
//   SELECT * | col[, col...] FROM table [WHERE col =|<>|>= value [AND|OR ...]] [ORDER BY col[, col...]]
//   DELETE FROM table [WHERE ...]
// with columns written plain, as table.column or in back quotes, and values as
// 'text' or integers; and temporary rows inserted through a view (MsiViewModify).
#include "msi_handles.h"
#include "winsim/control.h"

#include <algorithm>
#include <cctype>
#include <map>

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
        } else if ((c == '<' || c == '>') && i + 1 < q.size() && q[i + 1] == (c == '<' ? '>' : '=')) {
            out.push_back({Token::Symbol, q.substr(i, 2)});
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

    // A SELECT, or a DELETE when `removal` is given.
    bool statement(ViewObject& view, bool* removal, std::vector<size_t>* orderBy) {
        if (tokens_.empty()) return false;
        if (removal && keyword(peek(), "DELETE")) {
            next();
            *removal = true;
            if (!keyword(next(), "FROM")) return false;
            const Token& table = next();
            if (table.kind != Token::Word || !db_.hasTable(table.value)) return false;
            view.table = table.value;
            if (!where(view)) return false;
            return peek().kind == Token::End;
        }
        if (!select(view)) return false;
        if (orderBy && keyword(peek(), "ORDER")) {
            next();
            if (!keyword(next(), "BY")) return false;
            const auto& columns = db_.columns(view.table);
            do {
                std::pair<std::string, std::string> c;
                size_t index;
                if (!column(c) || !resolve(c, view.table, columns, index)) return false;
                orderBy->push_back(index);
            } while (peek().kind == Token::Symbol && peek().value == "," && (next(), true));
        }
        return peek().kind == Token::End;
    }

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
        return where(view);
    }

private:
    bool where(ViewObject& view) {
        if (!keyword(peek(), "WHERE")) return true;
        next();
        const auto& columns = db_.columns(view.table);
        for (bool orNext = false;;) {
            std::pair<std::string, std::string> c;
            if (!column(c)) return false;
            ViewObject::Condition cond;
            cond.orBefore = orNext;
            if (!resolve(c, view.table, columns, cond.column)) return false;
            const Token& op = next();
            if (op.kind != Token::Symbol || (op.value != "=" && op.value != "<>" && op.value != ">=")) return false;
            cond.notEqual = op.value == "<>";
            cond.atLeast = op.value == ">=";
            const Token& value = next();
            if (value.kind == Token::Text)
                cond.value = Cell::str(value.value);
            else if (value.kind == Token::Number)
                cond.value = Cell::integer(std::stoi(value.value));
            else
                return false;
            view.where.push_back(cond);
            if (!keyword(peek(), "AND") && !keyword(peek(), "OR")) return true;
            orNext = keyword(next(), "OR");
        }
    }

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

// A view as the installer keeps it: besides the selection, whether executing it deletes
// the rows it finds, and the columns its rows are ordered by.
struct QueryView : ViewObject {
    bool removal = false;
    std::vector<size_t> orderBy;
};

namespace {

// The Control table is keyed by dialog and control; every other table the library
// inserts into would be keyed by its first column.
size_t keyColumnCount(const std::string& table) { return table == "Control" ? 2 : 1; }

bool holds(const std::vector<Cell>& row, const ViewObject::Condition& cond) {
    const Cell& cell = row[cond.column];
    if (cond.atLeast) return cell.kind == Cell::Kind::Int && cell.number >= cond.value.number;
    return cellEquals(cell, cond.value) != cond.notEqual;
}

// AND binds closer than OR: the row matches when every condition of one of the groups
// that OR separates holds.
bool matches(const std::vector<Cell>& row, const ViewObject& view) {
    bool group = true;
    for (const auto& cond : view.where) {
        if (cond.orBefore) {
            if (group) return true;
            group = true;
        }
        group = group && holds(row, cond);
    }
    return group;
}

// The installer orders string columns by their ids in the database's string pool, that
// is by when a string first entered the database, not alphabetically. Here a string's
// id is where it first appears in its column; integers order by value, nulls first.
struct OrderKey {
    int kind;  // 0 null, 1 integer or string id
    long long value;
    bool operator<(const OrderKey& o) const { return kind != o.kind ? kind < o.kind : value < o.value; }
};

std::vector<OrderKey> orderKeys(const std::vector<std::vector<Cell>>& rows, const std::vector<Cell>& row,
                                const std::vector<size_t>& orderBy) {
    std::vector<OrderKey> keys;
    for (size_t column : orderBy) {
        const Cell& cell = row[column];
        if (cell.kind == Cell::Kind::Null) {
            keys.push_back({0, 0});
        } else if (cell.kind == Cell::Kind::Int) {
            keys.push_back({1, cell.number});
        } else {
            long long id = 0;
            while (static_cast<size_t>(id) < rows.size() && !cellEquals(rows[id][column], cell)) ++id;
            keys.push_back({1, id});
        }
    }
    return keys;
}

// A record field as a table cell. Records do not say whether "47" was set as a string
// or an integer; the column's existing cells decide, and a number-like value in an
// empty column is taken as an integer.
Cell cellOf(const RecordField& field, const std::vector<std::vector<Cell>>& rows, size_t column) {
    if (field.isNull()) return Cell::null();
    if (field.isStream()) return Cell::stream(field.text());
    const int number = field.asInt();
    const bool numeric = number != static_cast<int>(MSI_NULL_INTEGER);
    for (const auto& row : rows) {
        if (row[column].kind == Cell::Kind::Int) return numeric ? Cell::integer(number) : Cell::str(field.text());
        if (row[column].kind == Cell::Kind::Text) return Cell::str(field.text());
    }
    return numeric ? Cell::integer(number) : Cell::str(field.text());
}

}  // namespace

UINT parseQuery(const Database& db, const std::string& query, ViewObject& view) {
    Parser parser(db, query);
    return parser.statement(view, nullptr, nullptr) ? ERROR_SUCCESS : ERROR_BAD_QUERY_SYNTAX;
}

UINT parseStatement(const Database& db, const std::string& query, QueryView& view) {
    Parser parser(db, query);
    return parser.statement(view, &view.removal, &view.orderBy) ? ERROR_SUCCESS : ERROR_BAD_QUERY_SYNTAX;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE hInstall) {
    Session* s = countedSessionOf(hInstall);
    if (!s || !s->database().available) return 0;
    auto db = std::make_shared<DatabaseObject>();
    db->session = s;
    return allocMsiHandle(db);
}

UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE hDatabase, LPCSTR szQuery, MSIHANDLE* phView) {
    countedSessionOf(hDatabase);
    auto db = std::dynamic_pointer_cast<DatabaseObject>(lookupMsiHandle(hDatabase));
    if (!db) return ERROR_INVALID_HANDLE;
    if (!szQuery || !phView) return ERROR_INVALID_PARAMETER;
    auto view = std::make_shared<QueryView>();
    view->session = db->session;
    UINT rc = parseStatement(db->session->database(), szQuery, *view);
    if (rc != ERROR_SUCCESS) return rc;
    *phView = allocMsiHandle(view);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord) {
    countedSessionOf(hView);
    auto view = std::dynamic_pointer_cast<ViewObject>(lookupMsiHandle(hView));
    if (!view) return ERROR_INVALID_HANDLE;
    Database& db = view->session->database();
    if (auto fault = db.executeFault(view->table)) return *fault;
    view->result.clear();
    view->next = 0;
    auto query = std::dynamic_pointer_cast<QueryView>(view);
    auto& rows = db.rows(view->table);
    if (query && query->removal) {
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                  [&](const std::vector<Cell>& row) { return matches(row, *view); }),
                   rows.end());
        view->executed = true;
        return ERROR_SUCCESS;
    }
    std::vector<const std::vector<Cell>*> found;
    for (const auto& row : rows)
        if (matches(row, *view)) found.push_back(&row);
    if (query && !query->orderBy.empty()) {
        std::stable_sort(found.begin(), found.end(), [&](const std::vector<Cell>* a, const std::vector<Cell>* b) {
            return orderKeys(rows, *a, query->orderBy) < orderKeys(rows, *b, query->orderBy);
        });
    }
    for (const auto* row : found) {
        std::vector<Cell> selected;
        for (size_t c : view->columns) selected.push_back((*row)[c]);
        view->result.push_back(std::move(selected));
    }
    view->executed = true;
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord) {
    countedSessionOf(hView);
    auto view = std::dynamic_pointer_cast<ViewObject>(lookupMsiHandle(hView));
    if (!view) return ERROR_INVALID_HANDLE;
    if (!phRecord) return ERROR_INVALID_PARAMETER;
    *phRecord = 0;
    if (!view->executed) return ERROR_FUNCTION_FAILED;
    if (view->next >= view->result.size()) return ERROR_NO_MORE_ITEMS;
    auto rec = std::make_shared<RecordObject>();
    rec->fetchedThrough = view->session;
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

// Inserting is all the library asks of MsiViewModify. A view need not be executed for
// an insert; a row whose primary key is taken fails with ERROR_FUNCTION_FAILED, as
// msi.dll answers. A temporary row lives in the session's tables like any other row.
UINT WINAPI MsiViewModify(MSIHANDLE hView, MSIMODIFY eModifyMode, MSIHANDLE hRecord) {
    countedSessionOf(hView);
    auto view = std::dynamic_pointer_cast<ViewObject>(lookupMsiHandle(hView));
    if (!view) return ERROR_INVALID_HANDLE;
    auto rec = recordOf(hRecord);
    if (!rec) return ERROR_INVALID_HANDLE;
    auto query = std::dynamic_pointer_cast<QueryView>(view);
    if (query && query->removal) return ERROR_FUNCTION_FAILED;
    if (eModifyMode != MSIMODIFY_INSERT && eModifyMode != MSIMODIFY_INSERT_TEMPORARY) return ERROR_FUNCTION_FAILED;
    if (rec->fields.size() - 1 < view->columns.size()) return ERROR_FUNCTION_FAILED;

    Database& db = view->session->database();
    auto& rows = db.rows(view->table);
    std::vector<Cell> row(db.columns(view->table).size());
    for (size_t i = 0; i < view->columns.size(); ++i) row[view->columns[i]] = cellOf(rec->fields[i + 1], rows, view->columns[i]);
    const size_t keys = std::min(keyColumnCount(view->table), row.size());
    for (const auto& existing : rows) {
        bool same = true;
        for (size_t k = 0; k < keys && same; ++k) same = cellEquals(existing[k], row[k]);
        if (same) return ERROR_FUNCTION_FAILED;
    }
    rows.push_back(std::move(row));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewClose(MSIHANDLE hView) {
    countedSessionOf(hView);
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
    if (rec->fetchedThrough) rec->fetchedThrough->countInstallerCall();
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
