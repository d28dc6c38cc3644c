// Reads Binary rows of the installer's copy of the package (a compound file), without
// the installer: a script action has no database handle, and the installer holds its
// copy open for writing, so the package cannot be opened as a database there. The file
// may have been shaped by someone else: every table, chain and size in it is checked
// before it is used. The package is tens of megabytes and the process may be 32-bit:
// only the sector lists of the tables, the directory and the mini stream are held, and
// one sector of each table at a time.
#pragma once

#include "platform/scoped_handles.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class PackageFile {
public:
    // 0, or the Win32 error of opening the file; ERROR_INVALID_DATA for a file that is
    // not a compound file of version 3 or 4, ERROR_FILE_CORRUPT for one whose tables are
    // broken.
    DWORD open(const char* path);

    // The whole data of the Binary row `rowName` into `out`; false (and `out` empty)
    // when the package has no such row or it cannot be read: a broken chain, or larger
    // than kMaxStream.
    bool readBinary(const char* rowName, std::vector<unsigned char>& out);

    // The value of `name` (case-sensitive) in the package's Property table into `value`,
    // in the bytes of the package's code page; false (and `value` empty) when the table
    // has no such row, or the table or the string pool is missing or broken.
    bool readProperty(const char* name, std::string& value);

    // The names of the package's Property table, in the table's order, a row without one
    // left out; false (and `names` empty) when the table or the string pool is missing or
    // broken.
    bool readPropertyNames(std::vector<std::string>& names);

    // A cell of a table: text for a string column, a number for an integer one.
    struct Cell {
        bool null = true;
        std::string text;
        int number = 0;
    };
    // The rows of `table`, each with every column in order, laid out as the package's
    // _Columns table describes it; false (and `rows` empty) when _Columns does not
    // describe the table, the table has no stream (as an empty one has none), the table,
    // the description or the string pool is broken, or the text of its cells would come
    // to more than kMaxStream.
    bool readTable(const char* table, std::vector<std::vector<Cell>>& rows);

    // Nothing is read any more: for a package opened and then refused.
    void close() {
        file_.reset();
        strings_.reset();
    }
    // The open file (sharing reading and writing, not deleting: while open it is neither
    // renamed nor deleted), or an invalid handle.
    HANDLE handle() const { return file_.get(); }

    static constexpr uint64_t kMaxStream = 64ull << 20;

private:
    // A table of sector numbers (the FAT or the mini FAT) kept as the locations of its
    // sectors, one sector of it read at a time.
    struct Table {
        std::vector<uint32_t> sectors;
        std::vector<unsigned char> cached;
        uint32_t cachedIndex = UINT32_MAX;
    };

    DWORD load(const char* path);
    bool readAt(uint64_t offset, void* data, size_t size);
    bool readSector(uint32_t sector, uint32_t from, void* data, size_t size);
    bool next(Table& table, uint32_t index, uint32_t& value);
    bool chain(Table& table, uint32_t first, uint64_t count, uint64_t limit, std::vector<uint32_t>& out);
    bool findStream(const uint16_t* name, size_t units, uint32_t& start, uint64_t& size);
    bool readStream(const uint16_t* name, size_t units, std::vector<unsigned char>& out);
    bool readTableStream(const char* table, std::vector<unsigned char>& out);
    struct Strings;
    const Strings* strings();
    bool readStrings(Strings& strings);
    // The Property table's (name, value) string ids, checked against `strings`.
    bool propertyRows(const Strings& strings, std::vector<std::pair<uint32_t, uint32_t>>& rows);

    unique_hfile file_;
    std::shared_ptr<Strings> strings_;  // the string pool, once read
    uint64_t fileSize_ = 0;
    uint32_t shift_ = 9;
    bool version4_ = false;
    uint64_t sectorCount_ = 0;  // sectors the file holds, whole or cut at its end
    Table fat_;
    Table miniFat_;
    std::vector<uint32_t> directory_;   // the directory's sectors
    std::vector<uint32_t> miniStream_;  // the mini stream's sectors
    uint64_t miniStreamSize_ = 0;
};

// Opens the package file at `path` in `package`, once neither the file nor its folder can
// be changed by anyone but SYSTEM, Administrators, TrustedInstaller and this account, it
// lies at the path itself (no link on the way) and its own ProductCode is `productCode`
// (letters in either case). False, and nothing open, otherwise.
bool iOpenProductPackage(const std::string& path, const char* productCode, PackageFile& package);

// Opens in `package` the installer's copy of the package that the running script action's
// own data names (DATABASE; a value in the store is the user's), once neither the file
// nor its folder can be changed by anyone but SYSTEM, Administrators, TrustedInstaller
// and this account, and only when the package's own ProductCode is the running
// installation's (the installer's property, letters in either case): the data was written
// by an immediate action running as the installing user, so it could name the locked
// package of another product. False when there is no such data (`path` empty), the copy
// could be changed by others, cannot be read or belongs to another product.
bool iOpenPackageCopy(MSIHANDLE hInstall, PackageFile& package, std::string& path);
