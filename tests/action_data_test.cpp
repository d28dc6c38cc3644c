// The installer's action data: the text's entries, and what PreProcessInstallCA hands
// each script row of this library.
#include "actions/exports.h"
#include "fixture.h"
#include "session/action_data.h"
#include "winsim/package_copy.h"

using namespace fa9test;
using winsim::Cell;
using winsim::Hive;

namespace {

const char* kPackage = "C:\\Windows\\Installer\\5fa9c.msi";

// The first entry of the name, unescaped; a "%" without two hex digits, or an entry
// without "=", before it leaves the data unreadable. Any text comes back as it went.
TEST(ActionDataText, FindsTheFirstEntryOfTheName) {
    const struct { const char* label; std::string data; const char* name; ActionEntry result; const char* value; }
        cases[] = {
        {"empty value", "A=;B=2", "A", ActionEntry::Found, ""},
        {"first wins", "A=1;A=2", "A", ActionEntry::Found, "1"},
        {"escapes", "P%3Dq=a%3Bb%3Dc%25d%3b", "P=q", ActionEntry::Found, "a;b=c%d;"},
        {"escape at the end", "A=%2", "A", ActionEntry::Malformed, ""},
        {"bad escape", "A=%zz;B=1", "B", ActionEntry::Malformed, ""},
        {"entry without equals", "A;B=1", "B", ActionEntry::Malformed, ""},
        {"after the match is not read", "A=1;%", "A", ActionEntry::Found, "1"},
        {"trailing separator", "A=1;", "B", ActionEntry::Absent, ""},
        {"embedded NUL ends nothing", std::string("A=x\0y;B=2", 9), "B", ActionEntry::Found, "2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::string value;
        const std::string padded = c.data + "FF";  // hex digits a read beyond the size given would take
        EXPECT_EQ(iFindActionEntry(padded.data(), c.data.size(), c.name, value), c.result);
        if (c.result == ActionEntry::Found) { EXPECT_EQ(value, c.value); }
    }
    std::string data, value;
    for (const auto& [name, text] : {std::pair<const char*, const char*>{"A;B", "x=y;z%"}, {"%41", "%41"}}) {
        iAppendActionEntry(data, name, text);
        ASSERT_EQ(iFindActionEntry(data.data(), data.size(), name, value), ActionEntry::Found) << name;
        EXPECT_EQ(value, text);
    }
}

class ActionData : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        session.database().createTable("CustomAction", {"Action", "Type", "Source", "Target"});
        const std::tuple<const char*, int, const char*, const char*> rows[] = {
            {"PreProcessInstallCA", 1, "FA9WOLT_DLL", "PreProcessInstallCA"},
            {"RegisterWOLTKeysCA", 3073, "FA9WOLT_DLL", "RegisterWOLTKeysCA"},
            {"RollbackRegisterWOLTKeys", 3329, "FA9WOLT_DLL", "RemoveWOLTKeysCA"},
            {"CopyVC80AssembliesCA", 3073, "FA9WOLT_DLL", "CopyVC80AssembliesCA"},
            {"CommitTemplates", 3585, "FA9WOLT_DLL", "SetupWOLTTemplateCA"},
            {"OtherLibrarysRow", 3073, "OTHER_DLL", "RegisterWOLTKeysCA"},
            {"ImmediateRow", 1, "FA9WOLT_DLL", "RegisterWOLTKeysCA"},
            {"NotAnExportOfOurs", 3073, "FA9WOLT_DLL", "SomethingElse"}};
        for (const auto& [action, type, source, target] : rows)
            session.database().insertRow("CustomAction", {Cell::str(action), Cell::integer(type), Cell::str(source),
                                                          Cell::str(target)});
        session.setProperty("DATABASE", kPackage);
        session.setProperty("ProductLanguage", "1033");
        session.setProperty("PROP_RSP_DAS_PASSWORD", "secret");
    }
    std::optional<std::string> entry(const char* action, const char* name) {
        const std::string data = session.property(action);
        std::string value;
        if (iFindActionEntry(data.data(), data.size(), name, value) != ActionEntry::Found) return std::nullopt;
        return value;
    }
};

// Each row gets what its export reads (an unset name empty), never the store's secrets.
TEST_F(ActionData, EachScriptRowOfThisLibraryGetsWhatItsExportReads) {
    // A store left by an earlier run is gone before the new one is written.
    machine.registry().setString(Hive::Users, store, "STALE_NAME", "from last week");
    machine.registry().setString(Hive::Users, store + "\\Leftover", "x", "y");
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    const std::optional<std::string> none;
    const std::tuple<const char*, const char*, std::optional<std::string>> handed[] = {
        {"RegisterWOLTKeysCA", "INSTALLDIR", "C:\\Tools\\WOLT\\"}, {"RegisterWOLTKeysCA", "ProductLanguage", "1033"},
        {"RegisterWOLTKeysCA", "FA9_PROGRAM_TIMEOUT", ""},         {"RegisterWOLTKeysCA", "DATABASE", kPackage},
        {"RegisterWOLTKeysCA", "PROP_RSP_DAS_PASSWORD", none},     {"RollbackRegisterWOLTKeys", "INSTALLDIR", none},
        {"CommitTemplates", "REMOVE", ""}};
    for (const auto& [action, name, value] : handed) EXPECT_EQ(entry(action, name), value) << action << " " << name;
    for (const char* untouched : {"OtherLibrarysRow", "ImmediateRow", "NotAnExportOfOurs"})
        EXPECT_FALSE(session.hasProperty(untouched)) << untouched;
    EXPECT_EQ(stored("PROP_RSP_DAS_PASSWORD"), "secret");
    EXPECT_EQ(stored("STALE_NAME"), std::nullopt);
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, store + "\\Leftover"));
    // A row the installer will not take fails the action.
    session.failSetProperty("CopyVC80AssembliesCA", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
    // A package without its own row hands nothing.
    session.database().rows("CustomAction").erase(session.database().rows("CustomAction").begin());
    session.removeProperty("RegisterWOLTKeysCA");
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_FALSE(session.hasProperty("RegisterWOLTKeysCA"));
}

// A run that applies no transform and no patch (in maintenance: none registered with the
// product or applied to it) takes the Property table's names and the CustomAction rows
// from the installer's copy of the package; anywhere else the session's tables answer,
// with what a transform added to them.
TEST_F(ActionData, TheInstallersCopyAnswersOnlyWhereTheSessionsTablesAreItsOwn) {
    session.setProperty("ProductCode", "{5FA9C0DE-1111-4222-8333-944455556666}");
    session.writePackageCopy(kPackage);
    session.database().insertRow("Property", {Cell::str("ZZ_TRANSFORMED"), Cell::str("x")});
    session.setProperty("ZZ_TRANSFORMED", "added");
    session.database().insertRow("CustomAction", {Cell::str("TransformedRow"), Cell::integer(3073),
                                                  Cell::str("FA9WOLT_DLL"), Cell::str("RegisterWOLTMachineCfgCA")});
    using Registration = winsim::Machine::ProductRegistration;
    const Registration plain, patched{{"{5FA9C0DE-AAAA-4BBB-8CCC-DDDDEEEEFFFF}"}, ""},
        transformed{{}, "C:\\Windows\\Installer\\{5FA9C0DE-1111-4222-8333-944455556666}\\site.mst"};
    const char* const installed = "2026/12/01 10:00:00";
    // The product's registration stays from one case to the next.
    // A transform file that adds the Property row (string ids 1 the name, 2 the value).
    machine.writeFile("C:\\Setup\\site.mst",
                      winsim::compoundFile({{u"\x4840" + winsim::msiStreamName("_StringPool"),
                                             std::string("\0\0\0\0\x0e\0\1\0\1\0\1\0", 12)},
                                            {u"\x4840" + winsim::msiStreamName("_StringData"), "ZZ_TRANSFORMEDx"},
                                            {u"\x4840" + winsim::msiStreamName("Property"),
                                             std::string("\1\2\1\0\2\0", 6)}}));
    // A name without its folder is the installer's to complete: the one in this process's
    // folder is not the file it read.
    machine.copyFileIn(machine.hostPath("C:\\Setup\\site.mst"), machine.currentDirectory() + "\\site.mst");
    // fromCopy: the table's names (and so the rows) from the copy; rowsFromCopy: its rows only.
    const struct { const char* label; const char* name; const char* value; bool fromCopy; const Registration* product;
        bool rowsFromCopy = false;
    } cases[] = {
        {"a first installation", "TRANSFORMS", "", true, nullptr},
        {"a transform of the package", "TRANSFORMS", ":Instance1.mst", false, nullptr},
        {"a transform file", "TRANSFORMS", "C:\\Setup\\site.mst", false, nullptr, true},
        {"a transform beside the package", "TRANSFORMS", "site.mst", false, nullptr},
        {"a patch", "PATCH", "C:\\Updates\\fix.msp", false, nullptr},
        {"maintenance of a product the installer does not know", "Installed", installed, false, nullptr},
        {"maintenance", "Installed", installed, true, &plain},
        {"a patch removed", "MSIPATCHREMOVE", "{5FA9C0DE-AAAA-4BBB-8CCC-DDDDEEEEFFFF}", false, &plain},
        {"maintenance of a patched product", "Installed", installed, false, &patched},
        {"maintenance with a transform applied at installation", "Installed", installed, false, &transformed},
        {"another product's copy", "ProductCode", "{5FA9C0DE-1111-4222-8333-000000000000}", false, nullptr},
        {"a copy others can change", "TRANSFORMS", "", false, nullptr}};  // last: its list stays
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (&c == &cases[std::size(cases) - 1]) machine.setAccessList(kPackage, {"", false, {{winsim::kSidEveryone}}});
        if (c.product) machine.setProduct(session.property("ProductCode"), *c.product);
        const std::string before = session.property(c.name);
        session.setProperty(c.name, c.value);
        session.removeProperty("TransformedRow");
        ASSERT_EQ(run(PreProcessInstallCA), 0u);
        EXPECT_EQ(stored("ZZ_TRANSFORMED"), c.fromCopy ? std::nullopt : std::optional<std::string>("added"));
        EXPECT_EQ(session.hasProperty("TransformedRow"), !c.fromCopy && !c.rowsFromCopy);
        EXPECT_EQ(stored("ZZ_PACKAGE_ONLY"), "only in the Property table");
        session.setProperty(c.name, before);
    }
}

}  // namespace
