// Binary rows read through the compound file: from msibuild's file (fuzz/corpus/make_rows_msi.sh)
// and from winsim's writer in shapes msibuild never writes or a planted file could take.
#include "trust/package_tables.h"
#include "winsim/control.h"
#include "winsim/package_copy.h"

#include <gtest/gtest.h>

namespace {

const char kPackage[] = "C:\\Windows\\Installer\\4f2a.msi";
using Shape = winsim::CompoundShape;

// The bytes of make_rows_msi.sh's rows.
std::string pattern(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((uint32_t(i) * 2654435761u + seed * 40503u) >> 13);
    return bytes;
}

// Binary.big (pattern(5000, 5), in regular sectors) beside Binary.other, which the
// directory's tree puts above it, in a file of this shape.
std::string big(void (*knob)(Shape&) = nullptr) {
    Shape shape;
    if (knob) knob(shape);
    return winsim::compoundFile({{winsim::msiStreamName("Binary.big"), pattern(5000, 5)},
                                 {winsim::msiStreamName("Binary.other"), pattern(100, 6)}},
                                std::string(16, '\0'), shape);
}

// Each row read whole through the installer's own handle, open for writing (sharing
// reading only), as the gate hands over the file it checked; broken files refused at once
// or row by row, never a loop or crash.
TEST(CompoundFile, ReadsRowsAndRefusesBrokenFiles) {
    winsim::Machine machine;
    machine.copyFileIn(std::string(FA9_PACKAGE_DIR) + "/rows.msi", kPackage);
    const std::string made = machine.readFile(kPackage);
    const std::string bigData = pattern(5000, 5), none;
    // `bytes`: the row's bytes when it is read.
    const struct { const char* label; std::string file; DWORD opened; std::string row, bytes; } cases[] = {
        {"in the mini stream", made, 0, "small", pattern(1000, 1)},
        {"a name of an odd length", made, 0, "Fa9_row.v2", pattern(4095, 2)},
        {"the cutoff's size", made, 0, "cut.4096", pattern(4096, 3)},
        {"in regular sectors", made, 0, "large", pattern(70000, 4)},
        {"another case", made, 0, "Small", none},
        {"a prefix in whole units", made, 0, "sma", none},
        {"too long for an entry", made, 0, std::string(60, 'l'), none},
        {"cut in half", made.substr(0, made.size() / 2), ERROR_FILE_CORRUPT, "small", none},
        {"empty", "", ERROR_INVALID_DATA, "small", none},
        {"garbage", std::string(4096, 'x'), ERROR_INVALID_DATA, "small", none},
        {"as written", big(), 0, "big", bigData},
        {"4096-byte sectors", big([](Shape& s) { s.sectorShift = 12; }), 0, "big", bigData},
        // The row's FAT entries lie in a FAT sector only a DIFAT sector names.
        {"scattered, past 109 FAT sectors", big([](Shape& s) { s.freeSectors = 14000, s.scattered = true; }), 0, "big",
         bigData},
        {"junk in a version 3 size's high half", big([](Shape& s) { s.sizeHigh = 7; }), 0, "big", bigData},
        {"a version 4 size's high half set", big([](Shape& s) { s.sectorShift = 12, s.sizeHigh = 1; }), 0, "big", none},
        {"a chain shorter than its size", big([](Shape& s) { s.sizeDelta = 1000; }), 0, "big", none},
        {"a chain in a cycle", big([](Shape& s) { s.looped = true; }), 0, "big", none},
        {"a start outside the file", big([](Shape& s) { s.start = 5000; }), 0, "big", none},
        {"the root's child outside the directory", big([](Shape& s) { s.rootChild = 0x100000; }), 0, "big", none},
        {"an entry its own sibling", big([](Shape& s) { s.ownSibling = true; }), 0, "big", none},
        {"a row stored as a storage", big([](Shape& s) { s.entryType = 1; }), 0, "big", none},
        {"version 5", big([](Shape& s) { s.majorVersion = 5; }), ERROR_INVALID_DATA, "big", none},
        {"the directory in a cycle", big([](Shape& s) { s.directoryLooped = true; }), ERROR_FILE_CORRUPT, "big", none},
        {"more FAT than sectors", big([](Shape& s) { s.fatSectors = 0x7FFFFFFF; }), ERROR_FILE_CORRUPT, "big", none},
        {"more FAT than the header names", big([](Shape& s) { s.freeSectors = 200, s.fatSectors = 120; }),
         ERROR_FILE_CORRUPT, "big", none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.writeFile(kPackage, c.file);
        unique_hfile installer(CreateFileA(kPackage, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        PackageFile package;
        ASSERT_EQ(package.openHeld(installer.get()), c.opened);
        for (int pass = 0; pass < 3; ++pass) {  // a second read finds the same, and so does a second open
            if (pass == 2) { ASSERT_EQ(package.openHeld(installer.get()), c.opened); }
            std::vector<unsigned char> data(3, 'x');
            EXPECT_EQ(package.readBinary(c.row.c_str(), data), !c.bytes.empty());
            EXPECT_EQ(std::string(data.begin(), data.end()), c.bytes);
        }
        package.close();  // the holder's handle is its own
        EXPECT_EQ(GetFileSize(installer.get(), nullptr), c.file.size());
    }
    EXPECT_EQ(PackageFile().openHeld(INVALID_HANDLE_VALUE), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
