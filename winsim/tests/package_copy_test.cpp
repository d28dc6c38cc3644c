// The package copy: the header fields readers check first, the installer database's CLSID,
// and each Binary row under the installer's stream name on either side of the 4096-byte
// line between mini stream and sectors (the writer's chains are contiguous). Its tables
// are read by the library's own reader in tests/.
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
    // "Binary.Ab" packs as Bi na ry .A and a lone b; "Binary.c" as Bi na ry .c.
    EXPECT_EQ(streams[u"\x430B\x4131\x4735\x3ABE\x4825"], big);
    EXPECT_EQ(streams[u"\x430B\x4131\x4735\x41BE"], small);
}
