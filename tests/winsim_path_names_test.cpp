// The simulated GetShortPathNameA, GetFullPathNameA, GetTempPathA and RemoveDirectoryA
// against what Windows answers.
#include "winsim/control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

namespace {

struct PathCase {
    const char* input;
    const char* expected;
    const char* filePart;  // GetFullPathNameA only; null: none
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.input; }

class PathNames : public ::testing::Test {
protected:
    PathNames() {
        machine.makeDirs("C:\\Program Files\\Long Directory Name");
        machine.makeDirs("C:\\Program Files (x86)");
        machine.writeFile("C:\\Program Files\\Long Directory Name\\Long File test.path", "x");
        machine.writeFile("C:\\Program Files\\Long Directory Name\\a.abcd", "x");
        machine.writeFile("C:\\Program Files\\Long Directory Name\\plus+and space.txt", "x");
        machine.writeFile("C:\\Program Files\\Long Directory Name\\readme.txt", "x");
        // Ten names that share one stem, made out of order.
        for (int i : {7, 2, 9, 0, 5, 1, 8, 3, 6, 4})
            machine.writeFile("C:\\Many\\abcdefgh" + std::to_string(i) + ".txt", "x");
        machine.setCurrentDirectory("C:\\Program Files");
    }
    winsim::Machine machine;
};

class ShortPath : public PathNames, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ShortPath, FormsWindowsShortNames) {
    char buffer[MAX_PATH];
    DWORD n = GetShortPathNameA(GetParam().input, buffer, sizeof buffer);
    ASSERT_NE(n, 0u) << "error " << GetLastError();
    EXPECT_STREQ(buffer, GetParam().expected);
    EXPECT_EQ(n, std::strlen(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Winsim, ShortPath,
    ::testing::Values(
        PathCase{"C:\\Program Files", "C:\\PROGRA~1", nullptr},
        PathCase{"C:\\Program Files (x86)\\", "C:\\PROGRA~2\\", nullptr},
        // Names already 8.3 keep the spelling the folder holds.
        PathCase{"c:\\windows\\SYSTEM32", "c:\\Windows\\System32", nullptr},
        PathCase{"C:/Program Files//Long Directory Name/readme.txt", "C:/PROGRA~1//LONGDI~1/readme.txt", nullptr},
        PathCase{"Long Directory Name\\Long File test.path", "LONGDI~1\\LONGFI~1.PAT", nullptr},
        PathCase{".\\Long Directory Name\\..\\Long Directory Name\\a.abcd", ".\\LONGDI~1\\..\\LONGDI~1\\A~1.ABC",
                 nullptr},
        PathCase{"Long Directory Name\\plus+and space.txt", "LONGDI~1\\PLUS_A~1.TXT", nullptr},
        PathCase{"C:\\Many\\abcdefgh1.txt", "C:\\Many\\ABCDEF~2.TXT", nullptr},
        PathCase{"C:\\Many\\abcdefgh9.txt", "C:\\Many\\ABCDE~10.TXT", nullptr}));

TEST_F(PathNames, ShortPathFailsLikeWindows) {
    char buffer[MAX_PATH] = "untouched";
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files\\Missing Folder", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetShortPathNameA("C:\\Missing Folder\\file.txt", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetShortPathNameA("C:\\Program*", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_STREQ(buffer, "untouched");

    // Too small: the size needed with the terminator, the buffer untouched.
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files", buffer, 11), 12u);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(GetFullPathNameA("C:\\Program Files", 16, buffer, nullptr), 17u);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files", buffer, 12), 11u);
    EXPECT_STREQ(buffer, "C:\\PROGRA~1");
}

TEST_F(PathNames, FullPathRefusesWhatItsMaxPathBufferCannotHold) {
    char buffer[2 * MAX_PATH] = "untouched";
    const std::string fits = "C:\\" + std::string(MAX_PATH - 4, 'a');  // 259 characters in all
    EXPECT_EQ(GetFullPathNameA(fits.c_str(), sizeof buffer, buffer, nullptr), static_cast<DWORD>(MAX_PATH - 1));
    const std::string full = "C:\\" + std::string(MAX_PATH - 3, 'a');  // a full path of 260
    EXPECT_EQ(GetFullPathNameA(full.c_str(), sizeof buffer, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    // A relative name that grows past the limit once the current folder is in front.
    machine.setCurrentDirectory("C:\\Windows\\System32");
    EXPECT_EQ(GetFullPathNameA(std::string(250, 'r').c_str(), sizeof buffer, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    const std::string longName(MAX_PATH + 1, 'n');
    EXPECT_EQ(GetFullPathNameA(longName.c_str(), sizeof buffer, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

class FullPath : public PathNames, public ::testing::WithParamInterface<PathCase> {};

TEST_P(FullPath, ResolvesAgainstTheCurrentDirectory) {
    char buffer[MAX_PATH];
    char* filePart = reinterpret_cast<char*>(&buffer);  // must be overwritten
    DWORD n = GetFullPathNameA(GetParam().input, sizeof buffer, buffer, &filePart);
    EXPECT_EQ(n, std::strlen(GetParam().expected));
    EXPECT_STREQ(buffer, GetParam().expected);
    if (GetParam().filePart) {
        ASSERT_NE(filePart, nullptr);
        EXPECT_STREQ(filePart, GetParam().filePart);
    } else {
        EXPECT_EQ(filePart, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Winsim, FullPath,
    ::testing::Values(PathCase{".", "C:\\Program Files", "Program Files"}, PathCase{"..", "C:\\", nullptr},
                      PathCase{"...", "C:\\Program Files\\", nullptr},
                      PathCase{"a\\..\\b\\", "C:\\Program Files\\b\\", nullptr},
                      PathCase{"c:/test/file.txt  ..", "c:\\test\\file.txt", "file.txt"},
                      PathCase{"\\Temp", "C:\\Temp", "Temp"},
                      // Quotes are ordinary characters: a quoted path is a relative name.
                      PathCase{"\"C:\\Tools\\X\"", "C:\\Program Files\\\"C:\\Tools\\X\"", "X\""},
                      PathCase{"C:\\Tools\\X\"", "C:\\Tools\\X\"", "X\""}));

TEST_F(PathNames, TempPathTakesTmpThenTempThenTheProfileThenWindows) {
    char buffer[MAX_PATH];
    machine.environment["TMP"] = "C:\\Windows\\Temp";
    machine.environment["TEMP"] = "C:\\Users\\setup\\Temp";
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 16u);
    EXPECT_STREQ(buffer, "C:\\Windows\\Temp\\") << "always with a trailing backslash";
    machine.environment.erase("TMP");
    machine.environment["TEMP"] = "Relative\\Temp\\";
    GetTempPathA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Program Files\\Relative\\Temp\\") << "a full path";
    machine.environment.erase("TEMP");
    machine.environment["USERPROFILE"] = "C:\\Users\\setup";
    GetTempPathA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Users\\setup\\");
    machine.environment.erase("USERPROFILE");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetTempPathA(11, buffer), 12u) << "too small: the size it needs, terminator included";
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetTempPathA(12, buffer), 11u);
    EXPECT_STREQ(buffer, "C:\\Windows\\");
}

TEST_F(PathNames, RemoveDirectoryTakesOnlyAnEmptyFolder) {
    machine.makeDirs("C:\\Gone\\Inner");
    EXPECT_FALSE(RemoveDirectoryA("C:\\Gone"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA("C:\\Program Files\\Long Directory Name\\readme.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_TRUE(RemoveDirectoryA("c:\\gone\\inner"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\Gone\\"));
    EXPECT_FALSE(machine.dirExists("C:\\Gone"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\Gone"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A folder whose list does not let the token write stays.
    machine.makeDirs("C:\\Kept");
    winsim::AccessList list;
    list.owner = winsim::kSidSystem;
    list.isProtected = true;
    list.entries = {{winsim::kSidSystem, true, true}};
    machine.setAccessList("C:\\Kept", list);
    machine.token.administrator = false;
    EXPECT_FALSE(RemoveDirectoryA("C:\\Kept"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(machine.dirExists("C:\\Kept"));
}

}  // namespace
