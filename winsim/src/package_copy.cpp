// The installer's cached copy of the package: a version-3 compound file holding a
// session's Binary rows as streams and its Property and CustomAction tables. Layout, in
// sector order: FAT, DIFAT, directory, mini FAT, mini stream, then each large stream;
// every chain is contiguous (unless a test's shape scatters it), which keeps the writer a
// single pass over sizes known in advance.
#include "winsim/package_copy.h"

#include "winsim/control.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>

namespace winsim {

namespace {

constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr size_t kMiniSector = 64;
constexpr size_t kMiniCutoff = 4096;
constexpr size_t kHeaderDifat = 109;
constexpr size_t kEntrySize = 128;
constexpr size_t kMaxNameUnits = 31;          // 64 bytes with the terminator
constexpr uint64_t kMaxStream = 0x80000000;   // a version-3 file's largest stream

size_t divUp(size_t n, size_t d) { return (n + d - 1) / d; }

void put16(std::string& b, size_t at, uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, size_t at, uint32_t v) {
    put16(b, at, static_cast<uint16_t>(v & 0xFFFF));
    put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// Directory order folds case the simple way; Latin-1 is enough for the names given
// here (encoded installer names and ASCII).
char16_t upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    return c;
}

// Siblings are ordered shorter name first, then unit by unit in upper case.
bool nameLess(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
    return false;
}

struct Entry {
    std::u16string name;
    const std::string* data = nullptr;
    uint32_t left = kNoStream, right = kNoStream;
    bool red = false;
    uint32_t start = kEndOfChain;
};

// A balanced tree of entries [lo, hi): the middle one roots it. The levels above the
// deepest are full, so black nodes there and red ones on an unfilled last level give
// every path the same black count.
uint32_t buildTree(std::vector<Entry>& entries, size_t lo, size_t hi, size_t depth, size_t fullLevels) {
    if (lo >= hi) return kNoStream;
    size_t mid = lo + (hi - lo) / 2;
    entries[mid].left = buildTree(entries, lo, mid, depth + 1, fullLevels);
    entries[mid].right = buildTree(entries, mid + 1, hi, depth + 1, fullLevels);
    entries[mid].red = depth >= fullLevels;
    return static_cast<uint32_t>(mid + 1);  // stream ids follow the root entry (id 0)
}

void writeEntry(std::string& out, size_t at, const std::u16string& name, uint8_t type, bool red,
                uint32_t left, uint32_t right, uint32_t child, uint32_t start, uint32_t size) {
    for (size_t i = 0; i < name.size(); ++i) put16(out, at + 2 * i, static_cast<uint16_t>(name[i]));
    put16(out, at + 0x40, static_cast<uint16_t>(name.empty() ? 0 : 2 * (name.size() + 1)));
    out[at + 0x42] = static_cast<char>(type);
    out[at + 0x43] = static_cast<char>(red ? 0 : 1);
    put32(out, at + 0x44, left);
    put32(out, at + 0x48, right);
    put32(out, at + 0x4C, child);
    put32(out, at + 0x74, start);
    put32(out, at + 0x78, size);  // the high half stays zero in version 3
}

}  // namespace

std::string compoundFile(const std::vector<std::pair<std::u16string, std::string>>& streams,
                         const std::string& rootClsid, const CompoundShape& shape) {
    if (rootClsid.size() != 16) throw std::invalid_argument("compound file: a CLSID has 16 bytes");
    if (shape.sectorShift != 9 && shape.sectorShift != 12)
        throw std::invalid_argument("compound file: sectors of 512 or 4096 bytes");
    const size_t sectorSize = size_t{1} << shape.sectorShift, idsPerSector = sectorSize / 4;
    std::vector<Entry> entries;
    for (const auto& [name, data] : streams) {
        if (name.empty() || name.size() > kMaxNameUnits)
            throw std::invalid_argument("compound file: a stream name must have 1 to 31 UTF-16 units");
        if (name.find_first_of(u"/\\:!") != std::u16string::npos)
            throw std::invalid_argument("compound file: a stream name holds '/', '\\', ':' or '!'");
        if (data.size() > kMaxStream)
            throw std::length_error("compound file: a version-3 stream holds at most 2 GB");
        entries.push_back({name, &data});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return nameLess(a.name, b.name); });
    for (size_t i = 1; i < entries.size(); ++i)
        if (!nameLess(entries[i - 1].name, entries[i].name))
            throw std::invalid_argument("compound file: two streams have the same name");

    // Sizes first: every region's place follows from them. A scattered stream takes twice
    // its sectors, every other one free.
    const size_t spread = shape.scattered ? 2 : 1;
    size_t miniSectors = 0, largeSectors = shape.freeSectors;
    for (const Entry& e : entries) {
        if (e.data->size() < kMiniCutoff)
            miniSectors += divUp(e.data->size(), kMiniSector);
        else
            largeSectors += spread * divUp(e.data->size(), sectorSize);
    }
    const size_t dirSectors = divUp((entries.size() + 1) * kEntrySize, sectorSize);
    const size_t miniFatSectors = divUp(miniSectors, idsPerSector);
    const size_t miniStreamSectors = divUp(miniSectors * kMiniSector, sectorSize);
    const size_t others = dirSectors + miniFatSectors + miniStreamSectors + largeSectors;
    // The FAT maps itself and the DIFAT too: grow both until they cover everything.
    size_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        size_t fat = divUp(others + fatSectors + difatSectors, idsPerSector);
        size_t difat = fat > kHeaderDifat ? divUp(fat - kHeaderDifat, idsPerSector - 1) : 0;
        if (fat == fatSectors && difat == difatSectors) break;
        fatSectors = fat;
        difatSectors = difat;
    }
    const size_t total = fatSectors + difatSectors + others;
    if (total > kMaxRegSect || miniSectors * kMiniSector > kMaxStream)  // the root's size is 32 bits too
        throw std::length_error("compound file: too large for version 3");

    std::vector<uint32_t> fat(fatSectors * idsPerSector, kFreeSect);
    std::vector<uint32_t> miniFat(miniFatSectors * idsPerSector, kFreeSect);
    // `count` sectors from `first`, `step` apart; the last one's successor `last`.
    auto chain = [](std::vector<uint32_t>& table, size_t first, size_t count, size_t step = 1,
                    uint32_t last = kEndOfChain) {
        for (size_t i = 0; i < count; ++i)
            table[first + step * i] = i + 1 < count ? static_cast<uint32_t>(first + step * (i + 1)) : last;
    };
    size_t next = 0;
    for (size_t i = 0; i < fatSectors; ++i) fat[next++] = kFatSect;
    const size_t difatStart = next;
    for (size_t i = 0; i < difatSectors; ++i) fat[next++] = kDifSect;
    const size_t dirStart = next;
    chain(fat, dirStart, dirSectors, 1, shape.directoryLooped ? static_cast<uint32_t>(dirStart) : kEndOfChain);
    next += dirSectors;
    const size_t miniFatStart = next;
    chain(fat, miniFatStart, miniFatSectors);
    next += miniFatSectors;
    const size_t miniStreamStart = next;
    chain(fat, miniStreamStart, miniStreamSectors);
    next += miniStreamSectors + shape.freeSectors;
    size_t nextMini = 0;
    for (Entry& e : entries) {
        const size_t size = e.data->size();
        if (size == 0) continue;  // an empty stream owns no sector: ENDOFCHAIN
        if (size < kMiniCutoff) {
            e.start = static_cast<uint32_t>(nextMini);
            chain(miniFat, nextMini, divUp(size, kMiniSector));
            nextMini += divUp(size, kMiniSector);
        } else {
            e.start = static_cast<uint32_t>(next);
            chain(fat, next, divUp(size, sectorSize), spread, shape.looped ? e.start : kEndOfChain);
            next += spread * divUp(size, sectorSize);
        }
    }

    std::string out(sectorSize * (1 + total), '\0');
    auto sectorAt = [sectorSize](size_t sector) { return sectorSize * (1 + sector); };

    // Header.
    out.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    put16(out, 0x18, 0x003E);  // minor version
    put16(out, 0x1A, static_cast<uint16_t>(shape.majorVersion ? shape.majorVersion : shape.sectorShift == 9 ? 3 : 4));
    put16(out, 0x1C, 0xFFFE);  // little-endian
    put16(out, 0x1E, static_cast<uint16_t>(shape.sectorShift));
    put16(out, 0x20, 6);       // mini sector shift
    if (shape.sectorShift == 12) put32(out, 0x28, static_cast<uint32_t>(dirSectors));  // version 3 keeps it zero
    put32(out, 0x2C, shape.fatSectors.value_or(static_cast<uint32_t>(fatSectors)));
    put32(out, 0x30, static_cast<uint32_t>(dirStart));
    put32(out, 0x38, static_cast<uint32_t>(kMiniCutoff));
    put32(out, 0x3C, miniFatSectors ? static_cast<uint32_t>(miniFatStart) : kEndOfChain);
    put32(out, 0x40, static_cast<uint32_t>(miniFatSectors));
    put32(out, 0x44, difatSectors ? static_cast<uint32_t>(difatStart) : kEndOfChain);
    put32(out, 0x48, static_cast<uint32_t>(difatSectors));
    for (size_t i = 0; i < kHeaderDifat; ++i)
        put32(out, 0x4C + 4 * i, i < fatSectors ? static_cast<uint32_t>(i) : kFreeSect);

    // DIFAT sectors: a sector's worth of FAT sector numbers less one, then the next DIFAT sector.
    for (size_t d = 0; d < difatSectors; ++d) {
        const size_t at = sectorAt(difatStart + d);
        for (size_t i = 0; i + 1 < idsPerSector; ++i) {
            size_t fatIndex = kHeaderDifat + d * (idsPerSector - 1) + i;
            put32(out, at + 4 * i, fatIndex < fatSectors ? static_cast<uint32_t>(fatIndex) : kFreeSect);
        }
        put32(out, at + sectorSize - 4, d + 1 < difatSectors ? static_cast<uint32_t>(difatStart + d + 1) : kEndOfChain);
    }
    for (size_t i = 0; i < fat.size(); ++i) put32(out, sectorAt(0) + 4 * i, fat[i]);
    for (size_t i = 0; i < miniFat.size(); ++i) put32(out, sectorAt(miniFatStart) + 4 * i, miniFat[i]);

    // Directory: the root entry, the streams in name order, then unused entries.
    const size_t n = entries.size();
    size_t fullLevels = 0;
    while ((size_t{2} << fullLevels) - 1 <= n) ++fullLevels;
    const uint32_t top = buildTree(entries, 0, n, 0, fullLevels);
    const size_t dir = sectorAt(dirStart);
    writeEntry(out, dir, u"Root Entry", 5, false, kNoStream, kNoStream, shape.rootChild.value_or(top),
               miniSectors ? static_cast<uint32_t>(miniStreamStart) : kEndOfChain,
               static_cast<uint32_t>(miniSectors * kMiniSector));
    out.replace(dir + 0x50, 16, rootClsid);
    for (size_t i = 0; i < n; ++i) {
        const Entry& e = entries[i];
        const bool large = e.data->size() >= kMiniCutoff;
        const size_t at = dir + kEntrySize * (i + 1);
        const uint32_t right = shape.ownSibling ? static_cast<uint32_t>(i + 1) : e.right;
        const uint32_t start = large && shape.start ? *shape.start : e.start;
        writeEntry(out, at, e.name, shape.entryType, e.red, e.left, right, kNoStream, start,
                   static_cast<uint32_t>(static_cast<int64_t>(e.data->size()) + (large ? shape.sizeDelta : 0)));
        put32(out, at + 0x7C, shape.sizeHigh);
    }
    for (size_t i = n + 1; i < dirSectors * sectorSize / kEntrySize; ++i)  // unused: zero but for the links
        for (size_t link = 0x44; link <= 0x4C; link += 4) put32(out, dir + kEntrySize * i + link, kNoStream);

    // Stream contents, a scattered stream's sector by sector.
    for (const Entry& e : entries) {
        if (e.data->empty()) continue;
        if (e.data->size() < kMiniCutoff) {
            out.replace(sectorAt(miniStreamStart) + kMiniSector * e.start, e.data->size(), *e.data);
            continue;
        }
        for (size_t k = 0; k * sectorSize < e.data->size(); ++k)
            out.replace(sectorAt(e.start + spread * k), std::min(sectorSize, e.data->size() - k * sectorSize),
                        *e.data, k * sectorSize, sectorSize);
    }
    return out;
}

std::u16string msiStreamName(const std::string& tableDotKey) {
    auto code = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
        if (c >= 'a' && c <= 'z') return c - 'a' + 36;
        if (c == '.') return 62;
        if (c == '_') return 63;
        return -1;
    };
    std::u16string out;
    for (size_t i = 0; i < tableDotKey.size(); ++i) {
        const char c = tableDotKey[i];
        if (static_cast<unsigned char>(c) >= 0x80)
            throw std::invalid_argument("installer stream name: only ASCII names are encoded here");
        const int first = code(c);
        if (first < 0) {
            out.push_back(static_cast<char16_t>(c));
            continue;
        }
        const int second = i + 1 < tableDotKey.size() ? code(tableDotKey[i + 1]) : -1;
        if (second >= 0) {
            out.push_back(static_cast<char16_t>(0x3800 + first + (second << 6)));
            ++i;
        } else {
            out.push_back(static_cast<char16_t>(0x4800 + first));
        }
    }
    return out;
}

std::vector<std::pair<std::u16string, std::string>> msiTables(const std::vector<MsiTable>& tables) {
    std::string pool(4, '\0'), text;
    std::map<std::string, uint16_t> ids;
    // A string's id, the string added to the pool at its first use; 0 for none.
    auto id = [&](const std::string& s) -> uint16_t {
        if (s.empty()) return 0;
        const auto [it, added] = ids.emplace(s, static_cast<uint16_t>(ids.size() + 1));
        if (added && ids.size() > 0xFFFF)
            throw std::length_error("installer string pool: more strings than two-byte ids name");
        if (added) {
            std::string entry(s.size() < 0x10000 ? 4 : 8, '\0');
            put16(entry, 2, 1);  // used once; a length of 64 KB and more follows a zero one
            if (s.size() < 0x10000)
                put16(entry, 0, static_cast<uint16_t>(s.size()));
            else
                put32(entry, 4, static_cast<uint32_t>(s.size()));
            pool += entry;
            text += s;
        }
        return it->second;
    };
    auto append = [](std::string& column, uint32_t value, size_t bytes) {
        column.append(bytes, '\0');
        if (bytes == 2)
            put16(column, column.size() - 2, static_cast<uint16_t>(value));
        else
            put32(column, column.size() - 4, value);
    };
    std::vector<std::pair<std::u16string, std::string>> streams;
    std::string described[4];  // _Columns: table, number, name, type
    for (const MsiTable& table : tables) {
        std::string data;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            const auto& [name, type] = table.columns[c];
            append(described[0], id(table.name), 2);
            append(described[1], static_cast<uint32_t>(c + 1) ^ 0x8000, 2);
            append(described[2], id(name), 2);
            append(described[3], static_cast<uint32_t>(type) ^ 0x8000, 2);
            const bool isText = type & 0x0800;
            const size_t bytes = isText || (type & 0xFF) <= 2 ? 2 : 4;
            for (const std::vector<Cell>& row : table.rows) {
                const Cell& cell = row.at(c);
                if (cell.kind == Cell::Kind::Null || cell.kind == Cell::Kind::Stream)
                    append(data, 0, bytes);
                else if (isText)
                    append(data, id(cell.text), 2);
                else
                    append(data, static_cast<uint32_t>(cell.number) ^ (bytes == 2 ? 0x8000u : 0x80000000u), bytes);
            }
        }
        if (!table.rows.empty()) streams.emplace_back(u"\x4840" + msiStreamName(table.name), data);
    }
    streams.emplace_back(u"\x4840" + msiStreamName("_Columns"),
                         described[0] + described[1] + described[2] + described[3]);
    streams.emplace_back(u"\x4840" + msiStreamName("_StringPool"), pool);
    streams.emplace_back(u"\x4840" + msiStreamName("_StringData"), text);
    return streams;
}

std::vector<std::pair<std::u16string, std::string>> msiPropertyTable(
    const std::vector<std::pair<std::string, std::string>>& rows) {
    MsiTable table{"Property", {{"Property", kColumnKey | kColumnString | 72}, {"Value", kColumnString}}, {}};
    for (const auto& [name, value] : rows) table.rows.push_back({Cell::str(name), Cell::str(value)});
    return msiTables({table});
}

namespace {

// A table of the session's database as the package file keeps it: each column a string
// or, where every cell that is set holds a number, an integer of two or four bytes.
MsiTable fileTable(const Database& database, const std::string& name) {
    MsiTable table{name, {}, database.rows(name)};
    const std::vector<std::string>& columns = database.columns(name);
    for (size_t c = 0; c < columns.size(); ++c) {
        bool numbers = false, text = false, nulls = false, wide = false;
        for (const std::vector<Cell>& row : table.rows) {
            const Cell& cell = row.at(c);
            numbers |= cell.kind == Cell::Kind::Int;
            text |= cell.kind == Cell::Kind::Text || cell.kind == Cell::Kind::Stream;
            nulls |= cell.kind == Cell::Kind::Null;
            wide |= cell.kind == Cell::Kind::Int && (cell.number < -0x7FFF || cell.number > 0x7FFF);
        }
        int type = numbers && !text ? (wide ? 0x0104 : 0x0502) : kColumnString | 255;
        if (c == 0) type |= kColumnKey;
        if (nulls) type |= kColumnNullable;
        table.columns.emplace_back(columns[c], type);
    }
    return table;
}

}  // namespace

void Session::writePackageCopy(const std::string& winPath) {
    // The Property table's rows, with the session's ProductCode in place of the table's.
    std::vector<std::pair<std::string, std::string>> properties;
    if (database_.hasTable("Property"))
        for (const std::vector<Cell>& row : database_.rows("Property"))
            if (row.at(0).text != "ProductCode") properties.emplace_back(row.at(0).text, row.at(1).text);
    if (hasProperty("ProductCode")) properties.emplace_back("ProductCode", property("ProductCode"));
    std::vector<MsiTable> tables(1, MsiTable{"Property", {{"Property", kColumnKey | kColumnString | 72},
                                                          {"Value", kColumnString}}, {}});
    for (const auto& [name, value] : properties) tables[0].rows.push_back({Cell::str(name), Cell::str(value)});
    if (database_.hasTable("CustomAction")) tables.push_back(fileTable(database_, "CustomAction"));
    std::vector<std::pair<std::u16string, std::string>> streams = msiTables(tables);
    if (database_.hasTable("Binary")) {
        const std::vector<std::string>& columns = database_.columns("Binary");
        const auto name = static_cast<size_t>(std::find(columns.begin(), columns.end(), "Name") - columns.begin());
        const auto data = static_cast<size_t>(std::find(columns.begin(), columns.end(), "Data") - columns.begin());
        if (name == columns.size() || data == columns.size())
            throw std::logic_error("winsim: the Binary table needs Name and Data columns");
        // A null Data cell has no stream in the file, as in the installer's own.
        for (const std::vector<Cell>& row : database_.rows("Binary"))
            if (row[data].kind == Cell::Kind::Stream)
                streams.emplace_back(msiStreamName("Binary." + row[name].text), row[data].text);
    }
    // {000C1084-0000-0000-C000-000000000046} as stored: package readers tell an
    // installer database by it (a patch or transform has another).
    static const std::string kInstallerDatabase("\x84\x10\x0C\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    machine_.writeFile(winPath, compoundFile(streams, kInstallerDatabase));
}

}  // namespace winsim
