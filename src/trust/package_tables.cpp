#include "trust/package_tables.h"

#include "platform/bounded.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

namespace {

constexpr size_t kMaxNameUnits = CompoundFile::kMaxNameUnits;

// The 64 characters the installer packs into stream names, two to a UTF-16 unit: the
// character's place here, -1 for any other.
int packed(char c) {
    static const char kPacked[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
    const char* at = c ? strchr(kPacked, c) : nullptr;
    return at ? static_cast<int>(at - kPacked) : -1;
}

// Packs `length` characters of `text` after the `units` already in `name`, as the
// installer names its streams. False for a name no directory entry can hold, or one
// outside ASCII (whose units would depend on the code page; row and table names are
// identifiers).
bool pack(const char* text, size_t length, uint16_t (&name)[kMaxNameUnits], size_t& units) {
    for (size_t i = 0; i < length; ++i) {
        if (units == kMaxNameUnits || static_cast<unsigned char>(text[i]) >= 0x80) return false;
        const int first = packed(text[i]);
        const int second = i + 1 < length ? packed(text[i + 1]) : -1;
        if (first < 0)
            name[units++] = static_cast<unsigned char>(text[i]);
        else if (second < 0)
            name[units++] = static_cast<uint16_t>(0x4800 + first);
        else {
            name[units++] = static_cast<uint16_t>(0x3800 + first + (second << 6));
            ++i;
        }
    }
    return true;
}

// Cell `row` of the column that starts `before` bytes of each row into a table stored
// column by column.
uint32_t cellAt(const std::vector<unsigned char>& table, size_t rows, size_t before, size_t width, size_t row) {
    return littleEndian(&table[rows * before + row * width], width);
}

// _Columns' types: a string (its cell an id), a stream (a two-byte cell), or an integer
// of two or four bytes, kept with its top bit flipped so that 0 is null.
constexpr int kStringColumn = 0x0800, kStreamColumn = 0x0900, kNullableColumn = 0x1000;
bool isStreamColumn(int type) { return (type & ~kNullableColumn) == kStreamColumn; }
constexpr size_t kMaxColumns = 32;

}  // namespace

// The MSI string pool: the code page, its top bit set when string cells take 3 bytes
// instead of 2, then for each string id from 1 its length and reference count (a string of
// 64 KB and more: length 0 and its count, then its whole length in the next pair; both
// zero: an unused id); the strings lie end to end in _StringData. Tables are stored
// column by column, a string cell as its id (0: none).
struct PackageFile::Strings {
    std::vector<unsigned char> data;
    std::vector<uint32_t> ends = std::vector<uint32_t>(1);  // where each id's string ends in `data`
    size_t width = 2;

    bool has(uint32_t id) const { return id < ends.size(); }
    uint32_t begin(uint32_t id) const { return id ? ends[id - 1] : 0; }
    uint32_t length(uint32_t id) const { return ends[id] - begin(id); }
    std::string text(uint32_t id) const { return std::string(data.begin() + begin(id), data.begin() + ends[id]); }
    bool equals(uint32_t id, const char* s, size_t n) const { return length(id) == n && !memcmp(&data[begin(id)], s, n); }
};

// A Binary row's data lies in the stream "Binary." and the row's name, packed (the dot
// pairs with the row's first character).
bool PackageFile::readBinary(const char* rowName, std::vector<unsigned char>& out) {
    std::vector<unsigned char>().swap(out);
    char text[2 * kMaxNameUnits + 1];
    uint16_t name[kMaxNameUnits];
    size_t units = 0;
    return rowName && fa9::formatText(text, sizeof text, "Binary.%s", rowName) &&
           pack(text, fa9::textLength(text), name, units) && file_.readStream(name, units, out);
}

// A table's stream (the string pool's two count as tables): its name packed after a unit
// no packed name begins with.
bool PackageFile::readTableStream(const char* table, std::vector<unsigned char>& out) {
    uint16_t name[kMaxNameUnits] = {0x4840};
    size_t units = 1;
    return pack(table, fa9::textLength(table), name, units) && file_.readStream(name, units, out);
}

bool PackageFile::lacksTable(const char* table) {
    uint16_t name[kMaxNameUnits] = {0x4840};
    size_t units = 1;
    return pack(table, fa9::textLength(table), name, units) && file_.lacksStream(name, units);
}

// Read once an open file: every property and table read needs it.
const PackageFile::Strings* PackageFile::strings() {
    if (strings_) return strings_.get();
    auto loaded = std::make_shared<Strings>();
    Strings& strings = *loaded;
    std::vector<unsigned char> pool;
    if (!readTableStream("_StringPool", pool) || !readTableStream("_StringData", strings.data) || pool.size() < 4 ||
        pool.size() % 4 != 0)
        return nullptr;
    strings.width = pool.size() > 4 && (littleEndian(&pool[2], 2) & 0x8000) ? 3 : 2;
    static_assert(kMaxStream <= UINT32_MAX, "a stream's offsets fit 32 bits");
    strings.ends.reserve(pool.size() / 4);
    uint32_t offset = 0;
    for (size_t at = 4; at < pool.size(); at += 4) {
        uint32_t length = littleEndian(&pool[at], 2);
        if (length == 0 && littleEndian(&pool[at + 2], 2) != 0) {
            at += 4;
            if (at == pool.size()) return nullptr;
            length = littleEndian(&pool[at], 4);
        }
        if (length > strings.data.size() - offset) return nullptr;
        offset += length;
        strings.ends.push_back(offset);
    }
    strings_ = std::move(loaded);
    return strings_.get();
}

// The Property table's columns are the name and the value, both strings: their ids into
// `rows`, each checked against the string pool, which is returned (nullptr: broken).
const PackageFile::Strings* PackageFile::propertyRows(std::vector<std::pair<uint32_t, uint32_t>>& rows) {
    const Strings* strings = this->strings();
    std::vector<unsigned char> table;
    if (!strings || !readTableStream("Property", table) || table.size() % (2 * strings->width) != 0) return nullptr;
    const size_t width = strings->width, count = table.size() / (2 * width);
    rows.reserve(count);
    for (size_t row = 0; row < count; ++row) {
        const uint32_t key = cellAt(table, count, 0, width, row), text = cellAt(table, count, width, width, row);
        if (!strings->has(key) || !strings->has(text)) return nullptr;
        rows.emplace_back(key, text);
    }
    return strings;
}

bool PackageFile::readProperty(const char* name, std::string& value) {
    value.clear();
    const size_t nameLength = fa9::textLength(name);
    try {
        std::vector<std::pair<uint32_t, uint32_t>> rows;
        const Strings* strings = nameLength ? propertyRows(rows) : nullptr;
        for (size_t i = 0; strings && i < rows.size(); ++i)
            if (strings->equals(rows[i].first, name, nameLength)) return value = strings->text(rows[i].second), true;
    } catch (const std::bad_alloc&) {
        value.clear();
    }
    return false;
}

bool PackageFile::readPropertyNames(std::vector<std::string>& names) {
    names.clear();
    try {
        std::vector<std::pair<uint32_t, uint32_t>> rows;
        const Strings* strings = propertyRows(rows);
        for (size_t i = 0; strings && i < rows.size(); ++i)
            if (strings->length(rows[i].first) != 0) names.push_back(strings->text(rows[i].first));
        return strings != nullptr;
    } catch (const std::bad_alloc&) {
        names.clear();
    }
    return false;
}

// A transform keeps a table's changes row by row: a two-byte mask, then the cells it
// names. A mask with its low bit set holds the first (mask >> 8) columns (a row added or
// replaced); any other names the key and the columns of its set bits (a row changed; one
// whose key is not there is not applied); 0, the key alone, deletes the row.
bool PackageFile::applyPropertyTransform(std::vector<std::string>& names) {
    try {
        const Strings* strings = this->strings();
        std::vector<unsigned char> table;
        if (!strings || !lacksTable("_Tables") || !lacksTable("_Columns") || !lacksTable("CustomAction"))
            return false;
        if (lacksTable("Property")) return true;
        if (!readTableStream("Property", table)) return false;
        std::vector<std::string> changed = names;
        std::unordered_set<std::string> present(names.begin(), names.end());  // a hostile file's rows are many
        const size_t width = strings->width;
        for (size_t at = 0; at < table.size();) {
            if (table.size() - at < 2) return false;
            const uint32_t mask = littleEndian(&table[at], 2);
            at += 2;
            const size_t cells = (mask & 1) ? mask >> 8 : (mask & 2) ? 2 : 1;
            if (((mask & 1) && (cells == 0 || cells > 2)) || (!(mask & 1) && (mask & ~2u)) ||
                table.size() - at < cells * width)
                return false;
            const uint32_t key = littleEndian(&table[at], width);
            at += cells * width;
            if (!strings->has(key) || strings->length(key) == 0) return false;
            const std::string name = strings->text(key);
            // A whole row adds its name; a change to a row not there adds nothing (the
            // installer does not apply it); a key alone deletes the row.
            if (mask == 0 && present.erase(name))
                changed.erase(std::find(changed.begin(), changed.end(), name));
            else if ((mask & 1) && present.insert(name).second)
                changed.push_back(name);
        }
        names.swap(changed);
        return true;
    } catch (const std::bad_alloc&) {
    }
    return false;
}

// _Columns describes every table but itself: the table's name, the column's number
// from 1, its name and its type, one two-byte integer each for the number and the type.
bool PackageFile::readTable(const char* table, std::vector<std::vector<Cell>>& rows) {
    rows.clear();
    const size_t nameLength = fa9::textLength(table);
    try {
        const Strings* pool = nameLength ? this->strings() : nullptr;
        std::vector<unsigned char> columnsTable, data;
        if (!pool || !readTableStream("_Columns", columnsTable)) return false;
        const Strings& strings = *pool;
        const size_t w = strings.width, described = columnsTable.size() / (2 * w + 4);
        if (columnsTable.size() % (2 * w + 4) != 0) return false;
        std::vector<int> types(kMaxColumns + 1, -1);  // by the column's number
        size_t count = 0;
        for (size_t row = 0; row < described; ++row) {
            const uint32_t owner = cellAt(columnsTable, described, 0, w, row);
            if (!strings.has(owner) || !strings.equals(owner, table, nameLength)) continue;
            const uint32_t number = cellAt(columnsTable, described, w, 2, row) ^ 0x8000;
            const uint32_t type = cellAt(columnsTable, described, 2 * w + 2, 2, row) ^ 0x8000;
            if (number == 0 || number > kMaxColumns || types[number] != -1 || (type & 0x8000)) return false;
            types[number] = static_cast<int>(type);
            ++count;
        }
        std::vector<size_t> widths;
        size_t rowWidth = 0;
        for (size_t c = 1; c <= count; ++c) {
            const int type = types[c], size = type & 0xFF;  // no type: the numbers leave a gap
            widths.push_back(type < 0                  ? 0
                             : isStreamColumn(type)    ? 2
                             : (type & kStringColumn) ? w
                                                      : size == 4 ? 4 : size <= 2 ? 2 : 0);
            if (widths.back() == 0) return false;
            rowWidth += widths.back();
        }
        if (count == 0 || !readTableStream(table, data) || data.size() % rowWidth != 0) return false;
        const size_t total = data.size() / rowWidth;
        uint64_t held = uint64_t(total) * (sizeof(std::vector<Cell>) + count * sizeof(Cell));
        if (held > kMaxTableBytes) return false;
        rows.assign(total, std::vector<Cell>(count));
        for (size_t c = 0, before = 0; c < count; before += widths[c], ++c) {
            const int type = types[c + 1];
            const bool text = (type & kStringColumn) && !isStreamColumn(type);
            for (size_t row = 0; row < total; ++row) {
                const uint32_t raw = cellAt(data, total, before, widths[c], row);
                Cell& cell = rows[row][c];
                if (raw == 0) continue;  // null
                cell.null = false;
                if (text) {
                    if (!strings.has(raw) || (held += strings.length(raw)) > kMaxTableBytes) return rows.clear(), false;
                    cell.text = strings.text(raw);
                } else if (widths[c] == 2) {
                    cell.number = static_cast<int>(raw) - 0x8000;
                } else {
                    cell.number = static_cast<int>(raw ^ 0x80000000u);
                }
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        rows.clear();
    }
    return false;
}
