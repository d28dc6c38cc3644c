// Texts read from a string library's bytes against LoadStringA on the same file (winsim reads string
// tables on its own) for every number of strings/en_US.rc, the next one and the number plus 0x10000;
// broken files give nothing. The bytes are held in a buffer of their exact size, for AddressSanitizer.
#include "fixture.h"
#include "frame/string_resource.h"

#include <fstream>
#include <iterator>
#include <regex>

namespace {

std::string hostBytes(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}
void setResourceRva(std::string& f, uint32_t rva) {  // data directory 2 of a PE32+ file
    const size_t at = uint8_t(f[0x3C]) + 256u * uint8_t(f[0x3D]) + 24 + 112 + 16;
    for (int i = 0; i < 4; ++i) f.at(at + i) = char(rva >> 8 * i);
}

// `found`: every number of the .rc, and the others as LoadStringA finds them; otherwise none.
// (The texts are ASCII: the reader copies UTF-16 units whatever they hold.)
TEST(StringResource, GivesWhatLoadStringGives) {
    const std::string en = fa9test::stringLibrary("en_US");
    const struct { const char* what; std::string file; void (*damage)(std::string&); bool found; } cases[] = {
        {"en_US", en, nullptr, true},
        {"en_US as PE32", FA9_TEST_DATA_DIR "/pe32/fa9istring_v97.dll", nullptr, true},
        {"resources, no string table", FA9_OSSE_DLL, nullptr, false},
        {"cut after the headers", en, [](std::string& f) { f.resize(1024); }, false},
        {"garbage after the headers", en,
         [](std::string& f) { for (size_t i = 1024; i < f.size(); ++i) f[i] = char(f[i] * 7 + 1); }, false},
        {"no resource directory", en, [](std::string& f) { setResourceRva(f, 0); }, false},
        {"resource directory past the sections", en, [](std::string& f) { setResourceRva(f, 0x7FFF0000); }, false}};
    const std::string rc = hostBytes(FA9_RC_DIR "/en_US.rc");
    const std::regex number("\n +([0-9]+),");
    std::vector<std::pair<uint32_t, bool>> ids = {{0, false}, {65535, false}};  // (number, in the .rc)
    for (std::sregex_iterator m(rc.begin(), rc.end(), number), end; m != end; ++m)
        for (uint32_t near : {0u, 1u, 0x10000u}) ids.push_back({uint32_t(std::stoul((*m)[1])) + near, near == 0});
    ASSERT_GT(ids.size(), 200u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winsim::Machine machine;
        machine.copyFileIn(c.file, "C:\\Lib\\strings.dll");
        HMODULE lib =
            LoadLibraryExA("C:\\Lib\\strings.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(lib, nullptr) << c.file;
        std::string file = hostBytes(c.file);
        if (c.damage) c.damage(file);
        const std::vector<unsigned char> bytes(file.begin(), file.end());
        for (const auto& [id, inRc] : ids) {
            std::u16string text = u"old";
            const bool found = iFindStringResource(bytes.data(), bytes.size(), id, text);
            char expected[8192];
            const int n = LoadStringA(lib, id, expected, sizeof expected);
            EXPECT_EQ(found, c.found && n > 0) << id;
            EXPECT_TRUE(found || !inRc || !c.found) << id;
            EXPECT_EQ(std::string(text.begin(), text.end()), found ? std::string(expected, size_t(n)) : "") << id;
        }
    }
}

}  // namespace
