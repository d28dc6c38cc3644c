// Rows, properties and tables read straight from package files (and the compound file
// under them): a real one made by msibuild (fuzz/corpus/make_rows_msi.sh), it broken as a
// planted file could be, and files built here for what msibuild never writes (4096-byte
// sectors, more FAT sectors than the header names, 3-byte ids, 64 KB strings, huge tables).
#include "trust/package_tables.h"
#include "winsim/control.h"
#include "winsim/package_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kPackage[] = "C:\\Windows\\Installer\\4f2a.msi";
const uint32_t kEnd = 0xFFFFFFFE, kNone = 0xFFFFFFFF;

// The bytes of make.sh's rows.
std::vector<unsigned char> pattern(size_t size, uint32_t seed) {
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((uint32_t(i) * 2654435761u + seed * 40503u) >> 13);
    return bytes;
}

void put(std::string& file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(value >> 8 * i);
}
std::string with(std::string file, size_t at, uint32_t value) { return put(file, at, value), file; }
uint32_t get(const std::string& f, size_t at) { return uint32_t(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 | uint8_t(f[at + 2]) << 16) | uint32_t(uint8_t(f[at + 3])) << 24; }

// A compound file of 2^shift-byte sectors: the directory (the root and Binary.big, whose
// entry starts at (1 << shift) + 128) in sector 0, the FAT after it (past 109 sectors,
// named by the DIFAT sectors after it), and pattern(size, 5) in every other sector from
// `at` on, the last one's successor the first when `loop`.
std::string compound(uint32_t shift, uint32_t at, uint32_t size, bool loop = false) {
    const uint32_t sector = 1u << shift, per = sector / 4, count = (size + sector - 1) / sector, used = at + 2 * count;
    const uint32_t fats = (used + per - 1) / per, difats = fats > 109 ? (fats - 109 + per - 2) / (per - 1) : 0;
    std::string file(size_t(used + 1) * sector, '\0');
    const size_t big = sector + 128;
    for (const auto& [offset, value] : {std::pair<size_t, uint32_t>{0, 0xE011CFD0}, {4, 0xE11AB1A1},
             {0x18, (shift == 9 ? 3u : 4u) << 16 | 0x3E}, {0x1C, shift << 16 | 0xFFFE}, {0x20, 6}, {0x2C, fats},
             {0x38, 4096}, {0x3C, kEnd}, {0x44, difats ? fats + 1 : kEnd}, {0x48, difats}, {sector + 0x40, 5u << 16},
             {sector + 0x44, kNone}, {sector + 0x48, kNone}, {sector + 0x4C, 1}, {sector + 0x74, kEnd},
             {big, 0x4131430B}, {big + 4, 0x417E4735}, {big + 8, 0x42AC}, {big + 0x40, 2u << 16 | 12},  // "Bi" "na" "ry" ".b" "ig"
             {big + 0x44, kNone}, {big + 0x48, kNone}, {big + 0x4C, kNone}, {big + 0x74, at}, {big + 0x78, size}})
        put(file, offset, value);
    auto fat = [&](uint32_t s, uint32_t next) { put(file, size_t(s / per + 2) * sector + s % per * 4, next); };
    fat(0, kEnd);
    for (uint32_t k = 0; k < fats; ++k) {
        put(file, k < 109 ? 0x4C + 4 * k : size_t(fats + 2 + (k - 109) / (per - 1)) * sector + (k - 109) % (per - 1) * 4, 1 + k);
        fat(1 + k, 0xFFFFFFFD);
    }
    for (uint32_t d = 0; d < difats; ++d) put(file, size_t(fats + 3 + d) * sector - 4, d + 1 < difats ? fats + 2 + d : kEnd);
    const std::vector<unsigned char> data = pattern(size, 5);
    for (uint32_t i = 0, s = at; i < count; ++i, s += 2) {
        fat(s, i + 1 < count ? s + 2 : loop ? at : kEnd);
        memcpy(&file[size_t(s + 1) * sector], &data[size_t(i) * sector], std::min<size_t>(sector, size - size_t(i) * sector));
    }
    return file;
}

// Each row read whole, while the installer holds the package open for writing (sharing
// reading only), from the path or through a handle held open (as the gate hands over the
// file it checked); broken or planted files refused at once or row by row, never a loop or crash.
TEST(PackageFile, ReadsRowsAndRefusesBrokenFiles) {
    winsim::Machine machine;
    machine.copyFileIn(std::string(FA9_PACKAGE_DIR) + "/rows.msi", kPackage);
    const std::string good = machine.readFile(kPackage);
    // rows.msi's directory lies in adjacent sectors; its first FAT sectors are named by the header.
    const uint32_t dir = (get(good, 0x30) + 1) * 512, child = dir + 128 * get(good, dir + 0x4C);
    auto fatEntry = [&](uint32_t s) { return (get(good, 0x4C + 4 * (s / 128)) + 1) * 512 + s % 128 * 4; };
    const uint32_t large = 8;  // msibuild writes the rows' data first, "large" last
    const size_t small = good.find("\x0B\x43\x31\x41\x35\x47\xBE\x45\x30\x41\xEF\x43");  // "Binary.small"'s entry
    ASSERT_NE(small, std::string::npos);
    // size 0: not read
    const struct { const char* label; std::string bytes; DWORD opened; std::string row; uint32_t size, seed; } cases[] = {
        {"in the mini stream", good, 0, "small", 1000, 1},
        {"a name of an odd length", good, 0, "Fa9_row.v2", 4095, 2},
        {"the cutoff's size", good, 0, "cut.4096", 4096, 3},
        {"in regular sectors", good, 0, "large", 70000, 4},
        {"another case", good, 0, "Small", 0, 0},
        {"a prefix in whole units", good, 0, "sma", 0, 0},
        {"too many units for an entry", good, 0, std::string(30, '-'), 0, 0},
        {"too long for an entry", good, 0, std::string(60, 'l'), 0, 0},
        {"4096-byte sectors", compound(12, 3, 5000), 0, "big", 5000, 5},
        {"sectors scattered by a FAT past the header's 109", compound(9, 30400, 5000), 0, "big", 5000, 5},
        {"junk in a version 3 size's high half", with(compound(9, 3, 5000), 512 + 128 + 0x7C, 7), 0, "big", 5000, 5},
        {"a version 4 size's high half set", with(compound(12, 3, 5000), 4096 + 128 + 0x7C, 1), 0, "big", 0, 0},
        {"a chain shorter than its size", with(compound(9, 3, 5000), 512 + 128 + 0x78, 6000), 0, "big", 0, 0},
        {"a chain in a cycle", compound(9, 3, 5000, true), 0, "big", 0, 0},
        {"a start outside the file", with(compound(9, 3, 5000), 512 + 128 + 0x74, 5000), 0, "big", 0, 0},
        {"empty", "", ERROR_INVALID_DATA, "small", 0, 0},
        {"garbage", std::string(4096, 'x'), ERROR_INVALID_DATA, "small", 0, 0},
        {"version 5", with(good, 0x18, 0x5003E), ERROR_INVALID_DATA, "small", 0, 0},
        {"cut in half", good.substr(0, good.size() / 2), ERROR_FILE_CORRUPT, "small", 0, 0},
        {"the directory's chain in a cycle", with(good, fatEntry(dir / 512 - 1), dir / 512 - 1), ERROR_FILE_CORRUPT, "small", 0, 0},
        {"more FAT sectors than the file has", with(good, 0x2C, 0x7FFFFFFF), ERROR_FILE_CORRUPT, "small", 0, 0},
        {"more FAT sectors than the header names", with(good, 0x2C, 120), ERROR_FILE_CORRUPT, "small", 0, 0},
        {"a row's chain in a cycle", with(good, fatEntry(large), large), 0, "large", 0, 0},
        {"the root's child outside the directory", with(good, dir + 0x4C, 0x100000), 0, "small", 0, 0},
        {"an entry its own sibling", with(good, child + 0x48, get(good, dir + 0x4C)), 0, "small", 0, 0},
        {"a row stored as a storage", with(good, small + 0x40, 0x1000E), 0, "small", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.bytes);
        unique_hfile installer(CreateFileA(kPackage, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        PackageFile package;
        ASSERT_EQ(package.open(kPackage), c.opened);
        for (int pass = 0; pass < 3; ++pass) {  // a second read finds the same, and one through the held handle
            if (pass == 2) ASSERT_EQ(package.openHeld(installer.get()), c.opened);
            std::vector<unsigned char> data(3, 'x');
            EXPECT_EQ(package.readBinary(c.row.c_str(), data), c.size != 0);
            EXPECT_EQ(data, pattern(c.size, c.seed));
        }
        package.close();  // the holder's handle is its own
        EXPECT_EQ(GetFileSize(installer.get(), nullptr), c.bytes.size());
    }
    EXPECT_EQ(PackageFile().open("C:\\Windows\\Installer\\none.msi"), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(PackageFile().openHeld(INVALID_HANDLE_VALUE), DWORD(ERROR_INVALID_HANDLE));
}

// Values of `bytes` bytes each, little-endian, as string pools and tables store them.
std::string le(std::initializer_list<uint32_t> values, int bytes = 2) {
    std::string out;
    for (uint32_t v : values)
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> 8 * i);
    return out;
}
// A package holding only a string pool, its strings and a Property table, as stored.
std::string tables(const std::string& pool, const std::string& data, const std::string& property) {
    const std::u16string table = u"\x4840";
    return winsim::compoundFile({{table + winsim::msiStreamName("_StringPool"), pool},
                                 {table + winsim::msiStreamName("_StringData"), data},
                                 {table + winsim::msiStreamName("Property"), property}});
}

// A property whole, or nothing from a pool or table that is broken.
TEST(PackageFile, ReadsPropertiesThroughTheStringPool) {
    winsim::Machine machine;
    machine.copyFileIn(std::string(FA9_PACKAGE_DIR) + "/rows.msi", kPackage);
    const std::string made = machine.readFile(kPackage), pool = le({0, 0, 4, 1, 11, 1, 1, 1, 4, 1});
    const std::string data = "NameProductCodex{6A}", twoRows = le({1, 2, 3, 4});  // names, then values
    const struct { const char* label; std::string bytes; const char* name; const char* value; } cases[] = {
        {"made by msibuild", made, "ProductCode", "{3D2C8A1E-6B7F-4C90-A1D2-E3F405162738}"},
        {"made by msibuild, another row", made, "ProductName", "Rows"},
        {"column by column", tables(pool, data, twoRows), "ProductCode", "{6A}"},
        {"three-byte ids", tables(le({0, 0x8000, 4, 1, 11, 1, 1, 1, 4, 1}), data, le({1, 2, 3, 4}, 3)), "ProductCode", "{6A}"},
        {"after a string of 64 KB", tables(le({0, 0, 0, 1, 0, 1, 11, 1, 4, 1}), std::string(0x10000, 'x') + "ProductCode{6A}",
                                           le({2, 3})), "ProductCode", "{6A}"},
        {"after an unused id", tables(le({0, 0, 0, 0, 11, 1, 4, 1}), "ProductCode{6A}", le({2, 3})), "ProductCode", "{6A}"},
        {"a name in another case", tables(pool, data, twoRows), "productCode", nullptr},
        {"a name not in the table", made, "UpgradeCode", nullptr},
        {"a value's id past the pool", tables(pool, data, le({1, 2, 3, 5})), "ProductCode", nullptr},
        {"strings past their data", tables(pool, "NameProductCode", twoRows), "ProductCode", nullptr},
        {"a long string's length missing", tables(pool + le({0, 1}), data, twoRows), "ProductCode", nullptr},
        {"a table cut inside a row", tables(pool, data, twoRows + "\x01"), "ProductCode", nullptr},
        {"a pool cut inside an entry", tables(pool + "\x01", data, twoRows), "ProductCode", nullptr},
        {"no Property table", winsim::compoundFile(winsim::msiPropertyTable({})), "ProductCode", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.bytes);
        PackageFile package;
        ASSERT_EQ(package.open(kPackage), 0u);
        std::string value = "x";
        EXPECT_EQ(package.readProperty(c.name, value), c.value != nullptr);
        EXPECT_EQ(value, c.value ? c.value : "");
    }
}

// Whole tables laid out as _Columns describes them, or nothing from a description or
// table that is broken.
TEST(PackageFile, ReadsTablesAsTheirColumnsAreDescribed) {
    winsim::Machine machine;
    machine.copyFileIn(std::string(FA9_PACKAGE_DIR) + "/rows.msi", kPackage);
    const std::string made = machine.readFile(kPackage);
    PackageFile package;
    ASSERT_EQ(package.open(kPackage), 0u);
    std::vector<std::string> names{"x"};
    ASSERT_TRUE(package.readPropertyNames(names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ProductCode", "ProductName"}));
    std::vector<std::vector<PackageFile::Cell>> rows;
    ASSERT_TRUE(package.readTable("CustomAction", rows));
    std::vector<std::string> seen;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 5u);
        std::string line;
        for (const PackageFile::Cell& cell : row)
            line += (cell.null ? std::string("-") : cell.text.empty() ? std::to_string(cell.number) : cell.text) + " ";
        seen.push_back(line);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "PreProcessInstallCA 1 FA9WOLT_DLL PreProcessInstallCA - ",
                        "RegisterWOLTKeysCA 3073 FA9WOLT_DLL RegisterWOLTKeysCA - ",
                        "RollbackWide -32767 FA9WOLT_DLL RemoveWOLTKeysCA -2147483647 ",
                        "SetARPINSTALLLOCATION 51 ARPINSTALLLOCATION - - ",
                    }));
    EXPECT_FALSE(package.readTable("Feature", rows)) << "not described";
    EXPECT_TRUE(rows.empty());

    // Built here: _Columns for T (a string, a two-byte integer or a stream, a four-byte
    // integer; numbers and types with their top bit flipped) and T's rows.
    const std::string data = "TabT";  // ids 1 to 4: "T", "a", "b", "T"
    const std::string pool = le({0, 0, 1, 1, 1, 1, 1, 1, 1, 1}), longIds = le({0, 0x8000, 1, 1, 1, 1, 1, 1, 1, 1});
    auto described = [](const std::string& tables, const std::string& numbers, const std::string& names,
                        std::initializer_list<uint32_t> types) { return tables + numbers + names + le(types); };
    const std::string numbers = le({0x8001, 0x8002, 0x8003});
    const std::string columns = described(le({1, 1, 1}), numbers, le({2, 3, 2}), {0xAD48, 0x8502, 0x8104});
    auto file = [&](const std::string& cols, const std::string& t, const std::string& ids = std::string(),
                    const std::string& text = std::string()) {
        const std::u16string table = u"\x4840";  // no rows: no stream for T
        std::vector<std::pair<std::u16string, std::string>> streams{
            {table + winsim::msiStreamName("_StringPool"), ids.empty() ? pool : ids},
            {table + winsim::msiStreamName("_StringData"), text.empty() ? data : text},
            {table + winsim::msiStreamName("_Columns"), cols}};
        if (!t.empty()) streams.push_back({table + winsim::msiStreamName("T"), t});
        return winsim::compoundFile(streams);
    };
    const std::string twoRows = le({2, 3}) + le({0x8005, 0}) + le({0x80000007, 0x7FFFFFFF}, 4);
    // Null rows, one more than kMaxTableBytes holds; 300 rows naming a string of 64 KB (id 5).
    using Cell = PackageFile::Cell;
    const size_t tooMany = PackageFile::kMaxTableBytes / (sizeof(std::vector<Cell>) + 3 * sizeof(Cell)) + 1;
    std::string longTexts(300 * 8, '\0'), longPool = pool + le({0, 1}) + le({0x10000}, 4);
    for (size_t i = 0; i < 300; ++i) longTexts[2 * i] = 5;
    const struct { const char* label; std::string bytes; size_t rows; } cases[] = {
        {"column by column", file(columns, twoRows), 2},
        {"three-byte ids, a stream column two bytes wide",
         file(described(le({1, 1, 1}, 3), numbers, le({2, 3, 2}, 3), {0xAD48, 0x8900, 0x8104}),
              le({2, 3}, 3) + le({0x8005, 0}) + le({0x80000007, 0x7FFFFFFF}, 4), longIds),
         2},
        {"a table cut inside a row", file(columns, twoRows + "\x01"), 0},
        {"a string id past the pool", file(columns, le({2, 9}) + le({0x8005, 0}) + le({1, 1}, 4)), 0},
        {"the column numbers leave a gap",
         file(described(le({1, 1}), le({0x8001, 0x8003}), le({2, 3}), {0xAD48, 0x8502}), twoRows), 0},
        {"a column numbered twice",
         file(described(le({1, 1, 1}), le({0x8001, 0x8002, 0x8002}), le({2, 3, 2}), {0xAD48, 0x8502, 0x8104}), twoRows),
         0},
        {"an integer of three bytes",
         file(described(le({1, 1, 1}), numbers, le({2, 3, 2}), {0xAD48, 0x8502, 0x8103}), twoRows), 0},
        {"types stored unflipped", file(described(le({1, 1, 1}), numbers, le({2, 3, 2}), {0x2D48, 0x0502, 0x0104}), twoRows),
         0},
        {"a description cut inside a row", file(columns + "\x01", twoRows), 0},
        {"more rows than kMaxTableBytes holds", file(columns, std::string(8 * tooMany, '\0')), 0},
        {"more text than kMaxTableBytes holds", file(columns, longTexts, longPool, data + std::string(0x10000, 'x')), 0},
        {"no stream for the table", file(columns, ""), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.bytes);
        PackageFile built;
        ASSERT_EQ(built.open(kPackage), 0u);
        EXPECT_EQ(built.readTable("T", rows), c.rows != 0);
        ASSERT_EQ(rows.size(), c.rows);
        if (c.rows == 0) continue;
        EXPECT_EQ(rows[0][0].text, "a");
        EXPECT_EQ(rows[1][0].text, "b");
        EXPECT_EQ(rows[0][1].number, 5);
        EXPECT_TRUE(rows[0][1].text.empty());
        EXPECT_TRUE(rows[1][1].null);
        EXPECT_EQ(rows[0][2].number, 7);
        EXPECT_EQ(rows[1][2].number, -1);
    }
    // A Property row without a name (id 0) gives no name.
    machine.writeFile(kPackage, tables(le({0, 0, 4, 1, 11, 1, 1, 1, 4, 1}), "NameProductCodex{6A}", le({2, 0, 4, 3})));
    PackageFile nameless;
    ASSERT_EQ(nameless.open(kPackage), 0u);
    ASSERT_TRUE(nameless.readPropertyNames(names));
    EXPECT_EQ(names, std::vector<std::string>{"ProductCode"});
}

}  // namespace
