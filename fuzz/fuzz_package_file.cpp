// The installer's copy of the package is read without the installer, and someone may
// have shaped the file: whatever its bytes, the reader ends, a row comes back whole or
// not at all, and never larger than its limit, and a property read through the string
// pool, a table's names or rows, or a transform's Property rows come back only from a file
// that opened.
// Seeds: rows.msi (corpus/make_rows_msi.sh); version4.msi, 4096-byte sectors; difat.msi,
// 110 FAT sectors, the last named by a DIFAT sector (read at open; the sectors it maps lie
// past the file's end, as 7 MB would be needed to use them); large_pool.msi, 3-byte string
// ids, 800 strings and one of 64 KB (the pool's long form).
// transform.mst, two Property rows added (bench/wine/msi_transform.py).
#include "trust/package_tables.h"
#include "winsim/control.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static winsim::Machine machine;
    machine.writeFile("C:\\Windows\\Installer\\fuzz.msi", std::string(reinterpret_cast<const char*>(data), size));
    PackageFile package;
    // Through a handle held open, as the gate hands files over.
    unique_hfile held(CreateFileA("C:\\Windows\\Installer\\fuzz.msi", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD opened = package.openHeld(held.get());
    // The rows of the seeds (corpus/make_rows_msi.sh, the tests' built files), and
    // names that pack differently.
    static const char* const kRows[] = {"small", "large", "Fa9_row.v2", "cut.4096", "big", "x", "_"};
    for (const char* row : kRows) {
        std::vector<unsigned char> bytes(1);
        const bool read = package.readBinary(row, bytes);
        if ((opened != 0 && read) || (!read && !bytes.empty()) || bytes.size() > PackageFile::kMaxStream)
            __builtin_trap();
    }
    // The seed's two rows, a name that is no row, an empty name and none.
    static const char* const kProperties[] = {"ProductCode", "ProductName", "Property", "", nullptr};
    for (const char* name : kProperties) {
        std::string value(1, 'x');
        const bool read = package.readProperty(name, value);
        if ((opened != 0 && read) || (!read && !value.empty()) || value.size() > PackageFile::kMaxStream)
            __builtin_trap();
    }
    // Names and whole tables: nothing from a file that did not open, no empty name, and a
    // cell either null (nothing in it), text or a number.
    std::vector<std::string> names(1);
    const bool listed = package.readPropertyNames(names);
    if ((opened != 0 && listed) || (!listed && !names.empty())) __builtin_trap();
    for (const std::string& name : names)
        if (name.empty()) __builtin_trap();
    // Read as a transform: the names change only when the whole file was read, and no
    // name comes out empty.
    std::vector<std::string> transformed = {"ProductCode"};
    const bool applied = package.applyPropertyTransform(transformed);
    if ((opened != 0 && applied) || (!applied && transformed != std::vector<std::string>{"ProductCode"}))
        __builtin_trap();
    for (const std::string& name : transformed)
        if (name.empty()) __builtin_trap();
    static const char* const kTables[] = {"CustomAction", "Property", "_Columns", "", nullptr};
    for (const char* table : kTables) {
        std::vector<std::vector<PackageFile::Cell>> rows(1);
        const bool read = package.readTable(table, rows);
        if ((opened != 0 && read) || (!read && !rows.empty())) __builtin_trap();
        for (const auto& row : rows)
            for (const PackageFile::Cell& cell : row)
                if ((cell.null && (!cell.text.empty() || cell.number != 0)) || (!cell.text.empty() && cell.number != 0))
                    __builtin_trap();
    }
    return 0;
}
