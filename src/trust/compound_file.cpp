#include "trust/compound_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr uint64_t kMaxSectors = 0xFFFFFFFB;  // numbers above are markers, not sectors
constexpr uint64_t kUntilEnd = UINT64_MAX;
constexpr uint32_t kMiniShift = 6;            // 64-byte mini sectors
constexpr uint32_t kMiniSector = 1u << kMiniShift;
constexpr uint32_t kMiniCutoff = 4096;        // the streams below it lie in the mini stream
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kHeaderFatSectors = 109;
constexpr unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr unsigned char kStreamEntry = 2, kRootEntry = 5;

uint32_t field16(const unsigned char* at, uint32_t field) { return littleEndian(at + field, 2); }
uint32_t field32(const unsigned char* at, uint32_t field) { return littleEndian(at + field, 4); }

// Version 3 files keep only the low half of a size; old writers left junk in the high one.
uint64_t streamSize(const unsigned char* entry, bool version4) {
    return (version4 ? uint64_t(field32(entry, CompoundFile::kEntrySizeHigh)) << 32 : 0) |
           field32(entry, CompoundFile::kEntrySizeLow);
}

uint64_t sectorsFor(uint64_t bytes, uint32_t shift) {
    return (bytes >> shift) + ((bytes & ((uint64_t(1) << shift) - 1)) != 0);
}

}  // namespace

DWORD CompoundFile::openHeld(HANDLE file) {
    const HANDLE self = GetCurrentProcess();
    HANDLE own = INVALID_HANDLE_VALUE;
    // INVALID_HANDLE_VALUE is also this process's own pseudo handle, which would be duplicated.
    if (!file || file == INVALID_HANDLE_VALUE)
        SetLastError(ERROR_INVALID_HANDLE);
    else if (!DuplicateHandle(self, file, self, &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        own = INVALID_HANDLE_VALUE;
    file_.reset(own);
    const DWORD rc = file_ ? readTables() : GetLastError();
    if (rc) file_.reset();  // nothing is read from a file that was refused
    return rc;
}

DWORD CompoundFile::readTables() {
    fat_ = miniFat_ = Table();
    directory_.clear();
    miniStream_.clear();
    DWORD high = 0;
    SetLastError(NO_ERROR);  // a size whose low half is all ones is told from a failure by it
    const DWORD low = GetFileSize(file_.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return GetLastError();
    fileSize_ = uint64_t(high) << 32 | low;

    unsigned char h[kHeaderSize];
    if (fileSize_ < kHeaderSize || !readAt(0, h, sizeof h)) return ERROR_INVALID_DATA;
    const uint32_t major = field16(h, kMajorVersion), shift = field16(h, kSectorShift);
    if (memcmp(h + kSignature, kMagic, sizeof kMagic) != 0 || field16(h, kByteOrder) != 0xFFFE ||
        !((major == 3 && shift == 9) || (major == 4 && shift == 12)) || field16(h, kMiniSectorShift) != kMiniShift ||
        field32(h, kMiniStreamCutoff) != kMiniCutoff)
        return ERROR_INVALID_DATA;
    shift_ = shift;
    version4_ = major == 4;
    const uint32_t sectorSize = 1u << shift_, perSector = sectorSize / 4;
    // The header takes the first sector's room; a last sector may be cut short.
    if (fileSize_ <= sectorSize) return ERROR_FILE_CORRUPT;
    sectorCount_ = std::min(sectorsFor(fileSize_ - sectorSize, shift_), kMaxSectors);

    // The FAT's sectors: the first 109 named by the header, the rest by the DIFAT chain,
    // each DIFAT sector's last number naming the next one.
    const uint32_t fatCount = field32(h, kFatSectorCount), difatCount = field32(h, kDifatSectorCount);
    if (fatCount > sectorCount_ || difatCount > sectorCount_) return ERROR_FILE_CORRUPT;
    fat_.sectors.reserve(fatCount);
    for (uint32_t i = 0; i < kHeaderFatSectors && fat_.sectors.size() < fatCount; ++i)
        fat_.sectors.push_back(field32(h, kHeaderDifat + 4 * i));
    std::vector<unsigned char> difat(sectorSize);
    uint32_t difatSector = field32(h, kFirstDifatSector);
    for (uint32_t n = 0; n < difatCount && fat_.sectors.size() < fatCount; ++n) {
        if (!readSector(difatSector, 0, difat.data(), sectorSize)) return ERROR_FILE_CORRUPT;
        for (uint32_t i = 0; i + 1 < perSector && fat_.sectors.size() < fatCount; ++i)
            fat_.sectors.push_back(field32(difat.data(), 4 * i));
        difatSector = field32(difat.data(), 4 * (perSector - 1));
    }
    if (fat_.sectors.size() != fatCount) return ERROR_FILE_CORRUPT;

    if (!chain(fat_, field32(h, kFirstDirectorySector), kUntilEnd, sectorCount_, directory_) || directory_.empty())
        return ERROR_FILE_CORRUPT;
    const uint32_t miniFatCount = field32(h, kMiniFatSectorCount);
    if (miniFatCount && !chain(fat_, field32(h, kFirstMiniFatSector), miniFatCount, sectorCount_, miniFat_.sectors))
        return ERROR_FILE_CORRUPT;
    // The root entry's stream is the mini stream.
    unsigned char root[kEntrySize];
    if (!readSector(directory_[0], 0, root, kEntrySize) || root[kEntryType] != kRootEntry) return ERROR_FILE_CORRUPT;
    miniStreamSize_ = streamSize(root, version4_);
    if (!chain(fat_, field32(root, kEntryStart), sectorsFor(miniStreamSize_, shift_), sectorCount_, miniStream_))
        return ERROR_FILE_CORRUPT;
    return 0;
}

bool CompoundFile::readStream(const uint16_t* name, size_t units, std::vector<unsigned char>& out) {
    std::vector<unsigned char>().swap(out);
    uint32_t start = 0;
    uint64_t size = 0;
    if (!file_ || !findStream(name, units, start, size) || size > kMaxStream) return false;
    if (size == 0) return true;  // an empty stream may have any start
    // A stream below the cutoff lies in mini sectors, in the mini stream's sectors.
    const bool mini = size < kMiniCutoff;
    const uint32_t unit = mini ? kMiniSector : 1u << shift_;
    std::vector<uint32_t> sectors;
    try {
        // The room only once the file holds the chain: a size alone could ask for kMaxStream.
        bool ok = mini ? chain(miniFat_, start, sectorsFor(size, kMiniShift), sectorsFor(miniStreamSize_, kMiniShift),
                               sectors)
                       : chain(fat_, start, sectorsFor(size, shift_), sectorCount_, sectors);
        if (ok) out.resize(static_cast<size_t>(size));
        for (size_t i = 0, j = 0; ok && i < sectors.size(); i = j) {
            // Runs of adjacent sectors are read at once.
            for (j = i + 1; !mini && j < sectors.size() && sectors[j] == sectors[j - 1] + 1;) ++j;
            uint64_t at = uint64_t(sectors[i]) * unit;  // mini: where in the mini stream
            if (mini && (ok = (at >> shift_) < miniStream_.size()))
                at = (uint64_t(miniStream_[at >> shift_]) << shift_) + (at & ((1u << shift_) - 1));
            ok = ok && readAt(at + (uint64_t(1) << shift_), out.data() + i * unit,
                              std::min<size_t>(out.size() - i * unit, (j - i) * unit));
        }
        if (ok) return true;
    } catch (const std::bad_alloc&) {
    }
    std::vector<unsigned char>().swap(out);
    return false;
}

bool CompoundFile::readAt(uint64_t offset, void* data, size_t size) {
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

bool CompoundFile::readSector(uint32_t sector, uint32_t from, void* data, size_t size) {
    if (sector >= sectorCount_ || from + size > (size_t(1) << shift_)) return false;
    return readAt(((uint64_t(sector) + 1) << shift_) + from, data, size);
}

bool CompoundFile::next(Table& table, uint32_t index, uint32_t& value) {
    const uint32_t perSector = 1u << (shift_ - 2);
    const uint32_t which = index / perSector;
    if (which >= table.sectors.size()) return false;
    if (table.cachedIndex != which) {
        table.cached.resize(size_t(1) << shift_);
        table.cachedIndex = UINT32_MAX;
        if (!readSector(table.sectors[which], 0, table.cached.data(), table.cached.size())) return false;
        table.cachedIndex = which;
    }
    value = field32(table.cached.data(), 4 * (index % perSector));
    return true;
}

// The chain from `first`: exactly `count` sectors (kUntilEnd: as many as it has), each
// below `limit`, and then its end. A chain that ends early, runs on, leaves the table or
// comes back on itself (it would take more than `limit` steps) is refused.
bool CompoundFile::chain(Table& table, uint32_t first, uint64_t count, uint64_t limit, std::vector<uint32_t>& out) {
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
CompoundFile::Lookup CompoundFile::lookUp(const uint16_t* name, size_t units, uint32_t& start, uint64_t& size) {
    const uint32_t perSector = 1u << (shift_ - 7);
    const uint64_t entries = uint64_t(directory_.size()) * perSector;
    std::vector<bool> seen(static_cast<size_t>(entries));
    unsigned char e[kEntrySize];
    if (!readSector(directory_[0], 0, e, kEntrySize)) return Lookup::Broken;
    std::vector<uint32_t> pending(1, field32(e, kEntryChild));
    while (!pending.empty()) {
        const uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoEntry) continue;
        if (id >= entries || seen[id]) return Lookup::Broken;
        seen[id] = true;
        if (!readSector(directory_[id / perSector], (id % perSector) * kEntrySize, e, kEntrySize))
            return Lookup::Broken;
        pending.push_back(field32(e, kEntryLeft));
        pending.push_back(field32(e, kEntryRight));
        if (e[kEntryType] != kStreamEntry || field16(e, kEntryNameBytes) != (units + 1) * 2) continue;
        size_t i = 0;
        while (i < units && field16(e, kEntryName + 2 * i) == name[i]) ++i;
        if (i < units) continue;
        start = field32(e, kEntryStart);
        size = streamSize(e, version4_);
        return Lookup::Found;
    }
    return Lookup::Absent;
}

bool CompoundFile::findStream(const uint16_t* name, size_t units, uint32_t& start, uint64_t& size) {
    return lookUp(name, units, start, size) == Lookup::Found;
}

bool CompoundFile::lacksStream(const uint16_t* name, size_t units) {
    uint32_t start = 0;
    uint64_t size = 0;
    return !directory_.empty() && lookUp(name, units, start, size) == Lookup::Absent;
}
