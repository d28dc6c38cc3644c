// The parts of the simulated loader the library's behaviour rests on: the search order
// a bare library name goes through (where a planted copy would be found) and data-file
// mappings, which run nothing and stay off the loader's list.
#include "winsim/control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string dataFile(const std::string& name) { return std::string(FA9_TEST_DATA_DIR) + "/" + name; }

// A bare name goes through the folders in Windows' order (where a planted copy would be
// found); an extension is added, kept or dropped as Windows does; a path is taken as it is.
TEST(SearchOrder, FindsTheFirstFolderInWindowsOrder) {
    const std::string sys = "C:\\Windows\\System32";
    // Copies of the library, the current folder, PATH, the name given to LoadLibraryA, the copy loaded.
    const struct { const char* what; std::vector<std::string> placedAt; std::string current, path, name, loaded; }
        cases[] = {
        {"current folder", {"C:\\Work\\probe.dll"}, "C:\\Work", sys, "probe.dll", "C:\\Work\\probe.dll"},
        {"PATH folder", {"C:\\Tools\\probe.dll"}, "C:\\Work", sys + ";C:\\Tools", "probe", "C:\\Tools\\probe.dll"},
        {"system folder before current", {"C:\\Work\\probe.dll", sys + "\\probe.dll"}, "C:\\Work", "", "probe.dll",
         sys + "\\probe.dll"},
        {"16-bit system folder first", {"C:\\Windows\\probe.dll", "C:\\Windows\\System\\probe.dll"}, "C:\\Work", "",
         "probe.dll", "C:\\Windows\\System\\probe.dll"},
        {"Windows before current", {"C:\\Work\\probe.dll", "C:\\Windows\\probe.dll"}, "C:\\Work", "", "probe.dll",
         "C:\\Windows\\probe.dll"},
        {"current folder before PATH", {"C:\\Tools\\probe.dll", "C:\\Work\\probe.dll"}, "C:\\Work", "C:\\Tools",
         "probe.dll", "C:\\Work\\probe.dll"},
        {"PATH in its order", {"C:\\B\\probe.dll", "C:\\A\\probe.dll"}, "C:\\Work", "C:\\Empty;C:\\A;C:\\B", "probe",
         "C:\\A\\probe.dll"},
        {"'.dll' appended", {"C:\\Work\\probe.dll"}, "C:\\Work", "", "PROBE", "C:\\Work\\probe.dll"},
        {"trailing dot: no extension", {"C:\\Work\\probe", "C:\\Work\\probe.dll"}, "C:\\Work", "", "probe.",
         "C:\\Work\\probe"},
        {"other extension kept", {"C:\\Work\\probe.ocx", "C:\\Work\\probe.ocx.dll"}, "C:\\Work", "", "probe.ocx",
         "C:\\Work\\probe.ocx"},
        {"relative path against the current folder", {"C:\\Work\\sub\\probe.dll", sys + "\\probe.dll"}, "C:\\Work", "",
         "sub\\probe.dll", "C:\\Work\\sub\\probe.dll"},
        {"absolute path, case ignored", {"C:\\Lib\\Probe.dll"}, "C:\\W", "", "c:\\lib\\PROBE", "C:\\Lib\\Probe.dll"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winsim::Machine machine;
        for (const std::string& p : c.placedAt) machine.copyFileIn(dataFile("test_strings.dll"), p);
        machine.makeDirs(c.current);
        machine.setCurrentDirectory(c.current);
        machine.environment["PATH"] = c.path;
        ASSERT_NE(LoadLibraryA(c.name.c_str()), nullptr) << "error " << GetLastError();
        ASSERT_EQ(machine.loadedModules().size(), 1u);
        EXPECT_TRUE(winsim::equalsNoCase(machine.loadedModules()[0], c.loaded)) << machine.loadedModules()[0];
    }
}

// A library mapped as data only: its strings can be read, nothing of it runs, and the
// loader's list (GetModuleHandleA, GetProcAddress, later loads by name) does not see it.
// A library already loaded as code is handed out as it is.
TEST(Modules, ADataFileMappingRunsNothingAndStaysOffTheList) {
    winsim::Machine machine;
    machine.copyFileIn(dataFile("planted/fa9istring_v97.dll"), "C:\\Lib\\probe.dll");
    const DWORD asData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    HMODULE data = LoadLibraryExA("C:\\Lib\\probe.dll", nullptr, asData);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) & 3, 2u) << "an image-resource mapping's handle";
    char text[64];
    EXPECT_EQ(LoadStringA(data, 2006, text, sizeof text), 22);
    EXPECT_STREQ(text, "Fehlgeschlagen mit %1.");
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
    machine.copyFileIn(dataFile("test_strings.dll"), "C:\\Lib\\plain.dll");
    EXPECT_NE(LoadLibraryA("C:\\Lib\\plain.dll"), nullptr);
    EXPECT_EQ(machine.entryPointsRun().size(), 1u);
    EXPECT_EQ(LoadLibraryExA("C:\\Lib\\plain.dll", INVALID_HANDLE_VALUE, asData), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
