// The simulated loader, string resources and system messages, checked against what
// Windows does: search order, module identity and reference counts, exports, the
// string-table layout and language choice, ANSI conversion and FormatMessage rules.
#include "winsim/control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr DWORD kErrorMrMidNotFound = 317;
constexpr DWORD kErrorResourceLangNotFound = 15100;

std::string dataFile(const std::string& name) { return std::string(FA9_TEST_DATA_DIR) + "/" + name; }

intptr_t WINAPI nativeAlpha() { return 41; }
intptr_t WINAPI nativeOther() { return 42; }

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

// ---------------------------------------------------------------- load failures

struct FailCase {
    const char* what;
    std::string content;  // written to C:\Work\bad.dll; empty = copy nothing
    std::string name;
    DWORD error;
};

class LoadFailure : public Modules, public ::testing::WithParamInterface<FailCase> {};

TEST_P(LoadFailure, ReturnsNullWithTheError) {
    const FailCase& c = GetParam();
    put("test_strings.dll", kSys + "\\elsewhere.dll");
    machine.setCurrentDirectory("C:\\Windows");
    if (!c.content.empty()) machine.writeFile("C:\\Work\\bad.dll", c.content);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(c.name.c_str()), nullptr) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_TRUE(machine.loadedModules().empty());
}

std::string truncatedDll() {
    std::string full;
    FILE* f = std::fopen(dataFile("test_strings.dll").c_str(), "rb");
    if (f) {
        char buf[4096];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        full.assign(buf, n);
        std::fclose(f);
    }
    return full.substr(0, 300);  // headers cut inside the section table
}

INSTANTIATE_TEST_SUITE_P(
    Loader, LoadFailure,
    ::testing::Values(FailCase{"nowhere", "", "missing.dll", ERROR_MOD_NOT_FOUND},
                      FailCase{"a path is not searched", "", "C:\\Work\\elsewhere.dll", ERROR_MOD_NOT_FOUND},
                      FailCase{"empty name", "", "", ERROR_MOD_NOT_FOUND},
                      FailCase{"text file", "just some text, not a program\r\n", "C:\\Work\\bad.dll",
                               ERROR_BAD_EXE_FORMAT},
                      FailCase{"MZ without PE header", std::string("MZ") + std::string(200, '\0'),
                               "C:\\Work\\bad.dll", ERROR_BAD_EXE_FORMAT},
                      FailCase{"truncated image", truncatedDll(), "C:\\Work\\bad.dll", ERROR_BAD_EXE_FORMAT}),
    [](const ::testing::TestParamInfo<FailCase>& i) { return "case" + std::to_string(i.index); });

TEST_F(Modules, LoadLibraryOfNullIsAnInvalidParameter) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// ---------------------------------------------------------------- identity and reference counts

TEST_F(Modules, ALoadedNameIsReusedWhereverItCameFrom) {
    put("test_strings.dll", "C:\\Lib\\probe.dll");
    put("test_strings.dll", kSys + "\\probe.dll");
    HMODULE byPath = LoadLibraryA("C:\\Lib\\probe.dll");
    ASSERT_NE(byPath, nullptr);
    // The bare name matches the loaded module before any search reaches the system folder.
    EXPECT_EQ(LoadLibraryA("PROBE.DLL"), byPath);
    EXPECT_EQ(LoadLibraryA("c:\\LIB\\Probe.dll"), byPath);
    // Another file of that name, named by its path, is a module of its own.
    HMODULE second = LoadLibraryA((kSys + "\\probe.dll").c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, byPath);
    EXPECT_EQ(machine.loadedModules(), (std::vector<std::string>{"C:\\Lib\\probe.dll", kSys + "\\probe.dll"}));
}

TEST_F(Modules, FreeLibraryUnloadsWhenTheCountReachesZero) {
    put("test_strings.dll", "C:\\Lib\\probe.dll");
    HMODULE h = LoadLibraryA("C:\\Lib\\probe.dll");
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(LoadLibraryA("probe"), h);
    ASSERT_EQ(LoadLibraryA("C:\\Lib\\probe.dll"), h);

    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleA("probe.dll"), h) << "one reference is left";
    EXPECT_EQ(loadString(h, 1), "English table");
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleA("probe.dll"), nullptr);
    EXPECT_TRUE(machine.loadedModules().empty());

    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    // A fresh load gets a new handle: the stale one stays dead.
    HMODULE again = LoadLibraryA("C:\\Lib\\probe.dll");
    EXPECT_NE(again, nullptr);
    EXPECT_NE(again, h);
}

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

struct HandleCase {
    std::string name;
    bool found;
};

class ModuleHandle : public Modules, public ::testing::WithParamInterface<HandleCase> {};

TEST_P(ModuleHandle, MatchesBaseNameOrFullPathWithoutCase) {
    put("test_strings.dll", "C:\\Lib\\Probe.dll");
    machine.makeDirs("C:\\Lib\\sub");
    machine.setCurrentDirectory("C:\\Lib\\sub");
    HMODULE h = LoadLibraryA("C:\\Lib\\Probe.dll");
    ASSERT_NE(h, nullptr);
    SetLastError(0);
    HMODULE got = GetModuleHandleA(GetParam().name.c_str());
    if (GetParam().found) {
        EXPECT_EQ(got, h);
    } else {
        EXPECT_EQ(got, nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    }
}

INSTANTIATE_TEST_SUITE_P(Loader, ModuleHandle,
                         ::testing::Values(HandleCase{"Probe.dll", true}, HandleCase{"PROBE.DLL", true},
                                           HandleCase{"probe", true}, HandleCase{"C:\\Lib\\Probe.dll", true},
                                           HandleCase{"c:\\lib\\PROBE.DLL", true}, HandleCase{"..\\probe.dll", true},
                                           HandleCase{"C:\\Other\\Probe.dll", false},
                                           HandleCase{"probe.", false}, HandleCase{"Probe.ocx", false},
                                           HandleCase{"other.dll", false}));

TEST_F(Modules, TheExecutableHasAStableHandleAndNoStrings) {
    HMODULE exe = GetModuleHandleA(nullptr);
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), exe);
    put("test_strings.dll", "C:\\Lib\\probe.dll");
    EXPECT_NE(LoadLibraryA("C:\\Lib\\probe.dll"), exe);

    char buf[16] = "untouched";
    SetLastError(0);
    EXPECT_EQ(LoadStringA(nullptr, 1, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(nullptr, "TestAlpha"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
}

// ---------------------------------------------------------------- exports

struct ProcCase {
    const char* what;
    LPCSTR name;  // a name or MAKEINTRESOURCE-style ordinal
    FARPROC expected;
};

class ProcAddress : public Modules, public ::testing::WithParamInterface<ProcCase> {};

TEST_P(ProcAddress, OnlyRealExportsWithAHostImplementation) {
    put("test_exports.dll", "C:\\Lib\\test_exports.dll");
    machine.registerNativeModule("test_exports.dll", {{"TestAlpha", &nativeAlpha}, {"NotExported", &nativeOther}});
    HMODULE h = LoadLibraryA("C:\\Lib\\test_exports.dll");
    ASSERT_NE(h, nullptr) << GetLastError();
    SetLastError(0);
    FARPROC p = GetProcAddress(h, GetParam().name);
    EXPECT_EQ(p, GetParam().expected) << GetParam().what;
    if (!GetParam().expected) {
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND)) << GetParam().what;
    }
}

LPCSTR ordinal(uintptr_t n) { return reinterpret_cast<LPCSTR>(n); }

INSTANTIATE_TEST_SUITE_P(
    Loader, ProcAddress,
    ::testing::Values(ProcCase{"exported and implemented", "TestAlpha", &nativeAlpha},
                      ProcCase{"exported, no host implementation", "TestBeta", nullptr},
                      ProcCase{"implemented, not exported", "NotExported", nullptr},
                      ProcCase{"names are case-sensitive", "testalpha", nullptr},
                      ProcCase{"ordinal of a named export", ordinal(1), &nativeAlpha},
                      ProcCase{"ordinal-only export", ordinal(3), nullptr},
                      ProcCase{"unknown ordinal", ordinal(9), nullptr}),
    [](const ::testing::TestParamInfo<ProcCase>& i) { return "case" + std::to_string(i.index); });

TEST_F(Modules, GetProcAddressOnAFreedModuleFails) {
    put("test_exports.dll", "C:\\Lib\\test_exports.dll");
    machine.registerNativeModule("test_exports.dll", {{"TestAlpha", &nativeAlpha}});
    HMODULE h = LoadLibraryA("C:\\Lib\\test_exports.dll");
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(FreeLibrary(h));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(h, "TestAlpha"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST_F(Modules, ALibraryWithoutResourcesHasNoStrings) {
    put("test_exports.dll", "C:\\Lib\\test_exports.dll");
    HMODULE h = LoadLibraryA("C:\\Lib\\test_exports.dll");
    ASSERT_NE(h, nullptr);
    char buf[8] = "xxxxxxx";
    SetLastError(0);
    EXPECT_EQ(LoadStringA(h, 1, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
}

// ---------------------------------------------------------------- string tables

struct LangCase {
    LANGID system;
    UINT id;
    std::string expected;
};

class StringLanguage : public Modules, public ::testing::WithParamInterface<std::tuple<const char*, LangCase>> {};

TEST_P(StringLanguage, ChoosesTheBlockAsFindResourceDoes) {
    const char* dll = std::get<0>(GetParam());
    const LangCase& c = std::get<1>(GetParam());
    if (!std::filesystem::exists(dataFile(dll))) GTEST_SKIP() << dll << " was not built (no 32-bit mingw tools)";
    put(dll, "C:\\Lib\\strings.dll");
    machine.systemLanguage = c.system;
    HMODULE h = LoadLibraryA("C:\\Lib\\strings.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(loadString(h, c.id), c.expected) << "language " << std::hex << c.system << ", id " << std::dec << c.id;
}

INSTANTIATE_TEST_SUITE_P(
    Resources, StringLanguage,
    ::testing::Combine(
        ::testing::Values("test_strings.dll", "test_strings32.dll"),
        ::testing::Values(LangCase{0x0409, 1, "English table"}, LangCase{0x0411, 1, "Japanese table"},
                          LangCase{0x0407, 1, "German without sublanguage"},  // de-DE finds "de"
                          LangCase{0x040A, 1, "Neutral table"},               // Spanish: none, neutral next
                          LangCase{0x040A, 17, "English in block 2"},         // no neutral: English
                          LangCase{0x040A, 32, "French in block 3"},          // neither: the first present
                          LangCase{0x0411, 32, "Japanese in block 3"},
                          LangCase{0x0411, 2, ""},  // the chosen block lacks it: no falling back per string
                          LangCase{0x0409, 2, "ABCDEFGHIJ"}, LangCase{0x0409, 100, "Far away in block 7"},
                          LangCase{0x0409, 5, ""},               // a hole in a block
                          LangCase{0x0409, 500, ""},             // no such block
                          LangCase{0x0409, 0x10001, "English table"}  // only the low word counts
                          )));

struct TruncCase {
    int cch;
    int expectedLength;
    std::string expected;
};

class StringTruncation : public Modules, public ::testing::WithParamInterface<TruncCase> {};

TEST_P(StringTruncation, CutsToTheBufferAndTerminates) {
    put("test_strings.dll", "C:\\Lib\\strings.dll");
    HMODULE h = LoadLibraryA("C:\\Lib\\strings.dll");
    ASSERT_NE(h, nullptr);
    const TruncCase& c = GetParam();
    std::vector<char> buf(64, 'x');
    EXPECT_EQ(LoadStringA(h, 2, buf.data(), c.cch), c.expectedLength);
    EXPECT_EQ(std::string(buf.data(), size_t(c.expected.size())), c.expected);
    EXPECT_EQ(buf[c.expected.size()], '\0');
    EXPECT_EQ(buf[size_t(c.cch > 0 ? c.cch : 0)], 'x') << "wrote past cchBufferMax";
}

INSTANTIATE_TEST_SUITE_P(Resources, StringTruncation,
                         ::testing::Values(TruncCase{40, 10, "ABCDEFGHIJ"}, TruncCase{11, 10, "ABCDEFGHIJ"},
                                           TruncCase{10, 9, "ABCDEFGHI"}, TruncCase{2, 1, "A"},
                                           TruncCase{1, 0, ""}));

TEST_F(Modules, LoadStringWithNoRoomReturnsMinusOne) {
    put("test_strings.dll", "C:\\Lib\\strings.dll");
    HMODULE h = LoadLibraryA("C:\\Lib\\strings.dll");
    ASSERT_NE(h, nullptr);
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(LoadStringA(h, 2, buf, 0), -1);
    EXPECT_EQ(buf[0], 'x');
}

struct CodePageCase {
    UINT codePage;
    UINT id;
    int cch;
    std::string expected;  // bytes in that code page
};

class StringCodePage : public Modules, public ::testing::WithParamInterface<CodePageCase> {};

TEST_P(StringCodePage, ConvertsToTheAnsiCodePage) {
    put("test_strings.dll", "C:\\Lib\\strings.dll");
    machine.ansiCodePage = GetParam().codePage;
    HMODULE h = LoadLibraryA("C:\\Lib\\strings.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(loadString(h, GetParam().id, GetParam().cch), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Resources, StringCodePage,
    ::testing::Values(CodePageCase{932, 3, 64, "\x93\xfa\x96\x7b\x8c\xea"},
                      CodePageCase{932, 3, 7, "\x93\xfa\x96\x7b\x8c\xea"},
                      CodePageCase{932, 3, 6, "\x93\xfa\x96\x7b"},  // never half a character
                      CodePageCase{932, 4, 64, "a\x82\xa0" "b"},
                      CodePageCase{932, 4, 3, "a"},  // the copy stops at the character that does not fit
                      CodePageCase{1252, 3, 64, "???"}, CodePageCase{1252, 4, 64, "a?b"},
                      CodePageCase{1252, 6, 64, "Gr\xf6\xdf" "e 5 \x80"},
                      CodePageCase{1250, 6, 64, "Gr\xf6\xdf" "e 5 \x80"},
                      CodePageCase{1251, 6, 64, "Gr??e 5 \x88"},
                      CodePageCase{1252, 7, 64, "Say \"hi\" twice"},
                      CodePageCase{65001, 4, 64, "a\xe3\x81\x82" "b"}));

// ---------------------------------------------------------------- FormatMessageA

struct SystemText {
    DWORD code;
    std::string text;
};

class SystemMessage : public Modules, public ::testing::WithParamInterface<SystemText> {};

TEST_P(SystemMessage, GivesTheEnglishTextWithItsLineBreak) {
    char buf[512];
    std::memset(buf, 'x', sizeof buf);
    SetLastError(0xdeadbeef);
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetParam().code, 0,
                             buf, sizeof buf, nullptr);
    EXPECT_EQ(n, GetParam().text.size());
    EXPECT_EQ(std::string(buf), GetParam().text);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "success leaves the last error alone";
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SystemMessage,
    ::testing::Values(SystemText{0, "The operation completed successfully.\r\n"},
                      SystemText{2, "The system cannot find the file specified.\r\n"},
                      SystemText{3, "The system cannot find the path specified.\r\n"},
                      SystemText{5, "Access is denied.\r\n"}, SystemText{6, "The handle is invalid.\r\n"},
                      SystemText{8, "Not enough memory resources are available to process this command.\r\n"},
                      SystemText{14, "Not enough storage is available to complete this operation.\r\n"},
                      SystemText{87, "The parameter is incorrect.\r\n"},
                      SystemText{122, "The data area passed to a system call is too small.\r\n"},
                      SystemText{126, "The specified module could not be found.\r\n"},
                      SystemText{127, "The specified procedure could not be found.\r\n"},
                      SystemText{193, "%1 is not a valid Win32 application.\r\n"},
                      SystemText{234, "More data is available.\r\n"},
                      SystemText{259, "No more data is available.\r\n"},
                      SystemText{1603, "Fatal error during installation.\r\n"},
                      SystemText{1627, "Function failed during execution.\r\n"}),
    [](const ::testing::TestParamInfo<SystemText>& i) { return "code" + std::to_string(i.param.code); });

struct MessageFailure {
    const char* what;
    DWORD flags;
    DWORD code;
    DWORD language;
    DWORD size;
    DWORD error;
};

class SystemMessageFailure : public Modules, public ::testing::WithParamInterface<MessageFailure> {};

TEST_P(SystemMessageFailure, ReturnsZeroAndLeavesTheBufferAlone) {
    const MessageFailure& c = GetParam();
    char buf[512];
    std::memset(buf, 'x', sizeof buf);
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.code, c.language, buf, c.size, nullptr), 0u) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(buf[0], 'x') << c.what;
}

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
const DWORD kFileNotFoundLength = DWORD(std::strlen("The system cannot find the file specified.\r\n"));

INSTANTIATE_TEST_SUITE_P(
    Messages, SystemMessageFailure,
    ::testing::Values(
        MessageFailure{"unknown code", kSystem, 0xDEAD, 0, 512, kErrorMrMidNotFound},
        MessageFailure{"no room for the terminator", kSystem, 2, 0, kFileNotFoundLength, ERROR_INSUFFICIENT_BUFFER},
        MessageFailure{"empty buffer", kSystem, 2, 0, 0, ERROR_INSUFFICIENT_BUFFER},
        MessageFailure{"language not installed", kSystem, 2, 0x0411, 512, kErrorResourceLangNotFound},
        MessageFailure{"inserts without arguments", FORMAT_MESSAGE_FROM_SYSTEM, 193, 0, 512, ERROR_INVALID_PARAMETER},
        MessageFailure{"no source", FORMAT_MESSAGE_IGNORE_INSERTS, 2, 0, 512, ERROR_INVALID_PARAMETER},
        MessageFailure{"module without a message table", FORMAT_MESSAGE_FROM_HMODULE, 2, 0, 512,
                       ERROR_RESOURCE_TYPE_NOT_FOUND}),
    [](const ::testing::TestParamInfo<MessageFailure>& i) { return "case" + std::to_string(i.index); });

TEST_F(Modules, SystemMessageFitsExactlyWithItsTerminator) {
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, 2, 0, buf, kFileNotFoundLength + 1, nullptr), kFileNotFoundLength);
    EXPECT_EQ(buf[kFileNotFoundLength], '\0');
    EXPECT_EQ(buf[kFileNotFoundLength + 1], 'x');
}

TEST_F(Modules, SystemMessageTakesInsertsFromAnArgumentArray) {
    const char* args[] = {"C:\\Lib\\bad.dll"};
    char buf[128];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, 193,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, sizeof buf, args);
    EXPECT_EQ(std::string(buf, n), "C:\\Lib\\bad.dll is not a valid Win32 application.\r\n");
}

TEST_F(Modules, AllocateBufferIsRefused) {
    char* out = reinterpret_cast<char*>(0x1234);
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 2, 0, reinterpret_cast<LPSTR>(&out), 0,
                             nullptr),
              0u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

struct FormatCase {
    DWORD flags;
    const char* source;
    std::string expected;
};

class MessageFormatting : public Modules, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(MessageFormatting, FollowsTheEscapeRules) {
    char buf[128];
    std::memset(buf, 'x', sizeof buf);
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | GetParam().flags, GetParam().source, 0, 0, buf, sizeof buf,
                             nullptr);
    EXPECT_EQ(std::string(buf, n), GetParam().expected) << GetParam().source;
    EXPECT_EQ(buf[n], '\0');
}

constexpr DWORD kIgnore = FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kOneLine = FORMAT_MESSAGE_MAX_WIDTH_MASK;

INSTANTIATE_TEST_SUITE_P(
    Messages, MessageFormatting,
    ::testing::Values(FormatCase{0, "test%0test", "test"}, FormatCase{kIgnore, "test%0test", "test"},
                      FormatCase{0, " %%%% ", " %% "}, FormatCase{0, " %.%. %!", " .. !"},
                      FormatCase{kIgnore, "test%1%2!*.*s!%99", "test%1%2!*.*s!%99"},
                      FormatCase{kIgnore, "%%% %.%!", "%%% %.%!"}, FormatCase{kIgnore, "%n%r%t", "\r\n\r\t"},
                      FormatCase{0, "hi\n", "hi\r\n"}, FormatCase{0, "\r\r\n", "\r\n\r\n"},
                      FormatCase{kOneLine, "hi\r\n", "hi "}, FormatCase{kOneLine | kIgnore, "\r\r\n", "  "},
                      FormatCase{kOneLine, "a%nb", "a\r\nb"}),
    [](const ::testing::TestParamInfo<FormatCase>& i) { return "case" + std::to_string(i.index); });

TEST_F(Modules, SystemMessageOnOneLineEndsInABlank) {
    char buf[128];
    DWORD n = FormatMessageA(kSystem | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 5, 0, buf, sizeof buf, nullptr);
    EXPECT_EQ(std::string(buf, n), "Access is denied. ");
}

}  // namespace
