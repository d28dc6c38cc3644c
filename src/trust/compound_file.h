// Streams of a compound file (the structured storage a package is kept in), read without
// the system's reader: the file may have been shaped by someone else, so every table,
// chain and size in it is checked before it is used. A package is tens of megabytes and
// the process may be 32-bit: only the sector lists of the FAT, the mini FAT, the
// directory and the mini stream are held, and one sector of each table at a time.
#pragma once

#include "platform/scoped_handles.h"

#include <cstdint>
#include <vector>

class CompoundFile {
public:
    // Where the header's fields lie in the file's first 512 bytes (numbers little-endian).
    enum HeaderField : uint32_t {
        kSignature = 0x00, kMinorVersion = 0x18, kMajorVersion = 0x1A, kByteOrder = 0x1C, kSectorShift = 0x1E,
        kMiniSectorShift = 0x20, kDirectorySectorCount = 0x28, kFatSectorCount = 0x2C, kFirstDirectorySector = 0x30,
        kMiniStreamCutoff = 0x38, kFirstMiniFatSector = 0x3C, kMiniFatSectorCount = 0x40, kFirstDifatSector = 0x44,
        kDifatSectorCount = 0x48, kHeaderDifat = 0x4C,  // the numbers of the first 109 FAT sectors
    };
    // Where a directory entry's fields lie in its 128 bytes.
    enum EntryField : uint32_t {
        kEntryName = 0x00, kEntryNameBytes = 0x40, kEntryType = 0x42, kEntryLeft = 0x44, kEntryRight = 0x48,
        kEntryChild = 0x4C, kEntryStart = 0x74, kEntrySizeLow = 0x78, kEntrySizeHigh = 0x7C,
    };
    static constexpr uint64_t kMaxStream = 64ull << 20;
    static constexpr size_t kMaxNameUnits = 31;  // an entry's 32 units end with a NUL

    // Reads a file the caller opened, checked and keeps holding (the gate's handle: no
    // file is read by name), through a duplicate of its handle (one file pointer: not both
    // at once). 0, or the Win32 error of the duplicate; ERROR_INVALID_DATA for a file that
    // is not a compound file of version 3 or 4, ERROR_FILE_CORRUPT for one whose tables
    // are broken.
    DWORD openHeld(HANDLE file);

    // The whole stream `name` (`units` UTF-16 units, a child of the root) into `out`:
    // false (and `out` empty) when there is none, its chain is broken or it is larger
    // than kMaxStream.
    bool readStream(const uint16_t* name, size_t units, std::vector<unsigned char>& out);

    // True only when the whole directory was read and the root has no stream `name`.
    bool lacksStream(const uint16_t* name, size_t units);
    // Nothing is read any more: for a file opened and then refused.
    void close() { file_.reset(); }
    // The open file (while open it is neither renamed nor deleted), or an invalid handle.
    HANDLE handle() const { return file_.get(); }

private:
    // A table of sector numbers (the FAT or the mini FAT) kept as the locations of its
    // sectors, one sector of it read at a time.
    struct Table {
        std::vector<uint32_t> sectors;
        std::vector<unsigned char> cached;
        uint32_t cachedIndex = UINT32_MAX;
    };

    DWORD readTables();
    bool readAt(uint64_t offset, void* data, size_t size);
    bool readSector(uint32_t sector, uint32_t from, void* data, size_t size);
    bool next(Table& table, uint32_t index, uint32_t& value);
    bool chain(Table& table, uint32_t first, uint64_t count, uint64_t limit, std::vector<uint32_t>& out);
    enum class Lookup { Found, Absent, Broken };
    Lookup lookUp(const uint16_t* name, size_t units, uint32_t& start, uint64_t& size);
    bool findStream(const uint16_t* name, size_t units, uint32_t& start, uint64_t& size);

    unique_hfile file_;
    uint64_t fileSize_ = 0;
    uint32_t shift_ = 9;
    bool version4_ = false;
    uint64_t sectorCount_ = 0;  // sectors the file holds, whole or cut at its end
    Table fat_, miniFat_;
    std::vector<uint32_t> directory_, miniStream_;  // the sectors of the directory and the mini stream
    uint64_t miniStreamSize_ = 0;
};

// The `bytes`-byte little-endian number at `p`, as compound files and tables store them.
inline uint32_t littleEndian(const unsigned char* p, size_t bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= uint32_t(p[i]) << (8 * i);
    return value;
}
