// The installer's tables and Binary rows in a package file, read without the installer: a
// script action has no database handle, and the installer holds its copy open for
// writing, so the package cannot be opened as a database there. The compound file under
// them is read as CompoundFile reads it; what the tables say is checked here.
#pragma once

#include "trust/compound_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class PackageFile {
public:
    // As CompoundFile::openHeld: a file the caller opened and checked and keeps holding.
    DWORD openHeld(HANDLE file) { return strings_.reset(), file_.openHeld(file); }

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

    // This file read as a transform of a package whose Property table has the names
    // `names` (the table of two string columns, name and value): each row it adds is
    // appended, each it deletes taken out, a changed one keeps its name. False (and
    // `names` as they were) unless the whole directory is read and the transform changes
    // neither the tables' layout (_Tables, _Columns) nor the CustomAction table, and each
    // of its Property rows is read as that table's.
    bool applyPropertyTransform(std::vector<std::string>& names);
    // A cell of a table: text for a string column, a number for an integer one.
    struct Cell {
        bool null = true;
        std::string text;
        int number = 0;
    };
    // The rows of `table`, each with every column in order, laid out as the package's
    // _Columns table describes it; false (and `rows` empty) when _Columns does not
    // describe the table, the table has no stream (as an empty one has none), the table,
    // the description or the string pool is broken, or the rows would hold more than
    // kMaxTableBytes.
    bool readTable(const char* table, std::vector<std::vector<Cell>>& rows);

    // Nothing is read any more: for a package opened and then refused.
    void close() {
        file_.close();
        strings_.reset();
    }
    // The open file, or an invalid handle.
    HANDLE handle() const { return file_.handle(); }

    static constexpr uint64_t kMaxStream = CompoundFile::kMaxStream;
    // The most readTable holds of one table: its rows, cells and the text copied into them,
    // as the bytes they take here (checked before the rows are made, then text by text).
    // The library reads the CustomAction table, a few hundred rows of five cells (some
    // 100 KB); unbounded, a table stream of kMaxStream bytes would make 1-2 GB of cells.
    static constexpr uint64_t kMaxTableBytes = 16ull << 20;

private:
    struct Strings;
    const Strings* strings();
    bool readTableStream(const char* table, std::vector<unsigned char>& out);
    bool lacksTable(const char* table);
    const Strings* propertyRows(std::vector<std::pair<uint32_t, uint32_t>>& rows);

    CompoundFile file_;
    std::shared_ptr<Strings> strings_;  // the string pool, once read
};
