// The parts of the simulated loader the library's behaviour rests on: the search order
// a bare library name goes through (where a planted copy would be found) and data-file
// mappings, which run nothing and stay off the loader's list.
#include "winsim/control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string dataFile(const std::string& name) { return std::string(FA9_TEST_DATA_DIR) + "/" + name; }

class Modules : public ::testing::Test {
protected:
    void put(const std::string& dataName, const std::string& winPath) {
        machine.copyFileIn(dataFile(dataName), winPath);
    }
    std::string loadString(HMODULE h, UINT id, int cch = 256) {
        std::vector<char> buf(size_t(cch > 0 ? cch : 1) + 8, 'x');
        int n = LoadStringA(h, id, buf.data(), cch);
        EXPECT_GE(n, 0);
        EXPECT_EQ(buf[size_t(n)], '\0') << "not terminated";
        EXPECT_EQ(std::strlen(buf.data()), size_t(n));
        return std::string(buf.data(), size_t(n));
    }

    winsim::Machine machine;
};

// ---------------------------------------------------------------- search order

struct SearchCase {
    const char* what;
    std::vector<std::string> placedAt;  // copies of the library
    std::string currentDir;
    std::string path;  // PATH
    std::string name;  // as passed to LoadLibraryA
    std::string expected;
};

class SearchOrder : public Modules, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchOrder, FindsTheFirstFolderInWindowsOrder) {
    const SearchCase& c = GetParam();
    for (const std::string& p : c.placedAt) put("test_strings.dll", p);
    machine.makeDirs(c.currentDir);
    machine.setCurrentDirectory(c.currentDir);
    machine.environment["PATH"] = c.path;

    SetLastError(0);
    HMODULE h = LoadLibraryA(c.name.c_str());
    ASSERT_NE(h, nullptr) << c.what << ": error " << GetLastError();
    ASSERT_EQ(machine.loadedModules().size(), 1u);
    EXPECT_TRUE(winsim::equalsNoCase(machine.loadedModules()[0], c.expected))
        << c.what << ": loaded " << machine.loadedModules()[0];
}

const std::string kSys = "C:\\Windows\\System32";

INSTANTIATE_TEST_SUITE_P(
    Loader, SearchOrder,
    ::testing::Values(
        SearchCase{"current folder", {"C:\\Work\\probe.dll"}, "C:\\Work", kSys, "probe.dll", "C:\\Work\\probe.dll"},
        SearchCase{"PATH folder", {"C:\\Tools\\probe.dll"}, "C:\\Work", kSys + ";C:\\Tools", "probe.dll",
                   "C:\\Tools\\probe.dll"},
        SearchCase{"system folder before current", {"C:\\Work\\probe.dll", kSys + "\\probe.dll"}, "C:\\Work", "",
                   "probe.dll", kSys + "\\probe.dll"},
        SearchCase{"16-bit system folder before Windows", {"C:\\Windows\\probe.dll", "C:\\Windows\\System\\probe.dll"},
                   "C:\\Work", "", "probe.dll", "C:\\Windows\\System\\probe.dll"},
        SearchCase{"Windows folder before current", {"C:\\Work\\probe.dll", "C:\\Windows\\probe.dll"}, "C:\\Work", "",
                   "probe.dll", "C:\\Windows\\probe.dll"},
        SearchCase{"current folder before PATH", {"C:\\Tools\\probe.dll", "C:\\Work\\probe.dll"}, "C:\\Work",
                   "C:\\Tools", "probe.dll", "C:\\Work\\probe.dll"},
        SearchCase{"PATH in its order", {"C:\\B\\probe.dll", "C:\\A\\probe.dll"}, "C:\\Work", "C:\\Empty;C:\\A;C:\\B",
                   "probe.dll", "C:\\A\\probe.dll"},
        SearchCase{"'.dll' appended", {"C:\\Work\\probe.dll"}, "C:\\Work", "", "PROBE", "C:\\Work\\probe.dll"},
        SearchCase{"trailing dot: no extension", {"C:\\Work\\probe", "C:\\Work\\probe.dll"}, "C:\\Work", "",
                   "probe.", "C:\\Work\\probe"},
        SearchCase{"other extension kept", {"C:\\Work\\probe.ocx", "C:\\Work\\probe.ocx.dll"}, "C:\\Work", "",
                   "probe.ocx", "C:\\Work\\probe.ocx"},
        SearchCase{"relative path against the current folder", {"C:\\Work\\sub\\probe.dll", kSys + "\\probe.dll"},
                   "C:\\Work", "", "sub\\probe.dll", "C:\\Work\\sub\\probe.dll"},
        SearchCase{"absolute path, case ignored", {"C:\\Lib\\Probe.dll"}, "C:\\Work", "", "c:\\lib\\PROBE",
                   "C:\\Lib\\Probe.dll"}),
    [](const ::testing::TestParamInfo<SearchCase>& i) { return "case" + std::to_string(i.index); });

// A library mapped as data only: its strings can be read, nothing of it runs, and the
// loader's list (GetModuleHandleA, GetProcAddress, later loads by name) does not see it.
// A library already loaded as code is handed out as it is.
TEST_F(Modules, ADataFileMappingRunsNothingAndStaysOffTheList) {
    put("planted/fa9istring_v97.dll", "C:\\Lib\\probe.dll");
    const DWORD asData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    HMODULE data = LoadLibraryExA("C:\\Lib\\probe.dll", nullptr, asData);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) & 3, 2u) << "an image-resource mapping's handle";
    EXPECT_EQ(loadString(data, 2006), "Fehlgeschlagen mit %1.");
    EXPECT_EQ(GetModuleHandleA("C:\\Lib\\probe.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("probe.dll"), nullptr);
    EXPECT_EQ(GetProcAddress(data, "TestAlpha"), nullptr);
    EXPECT_TRUE(machine.entryPointsRun().empty());
    EXPECT_TRUE(machine.loadedModules().empty());
    EXPECT_EQ(machine.dataFileModules(), std::vector<std::string>{"C:\\Lib\\probe.dll"});

    HMODULE code = LoadLibraryA("probe.dll");  // the search finds nothing: the mapping is not a module
    EXPECT_EQ(code, nullptr);
    code = LoadLibraryA("C:\\Lib\\probe.dll");
    ASSERT_NE(code, nullptr);
    EXPECT_NE(code, data);
    EXPECT_EQ(machine.entryPointsRun(), std::vector<std::string>{"C:\\Lib\\probe.dll"});
    EXPECT_EQ(LoadLibraryExA("C:\\Lib\\probe.dll", nullptr, asData), code);
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_TRUE(machine.dataFileModules().empty());

    // A library without an entry point has nothing to run, however it is loaded.
    put("test_strings.dll", "C:\\Lib\\plain.dll");
    EXPECT_NE(LoadLibraryA("C:\\Lib\\plain.dll"), nullptr);
    EXPECT_EQ(machine.entryPointsRun().size(), 1u);
    EXPECT_EQ(LoadLibraryExA("C:\\Lib\\plain.dll", INVALID_HANDLE_VALUE, asData), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
