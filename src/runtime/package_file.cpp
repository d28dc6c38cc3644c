#include "runtime/package_file.h"

#include "platform/bounded.h"
#include "runtime/held_path.h"
#include "runtime/write_access.h"
#include "session/action_data.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr uint64_t kMaxSectors = 0xFFFFFFFB;  // numbers above are markers, not sectors
constexpr uint64_t kUntilEnd = UINT64_MAX;
constexpr uint32_t kMiniSector = 64;
constexpr uint32_t kMiniCutoff = 4096;
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kHeaderSize = 512;
constexpr size_t kHeaderFatSectors = 109;
constexpr size_t kMaxNameUnits = 31;  // an entry's 32 units end with a NUL
constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr unsigned char kStreamEntry = 2, kRootEntry = 5;
constexpr DWORD kProductCodeCapacity = 64;  // a GUID in braces has 38 characters

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The 64 characters the installer packs into stream names, two to a UTF-16 unit; -1 for
// any other.
int packed(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '.') return 62;
    if (c == '_') return 63;
    return -1;
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

// The stream name under which the installer keeps a Binary row's data: "Binary." and the
// row's name, packed (the dot pairs with the row's first character).
bool streamName(const char* row, uint16_t (&name)[kMaxNameUnits], size_t& units) {
    static const char kPrefix[] = "Binary.";
    char text[2 * kMaxNameUnits + 1];
    const size_t prefix = sizeof kPrefix - 1, length = fa9::textLength(row);
    if (!row || length > sizeof text - 1 - prefix) return false;
    memcpy(text, kPrefix, prefix);
    memcpy(text + prefix, row, length);
    units = 0;
    return pack(text, prefix + length, name, units);
}

// A table's stream (the string pool's two count as tables): its name packed after a
// unit no packed name begins with.
bool tableStreamName(const char* table, uint16_t (&name)[kMaxNameUnits], size_t& units) {
    name[0] = 0x4840;
    units = 1;
    return pack(table, fa9::textLength(table), name, units);
}

uint64_t sectorsFor(uint64_t bytes, uint32_t shift) {
    return (bytes >> shift) + ((bytes & ((uint64_t(1) << shift) - 1)) != 0);
}

}  // namespace

DWORD PackageFile::open(const char* path) {
    strings_.reset();
    const DWORD rc = load(path);
    if (rc) file_.reset();  // nothing is read from a file that was refused
    return rc;
}

DWORD PackageFile::load(const char* path) {
    fat_ = Table();
    miniFat_ = Table();
    directory_.clear();
    miniStream_.clear();
    // Sharing writing too: the installer holds its copy open for writing.
    file_.reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return GetLastError();
    DWORD high = 0;
    SetLastError(NO_ERROR);  // a size whose low half is all ones is told from a failure by it
    const DWORD low = GetFileSize(file_.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return GetLastError();
    fileSize_ = uint64_t(high) << 32 | low;

    unsigned char h[kHeaderSize];
    if (fileSize_ < kHeaderSize || !readAt(0, h, sizeof h)) return ERROR_INVALID_DATA;
    const uint16_t major = u16(h + 0x1A), shift = u16(h + 0x1E);
    if (memcmp(h, kSignature, sizeof kSignature) != 0 || u16(h + 0x1C) != 0xFFFE ||
        !((major == 3 && shift == 9) || (major == 4 && shift == 12)) || u16(h + 0x20) != 6 ||
        u32(h + 0x38) != kMiniCutoff)
        return ERROR_INVALID_DATA;
    shift_ = shift;
    version4_ = major == 4;
    const uint32_t sectorSize = 1u << shift_;
    // The header takes the first sector's room; a last sector may be cut short.
    if (fileSize_ <= sectorSize) return ERROR_FILE_CORRUPT;
    sectorCount_ = sectorsFor(fileSize_ - sectorSize, shift_);
    if (sectorCount_ > kMaxSectors) sectorCount_ = kMaxSectors;

    // The FAT's sectors: the first 109 named by the header, the rest by the DIFAT chain.
    const uint32_t fatCount = u32(h + 0x2C), difatCount = u32(h + 0x48);
    if (fatCount > sectorCount_ || difatCount > sectorCount_) return ERROR_FILE_CORRUPT;
    fat_.sectors.reserve(fatCount);
    for (size_t i = 0; i < kHeaderFatSectors && fat_.sectors.size() < fatCount; ++i)
        fat_.sectors.push_back(u32(h + 0x4C + 4 * i));
    std::vector<unsigned char> difat(sectorSize);
    const uint32_t perSector = sectorSize / 4;
    uint32_t difatSector = u32(h + 0x44);
    for (uint32_t n = 0; n < difatCount && fat_.sectors.size() < fatCount; ++n) {
        if (!readSector(difatSector, 0, difat.data(), sectorSize)) return ERROR_FILE_CORRUPT;
        for (uint32_t i = 0; i + 1 < perSector && fat_.sectors.size() < fatCount; ++i)
            fat_.sectors.push_back(u32(&difat[4 * i]));
        difatSector = u32(&difat[4 * (perSector - 1)]);
    }
    if (fat_.sectors.size() != fatCount) return ERROR_FILE_CORRUPT;

    if (!chain(fat_, u32(h + 0x30), kUntilEnd, sectorCount_, directory_) || directory_.empty())
        return ERROR_FILE_CORRUPT;
    const uint32_t miniFatCount = u32(h + 0x40);
    if (miniFatCount && !chain(fat_, u32(h + 0x3C), miniFatCount, sectorCount_, miniFat_.sectors))
        return ERROR_FILE_CORRUPT;
    // The root entry's stream is the mini stream, where the streams below the cutoff lie.
    unsigned char root[kEntrySize];
    if (!readSector(directory_[0], 0, root, kEntrySize) || root[0x42] != kRootEntry) return ERROR_FILE_CORRUPT;
    miniStreamSize_ = version4_ ? (uint64_t(u32(root + 0x7C)) << 32 | u32(root + 0x78)) : u32(root + 0x78);
    if (!chain(fat_, u32(root + 0x74), sectorsFor(miniStreamSize_, shift_), sectorCount_, miniStream_))
        return ERROR_FILE_CORRUPT;
    return 0;
}

bool PackageFile::readBinary(const char* rowName, std::vector<unsigned char>& out) {
    std::vector<unsigned char>().swap(out);
    uint16_t name[kMaxNameUnits];
    size_t units = 0;
    return streamName(rowName, name, units) && readStream(name, units, out);
}

// The MSI string pool: the code page, its top bit set when string cells take 3 bytes
// instead of 2, then for each string id from 1 its length and reference count (a string of
// 64 KB and more: length 0 and its count, then its whole length in the next pair; both
// zero: an unused id); the strings lie end to end in _StringData. Tables are stored
// column by column, a string cell as its id (0: none).
struct PackageFile::Strings {
    std::vector<unsigned char> data;
    std::vector<std::pair<uint32_t, uint32_t>> spans = std::vector<std::pair<uint32_t, uint32_t>>(1);
    size_t width = 2;

    bool has(uint32_t id) const { return id < spans.size(); }
    std::string text(uint32_t id) const {
        const auto begin = data.begin() + static_cast<std::ptrdiff_t>(spans[id].first);
        return std::string(begin, begin + static_cast<std::ptrdiff_t>(spans[id].second));
    }
    bool equals(uint32_t id, const char* s, size_t length) const {
        return spans[id].second == length && memcmp(&data[spans[id].first], s, length) == 0;
    }
};

namespace {

// Cell `row` of the column that starts `before` bytes of each row into a table stored
// column by column.
uint32_t cellAt(const std::vector<unsigned char>& table, size_t rows, size_t before, size_t width, size_t row) {
    const unsigned char* p = &table[rows * before + row * width];
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint32_t(p[i]) << (8 * i);
    return value;
}

// _Columns' types: a string (its cell an id), a stream (a two-byte cell), or an integer
// of two or four bytes, kept with its top bit flipped so that 0 is null.
constexpr int kStringColumn = 0x0800, kStreamColumn = 0x0900, kNullableColumn = 0x1000;
bool isStreamColumn(int type) { return (type & ~kNullableColumn) == kStreamColumn; }
constexpr size_t kMaxColumns = 32;

}  // namespace

bool PackageFile::readTableStream(const char* table, std::vector<unsigned char>& out) {
    uint16_t name[kMaxNameUnits];
    size_t units = 0;
    return tableStreamName(table, name, units) && readStream(name, units, out);
}

// Read once an open file: every property and table read needs it.
const PackageFile::Strings* PackageFile::strings() {
    if (strings_) return strings_.get();
    auto loaded = std::make_shared<Strings>();
    if (!readStrings(*loaded)) return nullptr;
    strings_ = std::move(loaded);
    return strings_.get();
}

bool PackageFile::readStrings(Strings& strings) {
    std::vector<unsigned char> pool;
    if (!readTableStream("_StringPool", pool) || !readTableStream("_StringData", strings.data) || pool.size() < 4 ||
        pool.size() % 4 != 0)
        return false;
    strings.width = pool.size() > 4 && (u16(&pool[2]) & 0x8000) ? 3 : 2;
    static_assert(kMaxStream <= UINT32_MAX, "a stream's offsets fit 32 bits");
    strings.spans.reserve(pool.size() / 4);
    uint32_t offset = 0;
    for (size_t at = 4; at < pool.size(); at += 4) {
        uint32_t length = u16(&pool[at]);
        if (length == 0 && u16(&pool[at + 2]) != 0) {
            at += 4;
            if (at == pool.size()) return false;
            length = u32(&pool[at]);
        }
        if (length > strings.data.size() - offset) return false;
        strings.spans.emplace_back(offset, length);
        offset += length;
    }
    return true;
}

// The Property table's columns are the name and the value, both strings.
bool PackageFile::propertyRows(const Strings& strings, std::vector<std::pair<uint32_t, uint32_t>>& rows) {
    std::vector<unsigned char> table;
    const size_t width = strings.width;
    if (!readTableStream("Property", table) || table.size() % (2 * width) != 0) return false;
    const size_t count = table.size() / (2 * width);
    rows.reserve(count);
    for (size_t row = 0; row < count; ++row) {
        const uint32_t key = cellAt(table, count, 0, width, row), text = cellAt(table, count, width, width, row);
        if (!strings.has(key) || !strings.has(text)) return false;
        rows.emplace_back(key, text);
    }
    return true;
}

bool PackageFile::readProperty(const char* name, std::string& value) {
    value.clear();
    const size_t nameLength = fa9::textLength(name);
    if (nameLength == 0) return false;
    try {
        const Strings* strings = this->strings();
        std::vector<std::pair<uint32_t, uint32_t>> rows;
        if (!strings || !propertyRows(*strings, rows)) return false;
        for (const auto& [key, text] : rows)
            if (strings->equals(key, name, nameLength)) {
                value = strings->text(text);
                return true;
            }
    } catch (const std::bad_alloc&) {
        value.clear();
    }
    return false;
}

bool PackageFile::readPropertyNames(std::vector<std::string>& names) {
    names.clear();
    try {
        const Strings* strings = this->strings();
        std::vector<std::pair<uint32_t, uint32_t>> rows;
        if (!strings || !propertyRows(*strings, rows)) return false;
        for (const auto& row : rows)
            if (strings->spans[row.first].second != 0) names.push_back(strings->text(row.first));
        return true;
    } catch (const std::bad_alloc&) {
        names.clear();
    }
    return false;
}

// _Columns describes every table but itself: the table's name, the column's number
// from 1, its name and its type, one two-byte integer each for the number and the type.
bool PackageFile::readTable(const char* table, std::vector<std::vector<Cell>>& rows) {
    rows.clear();
    const size_t nameLength = fa9::textLength(table);
    try {
        const Strings* pool = this->strings();
        std::vector<unsigned char> columnsTable, data;
        if (nameLength == 0 || !pool || !readTableStream("_Columns", columnsTable)) return false;
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
        for (size_t c = 1; c <= count; ++c) {
            const int type = types[c];
            if (type < 0) return false;  // the numbers leave a gap
            const int size = type & 0xFF;
            widths.push_back(isStreamColumn(type)      ? 2
                             : (type & kStringColumn) ? w
                             : size <= 2              ? 2
                             : size == 4              ? 4
                                                      : 0);
            if (widths.back() == 0) return false;
        }
        size_t rowWidth = 0;
        for (size_t width : widths) rowWidth += width;
        if (count == 0 || !readTableStream(table, data) || data.size() % rowWidth != 0) return false;
        const size_t total = data.size() / rowWidth;
        rows.assign(total, std::vector<Cell>(count));
        uint64_t textBytes = 0;  // a long string named by many cells would be copied for each
        for (size_t c = 0, before = 0; c < count; before += widths[c], ++c) {
            const int type = types[c + 1];
            const bool text = (type & kStringColumn) && !isStreamColumn(type);
            for (size_t row = 0; row < total; ++row) {
                const uint32_t raw = cellAt(data, total, before, widths[c], row);
                Cell& cell = rows[row][c];
                if (raw == 0) continue;  // null
                cell.null = false;
                if (text) {
                    textBytes += strings.has(raw) ? strings.spans[raw].second : 0;
                    if (!strings.has(raw) || textBytes > kMaxStream) return rows.clear(), false;
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

// The whole stream `name` into `out`: false (and `out` empty) when there is none, its
// chain is broken or it is larger than kMaxStream.
bool PackageFile::readStream(const uint16_t* name, size_t units, std::vector<unsigned char>& out) {
    std::vector<unsigned char>().swap(out);
    uint32_t start = 0;
    uint64_t size = 0;
    if (!file_ || !findStream(name, units, start, size) || size > kMaxStream) return false;
    if (size == 0) return true;  // an empty stream may have any start
    std::vector<uint32_t> sectors;
    try {
        out.resize(static_cast<size_t>(size));
        if (size < kMiniCutoff) {
            bool ok = chain(miniFat_, start, sectorsFor(size, 6), sectorsFor(miniStreamSize_, 6), sectors);
            for (size_t i = 0; ok && i < sectors.size(); ++i) {
                const uint64_t at = uint64_t(sectors[i]) * kMiniSector;  // in the mini stream
                const size_t bytes = std::min<size_t>(out.size() - i * kMiniSector, kMiniSector);
                ok = (at >> shift_) < miniStream_.size() &&
                     readSector(miniStream_[at >> shift_], static_cast<uint32_t>(at & ((1u << shift_) - 1)),
                                out.data() + i * kMiniSector, bytes);
            }
            if (ok) return true;
        } else if (chain(fat_, start, sectorsFor(size, shift_), sectorCount_, sectors)) {
            // Runs of adjacent sectors are read at once.
            size_t done = 0, i = 0;
            while (i < sectors.size()) {
                size_t j = i + 1;
                while (j < sectors.size() && sectors[j] == sectors[j - 1] + 1) ++j;
                const size_t bytes = std::min<size_t>(out.size() - done, (j - i) << shift_);
                if (!readAt((uint64_t(sectors[i]) + 1) << shift_, out.data() + done, bytes)) break;
                done += bytes;
                i = j;
            }
            if (i == sectors.size()) return true;
        }
    } catch (const std::bad_alloc&) {
    }
    std::vector<unsigned char>().swap(out);
    return false;
}

bool PackageFile::readAt(uint64_t offset, void* data, size_t size) {
    if (offset > fileSize_) return false;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    if (SetFilePointer(file_.get(), static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    unsigned char* p = static_cast<unsigned char*>(data);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file_.get(), p, static_cast<DWORD>(size), &got, nullptr) || got == 0) return false;
        p += got;
        size -= got;
    }
    return true;
}

bool PackageFile::readSector(uint32_t sector, uint32_t from, void* data, size_t size) {
    if (sector >= sectorCount_ || from + size > (size_t(1) << shift_)) return false;
    return readAt(((uint64_t(sector) + 1) << shift_) + from, data, size);
}

bool PackageFile::next(Table& table, uint32_t index, uint32_t& value) {
    const uint32_t perSector = 1u << (shift_ - 2);
    const uint32_t which = index / perSector;
    if (which >= table.sectors.size()) return false;
    if (table.cachedIndex != which) {
        table.cached.resize(size_t(1) << shift_);
        table.cachedIndex = UINT32_MAX;
        if (!readSector(table.sectors[which], 0, table.cached.data(), table.cached.size())) return false;
        table.cachedIndex = which;
    }
    value = u32(&table.cached[4 * (index % perSector)]);
    return true;
}

// The chain from `first`: exactly `count` sectors (kUntilEnd: as many as it has), each
// below `limit`, and then its end. A chain that ends early, runs on, leaves the table or
// comes back on itself (it would take more than `limit` steps) is refused.
bool PackageFile::chain(Table& table, uint32_t first, uint64_t count, uint64_t limit, std::vector<uint32_t>& out) {
    out.clear();
    if (count != kUntilEnd && count > limit) return false;
    for (uint32_t at = first; at != kEndOfChain;) {
        if (at >= limit || out.size() >= limit || out.size() == count) return false;
        out.push_back(at);
        if (!next(table, at, at)) return false;
    }
    return count == kUntilEnd || out.size() == count;
}

// The root's children form a tree through their sibling links; every one is looked at
// (a file's tree need not be ordered as it should be), none twice.
bool PackageFile::findStream(const uint16_t* name, size_t units, uint32_t& start, uint64_t& size) {
    const uint32_t perSector = 1u << (shift_ - 7);
    const uint64_t entries = uint64_t(directory_.size()) * perSector;
    std::vector<bool> seen(static_cast<size_t>(entries));
    unsigned char e[kEntrySize];
    if (!readSector(directory_[0], 0, e, kEntrySize)) return false;
    std::vector<uint32_t> pending(1, u32(e + 0x4C));
    while (!pending.empty()) {
        const uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoEntry) continue;
        if (id >= entries || seen[id]) return false;
        seen[id] = true;
        if (!readSector(directory_[id / perSector], (id % perSector) * kEntrySize, e, kEntrySize)) return false;
        pending.push_back(u32(e + 0x44));
        pending.push_back(u32(e + 0x48));
        if (e[0x42] != kStreamEntry || u16(e + 0x40) != (units + 1) * 2) continue;
        size_t i = 0;
        while (i < units && u16(e + 2 * i) == name[i]) ++i;
        if (i < units) continue;
        start = u32(e + 0x74);
        // Version 3 files keep only the low half; old writers left junk in the high one.
        size = version4_ ? (uint64_t(u32(e + 0x7C)) << 32 | u32(e + 0x78)) : u32(e + 0x78);
        return true;
    }
    return false;
}

bool iOpenProductPackage(const std::string& path, const char* productCode, PackageFile& package) {
    // Opened first, then checked: the open file is pinned where it lies, it must lie at
    // the path itself (no junction on the way), and so the checks of that path are of it.
    std::string own;
    if (!path.empty() && productCode && productCode[0] && package.open(path.c_str()) == 0 &&
        iLiesAt(package.handle(), path.c_str()) && iOnlyTrustedCanWriteFileAndFolder(path.c_str()) &&
        package.readProperty("ProductCode", own) && own.size() == fa9::textLength(productCode) &&
        fa9::equalsNoCase(own.c_str(), productCode))
        return true;
    package.close();
    return false;
}

bool iOpenPackageCopy(MSIHANDLE hInstall, PackageFile& package, std::string& path) {
    path.clear();
    // The installer's own ProductCode, which it offers every script action: through
    // iMsiGetProperty the store would answer first, and the store is the user's to change.
    char session[kProductCodeCapacity] = {};
    DWORD capacity = sizeof session;
    return iGetActionValue(hInstall, "DATABASE", path) &&
           MsiGetPropertyA(hInstall, "ProductCode", session, &capacity) == ERROR_SUCCESS &&
           iOpenProductPackage(path, session, package);
}
