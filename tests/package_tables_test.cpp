// Properties and tables read straight from package files: msibuild's (fuzz/corpus/make_rows_msi.sh),
// and string pools, _Columns and tables built here as msibuild never writes them or broken.
#include "trust/package_tables.h"
#include "winsim/control.h"
#include "winsim/package_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

namespace {

const char kPackage[] = "C:\\Windows\\Installer\\4f2a.msi";
using Lines = std::vector<std::string>;

// The reader takes no file by name, only one its caller holds.
DWORD openPackage(PackageFile& package) {
    unique_hfile file(CreateFileA(kPackage, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return package.openHeld(file.get());
}

// Values of `bytes` bytes each, little-endian, as string pools and tables store them.
std::string le(std::initializer_list<uint32_t> values, int bytes = 2) {
    std::string out;
    for (uint32_t v : values)
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> 8 * i);
    return out;
}
// A package of a string pool, its strings and these tables (one without rows has no stream), as stored.
std::string package(const std::string& pool, const std::string& strings,
                    const std::map<std::string, std::string>& tables) {
    std::map<std::string, std::string> all = tables;
    all["_StringPool"] = pool, all["_StringData"] = strings;
    std::vector<std::pair<std::u16string, std::string>> streams;
    for (const auto& [name, rows] : all)
        if (!rows.empty()) streams.emplace_back(u"\x4840" + winsim::msiStreamName(name), rows);
    return winsim::compoundFile(streams);
}
// The cells of `rows`, a row a line: null "-", a number, or a string.
Lines render(const std::vector<std::vector<PackageFile::Cell>>& rows) {
    Lines lines;
    for (const auto& row : rows) {
        lines.emplace_back();
        for (const PackageFile::Cell& cell : row)
            lines.back() += (cell.null ? "-" : cell.text.empty() ? std::to_string(cell.number) : cell.text) + " ";
    }
    return lines;
}

// A property whole, or nothing from a pool or table that is broken; names without the nameless row.
TEST(PackageFile, ReadsPropertiesThroughTheStringPool) {
    winsim::Machine machine;
    machine.copyFileIn(std::string(FA9_PACKAGE_DIR) + "/rows.msi", kPackage);
    const std::string made = machine.readFile(kPackage), pool = le({0, 0, 4, 1, 11, 1, 1, 1, 4, 1});
    const std::string data = "NameProductCodex{6A}", twoRows = le({1, 2, 3, 4});  // names, then values
    auto file = [](const std::string& ids, const std::string& strings, const std::string& rows) {
        return package(ids, strings, {{"Property", rows}});
    };
    const struct { const char* label; std::string bytes; const char* name; const char* value; } cases[] = {
        {"made by msibuild", made, "ProductCode", "{3D2C8A1E-6B7F-4C90-A1D2-E3F405162738}"},
        {"column by column", file(pool, data, twoRows), "ProductCode", "{6A}"},
        {"after a string of 64 KB",
         file(le({0, 0, 0, 1, 0, 1, 11, 1, 4, 1}), std::string(0x10000, 'x') + "ProductCode{6A}", le({2, 3})),
         "ProductCode", "{6A}"},
        {"after an unused id", file(le({0, 0, 0, 0, 11, 1, 4, 1}), "ProductCode{6A}", le({2, 3})), "ProductCode",
         "{6A}"},
        {"a name in another case", file(pool, data, twoRows), "productCode", nullptr},
        {"a value's id past the pool", file(pool, data, le({1, 2, 3, 5})), "ProductCode", nullptr},
        {"strings past their data", file(pool, "NameProductCode", twoRows), "ProductCode", nullptr},
        {"a long string's length missing", file(pool + le({0, 1}), data, twoRows), "ProductCode", nullptr},
        {"a table cut inside a row", file(pool, data, twoRows + "\x01"), "ProductCode", nullptr},
        {"a pool cut inside an entry", file(pool + "\x01", data, twoRows), "ProductCode", nullptr},
        {"no Property table", file(pool, data, ""), "ProductCode", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.bytes);
        PackageFile package;
        ASSERT_EQ(openPackage(package), 0u);
        std::string value = "x";
        EXPECT_EQ(package.readProperty(c.name, value), c.value != nullptr);
        EXPECT_EQ(value, c.value ? c.value : "");
    }
    machine.writeFile(kPackage, file(pool, data, le({2, 0, 4, 3})));  // a nameless row beside ProductCode
    PackageFile package;
    ASSERT_EQ(openPackage(package), 0u);
    Lines names{"x"};
    ASSERT_TRUE(package.readPropertyNames(names));
    EXPECT_EQ(names, Lines{"ProductCode"});
}

// Whole tables laid out as _Columns describes them, or nothing from a description or
// table that is broken.
TEST(PackageFile, ReadsTablesAsTheirColumnsAreDescribed) {
    winsim::Machine machine;
    machine.copyFileIn(std::string(FA9_PACKAGE_DIR) + "/rows.msi", kPackage);
    PackageFile made;
    ASSERT_EQ(openPackage(made), 0u);
    std::vector<std::vector<PackageFile::Cell>> rows;
    ASSERT_TRUE(made.readTable("CustomAction", rows));
    Lines seen = render(rows);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (Lines{"PreProcessInstallCA 1 FA9WOLT_DLL PreProcessInstallCA - ",
                           "RegisterWOLTKeysCA 3073 FA9WOLT_DLL RegisterWOLTKeysCA - ",
                           "RollbackWide -32767 FA9WOLT_DLL RemoveWOLTKeysCA -2147483647 ",
                           "SetARPINSTALLLOCATION 51 ARPINSTALLLOCATION - - "}));
    EXPECT_FALSE(made.readTable("Feature", rows)) << "not described";
    EXPECT_TRUE(rows.empty());

    // Built here: _Columns for T (a string, a two-byte integer or a stream, a four-byte
    // integer; numbers and types with their top bit flipped) and T's rows.
    const std::string data = "TabT";  // ids 1 to 4: "T", "a", "b", "T"
    const std::string pool = le({0, 0, 1, 1, 1, 1, 1, 1, 1, 1}), longIds = le({0, 0x8000, 1, 1, 1, 1, 1, 1, 1, 1});
    // _Columns' rows for T: columns named "a", "b", "a" (ids 2, 3, 2), as many as `numbers` holds.
    auto described = [](const std::string& numbers, std::initializer_list<uint32_t> types, int idBytes = 2) {
        const size_t n = numbers.size() / 2;
        return le({1, 1, 1}, idBytes).substr(0, n * idBytes) + numbers + le({2, 3, 2}, idBytes).substr(0, n * idBytes) +
               le(types);
    };
    const std::string numbers = le({0x8001, 0x8002, 0x8003}), columns = described(numbers, {0xAD48, 0x8502, 0x8104});
    auto file = [&](const std::string& cols, const std::string& t, const std::string& ids = "",
                    const std::string& text = "") {
        return package(ids.empty() ? pool : ids, text.empty() ? data : text, {{"_Columns", cols}, {"T", t}});
    };
    const std::string twoRows = le({2, 3}) + le({0x8005, 0}) + le({0x80000007, 0x7FFFFFFF}, 4);
    // Null rows, one more than kMaxTableBytes holds; 300 rows naming a string of 64 KB (id 5).
    using Cell = PackageFile::Cell;
    const size_t tooMany = PackageFile::kMaxTableBytes / (sizeof(std::vector<Cell>) + 3 * sizeof(Cell)) + 1;
    std::string longTexts(300 * 8, '\0'), longPool = pool + le({0, 1}) + le({0x10000}, 4);
    for (size_t i = 0; i < 300; ++i) longTexts[2 * i] = 5;
    const Lines read = {"a 5 7 ", "b - -1 "}, none;
    const struct { const char* label; std::string bytes; Lines rows; } cases[] = {
        {"column by column", file(columns, twoRows), read},
        {"three-byte ids, a stream column two bytes wide",
         file(described(numbers, {0xAD48, 0x8900, 0x8104}, 3), le({2, 3}, 3) + twoRows.substr(4), longIds), read},
        {"a table cut inside a row", file(columns, twoRows + "\x01"), none},
        {"a string id past the pool", file(columns, le({2, 9}) + le({0x8005, 0}) + le({1, 1}, 4)), none},
        {"the column numbers leave a gap", file(described(le({0x8001, 0x8003}), {0xAD48, 0x8502}), twoRows), none},
        {"a column numbered twice", file(described(le({0x8001, 0x8002, 0x8002}), {0xAD48, 0x8502, 0x8104}), twoRows),
         none},
        {"an integer of three bytes", file(described(numbers, {0xAD48, 0x8502, 0x8103}), twoRows), none},
        {"types stored unflipped", file(described(numbers, {0x2D48, 0x0502, 0x0104}), twoRows), none},
        {"a description cut inside a row", file(columns + "\x01", twoRows), none},
        {"more rows than kMaxTableBytes holds", file(columns, std::string(8 * tooMany, '\0')), none},
        {"more text than kMaxTableBytes holds", file(columns, longTexts, longPool, data + std::string(0x10000, 'x')),
         none},
        {"no stream for the table", file(columns, ""), none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.bytes);
        PackageFile built;
        ASSERT_EQ(openPackage(built), 0u);
        EXPECT_EQ(built.readTable("T", rows), !c.rows.empty());
        EXPECT_EQ(render(rows), c.rows);
    }
}

// A transform's Property rows applied to the names (a row a mask, then the cells it names),
// or nothing when it changes what else the library reads or a row cannot be read.
TEST(PackageFile, AppliesATransformsPropertyRowsToTheNames) {
    winsim::Machine machine;
    const std::string pool = le({0, 0, 1, 1, 1, 1, 3, 1, 1, 1}), data = "ABNEWx";  // ids 1 A, 2 B, 3 NEW, 4 x
    const std::string wide = le({0, 0x8000, 1, 1, 1, 1, 3, 1, 1, 1});             // the same with 3-byte ids
    auto file = [&](const std::string& rows, std::map<std::string, std::string> more = {}) {
        more["Property"] = rows;
        return package(pool, data, more);
    };
    const struct { const char* label; std::string bytes; std::optional<Lines> names; } cases[] = {
        {"a row added whole", file(le({0x0201, 3, 4})), Lines{"A", "B", "NEW"}},
        {"a row replaced keeps its name", file(le({0x0201, 1, 4})), Lines{"A", "B"}},
        {"a change to a key not there adds nothing", file(le({0x0002, 3, 4})), Lines{"A", "B"}},
        {"the key alone of a row added", file(le({0x0101, 3})), Lines{"A", "B", "NEW"}},
        {"a row deleted", file(le({0, 1})), Lines{"B"}},
        {"rows in their order", file(le({0x0201, 3, 4, 0, 3, 0, 2})), Lines{"A"}},
        {"three-byte string ids", package(wide, data, {{"Property", le({0x0201}) + le({3, 4}, 3)}}),
         Lines{"A", "B", "NEW"}},
        {"no Property rows", file(""), Lines{"A", "B"}},
        {"more columns than the table's", file(le({0x0301, 3, 4, 4})), std::nullopt},
        {"a bit of a column the table lacks", file(le({0x0004, 3})), std::nullopt},
        {"a row cut short", file(le({0x0201, 3})), std::nullopt},
        {"a key past the pool", file(le({0x0201, 9, 4})), std::nullopt},
        {"a nameless key", file(le({0x0201, 0, 4})), std::nullopt},
        {"CustomAction changed too", file(le({0x0201, 3, 4}), {{"CustomAction", le({0, 1})}}), std::nullopt},
        {"a column added", file("", {{"_Columns", le({0, 1})}}), std::nullopt},
        {"a table added", file("", {{"_Tables", le({0, 3})}}), std::nullopt},
        {"no string pool", winsim::compoundFile({}), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.bytes);
        PackageFile transform;
        ASSERT_EQ(openPackage(transform), 0u);
        Lines names{"A", "B"};
        EXPECT_EQ(transform.applyPropertyTransform(names), c.names.has_value());
        EXPECT_EQ(names, c.names.value_or(Lines{"A", "B"}));
    }
}

}  // namespace
