// StreamFileFromBinary: a Binary row's stream written into a new file, byte for byte.
#include "fixture.h"
#include "runtime/runtime_extraction.h"

#include <gmock/gmock.h>

#include <random>

using namespace fa9test;

namespace {

using RuntimeExtraction = SessionTest;

// Sizes of no read, of one whole 64 KB read and of several and a bit; bytes that differ
// from one position to the next, so a chunk written twice, dropped or out of order shows.
TEST_F(RuntimeExtraction, AStreamIsWrittenByteForByte) {
    unique_msihandle database(MsiGetActiveDatabase(session.handle()));
    machine.makeDirs("C:\\Out");
    for (const size_t size : {0, 65536, 3 * 65536 + 1}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        std::mt19937 random(static_cast<unsigned>(size));
        for (char& b : bytes) b = static_cast<char>(random());
        const std::string row = "row" + std::to_string(size), file = "C:\\Out\\" + row;
        session.database().addBinary(row, bytes);
        EXPECT_EQ(StreamFileFromBinary(session.handle(), database.get(), row.c_str(), file.c_str()), 0u);
        EXPECT_TRUE(machine.readFile(file) == bytes) << "the file differs from its row";
    }
}

// 2 for a name taken (nothing changed, nothing logged), 1 for any other failure, logged,
// without a file, or a half one, left behind.
TEST_F(RuntimeExtraction, AFileThatCannotBeWrittenWholeIsNotThere) {
    unique_msihandle database(MsiGetActiveDatabase(session.handle()));
    session.database().addBinary("row", std::string(5000, 'x'));
    machine.writeFile("C:\\Out\\taken", "someone else's");
    const struct {
        const char* row, *file;
        unsigned long long freeBytes;
        UINT rc;
        std::vector<std::string> log;
    } rows[] = {
        {"row", "C:\\Out\\taken", 1ull << 40, 2, {}},
        {"none", "C:\\Out\\none", 1ull << 40, 1, {logged("MsiViewFetch failed with return code '259'.")}},
        {"row", "C:\\Gone\\row", 1ull << 40, 1, {logged("Failed to create the C:\\Gone\\row file")}},
        {"row", "C:\\Out\\row", 4000, 1, {}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        session.clearLog();
        machine.setVolumeFreeSpace('C', row.freeBytes);
        EXPECT_EQ(StreamFileFromBinary(session.handle(), database.get(), row.row, row.file), row.rc);
        EXPECT_EQ(log(), row.log);
        EXPECT_EQ(machine.fileExists(row.file), row.rc == 2);
    }
    EXPECT_EQ(machine.readFile("C:\\Out\\taken"), "someone else's");
}

}  // namespace
