// The installer's cached copy of the package (the file its DATABASE property names):
// a compound file whose root storage holds one stream per Binary row, as the real
// engine's copy under C:\Windows\Installer does, with the installer database's CLSID
// on its root. Of the tables the string pool, _Columns, the Property table and the
// CustomAction table are written: the library reads nothing else from it.
#pragma once

#include "winsim/control.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace winsim {

// The bytes of a version-3 compound file (512-byte sectors, 64-byte mini sectors; as
// `shape` says otherwise) whose root storage holds these streams, named and filled as given. Streams below
// 4096 bytes live in the mini stream, the others in regular sectors; a FAT of more
// than 109 sectors continues in DIFAT sectors. The root storage's CLSID is
// `rootClsid` (16 bytes as stored); the streams' CLSIDs and all times are zero, so
// equal input gives equal bytes.
// Throws std::invalid_argument for a name that is empty, longer than 31 UTF-16 units,
// holds '/', '\\', ':' or '!', or equals another one without regard to case, and for
// a CLSID that is not 16 bytes; std::length_error for a stream above 2 GB (the most a
// version-3 file can hold).
// `shape` makes the files the installer never writes, for the package reader's tests: a
// version-4 file, a FAT long enough to need DIFAT sectors, chains that are not contiguous,
// and broken files. The knobs for "large streams" touch each stream that lies in regular
// sectors (4096 bytes and more), those for "entries" each stream's directory entry.
struct CompoundShape {
    unsigned sectorShift = 9;               // 9: version 3, 512-byte sectors; 12: version 4, 4096
    unsigned majorVersion = 0;              // stored in the header; 0: the one the sector size goes with
    size_t freeSectors = 0;                 // unused sectors before the large streams, mapped by the FAT
    bool scattered = false;                 // a free sector after each sector of a large stream
    bool looped = false;                    // a large stream's last sector chained back to its first
    std::optional<uint32_t> start;          // the start sector recorded for large streams
    int64_t sizeDelta = 0;                  // added to the size recorded for large streams
    uint32_t sizeHigh = 0;                  // the high half of entries' sizes (writers of version 3 leave junk)
    uint8_t entryType = 2;                  // of entries: 2 a stream, 1 a storage
    bool ownSibling = false;                // each entry its own right sibling
    std::optional<uint32_t> rootChild;      // the root's child entry as recorded
    std::optional<uint32_t> fatSectors;     // the FAT's sector count as the header records it
    bool directoryLooped = false;           // the directory's last sector chained back to its first
};

std::string compoundFile(const std::vector<std::pair<std::u16string, std::string>>& streams,
                         const std::string& rootClsid = std::string(16, '\0'), const CompoundShape& shape = {});

// The stream name the installer gives a binary cell, from its table and key
// ("Binary.Setup_dll"): pairs of characters of [0-9A-Za-z._] packed into one UTF-16
// unit from 0x3800, a lone one from 0x4800, anything else kept. Throws
// std::invalid_argument for a character outside ASCII.
std::u16string msiStreamName(const std::string& tableDotKey);

// A table as an installer database keeps it: its columns' names and types as _Columns
// stores them, and its rows (a stream cell is left null).
constexpr int kColumnString = 0x0D00, kColumnNullable = 0x1000, kColumnKey = 0x2000;
struct MsiTable {
    std::string name;
    std::vector<std::pair<std::string, int>> columns;
    std::vector<std::vector<Cell>> rows;
};

// The streams of an installer database holding these tables, for compoundFile: its string
// pool (code page 0, two-byte string ids), _Columns describing every table, and each
// table with rows, column by column (a string cell as its id, an integer with its top bit
// flipped, 0 for null).
// Throws std::length_error for more strings than two-byte ids can name.
std::vector<std::pair<std::u16string, std::string>> msiTables(const std::vector<MsiTable>& tables);

// The same for a Property table of these rows alone; no Property stream without rows.
std::vector<std::pair<std::u16string, std::string>> msiPropertyTable(
    const std::vector<std::pair<std::string, std::string>>& rows);

}  // namespace winsim
