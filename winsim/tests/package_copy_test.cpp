// The package copy: the header fields readers check first, the installer's stream names,
// the 4096-byte line between mini stream and sectors (the writer's chains are contiguous),
// and the string pool, _Columns and Property table the library reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "winsim/control.h"
#include "winsim/package_copy.h"

TEST(PackageCopy, HoldsEachBinaryRowUnderTheInstallersStreamName) {
    winsim::Machine machine;
    winsim::Session session(machine);
    const std::string big(4096, 'b'), small(4095, 's');
    session.database().addBinary("Ab", big);
    session.database().addBinary("c", small);
    session.setProperty("ProductCode", "{6A}");
    session.writePackageCopy("C:\\Windows\\Installer\\1f2e.msi");
    const std::string f = machine.readFile("C:\\Windows\\Installer\\1f2e.msi");
    auto u32 = [&f](size_t at) {
        return uint32_t(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 | uint8_t(f[at + 2]) << 16) |
               uint32_t(uint8_t(f[at + 3])) << 24;
    };
    ASSERT_EQ(std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), f.substr(0, 8));
    EXPECT_EQ(0x0009FFFEu, u32(0x1C));  // little-endian, 512-byte sectors
    EXPECT_EQ(4096u, u32(0x38));
    const size_t dir = 512 * (1 + u32(0x30));
    EXPECT_EQ(std::string("\x84\x10\x0C\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16), f.substr(dir + 0x50, 16));
    std::map<std::u16string, std::string> streams;  // each one's bytes, read in one piece
    for (size_t e = dir + 128; e < f.size() && f[e + 0x42] == 2; e += 128) {  // the directory is contiguous
        const size_t units = (uint8_t(f[e + 0x40]) - 2u) / 2, start = u32(e + 0x74), size = u32(e + 0x78);
        std::u16string name;
        for (size_t i = 0; i < units; ++i) name += char16_t(uint8_t(f[e + 2 * i]) | uint8_t(f[e + 2 * i + 1]) << 8);
        const size_t at = size < 4096 ? 512 * (1 + u32(dir + 0x74)) + 64 * start : 512 * (1 + start);
        streams[name] = size ? f.substr(at, size) : "";
    }
    // "Binary.Ab" packs as Bi na ry .A and a lone b; "Binary.c" as Bi na ry .c. The string
    // pool: code page 0, then each string's length and count, in order of first use;
    // _Columns: the tables' ids, the numbers, the names' ids, the types (s72 key, s0), each
    // number with its top bit flipped; the Property table: the names' ids, then the values'.
    const std::u16string table = u"\x4840";
    EXPECT_EQ((std::map<std::u16string, std::string>{
                  {u"\x430B\x4131\x4735\x3ABE\x4825", big},
                  {u"\x430B\x4131\x4735\x41BE", small},
                  {table + winsim::msiStreamName("_StringPool"),
                   std::string("\0\0\0\0\x08\0\x01\0\x0B\0\x01\0\x05\0\x01\0\x04\0\x01\0", 20)},
                  {table + winsim::msiStreamName("_StringData"), "PropertyProductCodeValue{6A}"},
                  {table + winsim::msiStreamName("_Columns"),
                   std::string("\x01\0\x01\0" "\x01\x80\x02\x80" "\x01\0\x03\0" "\x48\xAD\0\x8D", 16)},
                  {table + winsim::msiStreamName("Property"), std::string("\x02\0\x04\0", 4)}}),
              streams);
}
