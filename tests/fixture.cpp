#include "fixture.h"

#include "frame/custom_action_context.h"
#include "frame/message_strings.h"
#include "frame/ure.h"
#include "oss_mem.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace fa9test {

SessionTest::SessionTest() {
    machine.registerNativeModule("fa9osse_install3.dll",
                                 {{"_ossMemAlloc", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&_ossMemAlloc))},
                                  {"_ossMemFree", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&_ossMemFree))}});
}

SessionTest::~SessionTest() {
    URE::destroy();
    ureReleaseStringLibraries();
}

void SessionTest::installRuntime(const std::string& strings, bool withAllocator) {
    machine.copyFileIn(strings, std::string(kRuntimeDir) + "\\fa9istring_v97.dll");
    if (withAllocator) machine.copyFileIn(FA9_OSSE_DLL, std::string(kRuntimeDir) + "\\fa9osse_install3.dll");
    // As an elevated extraction makes it: for SYSTEM and Administrators alone.
    machine.setAccessList(kRuntimeDir, {winsim::kSidAdministrators, true, {{winsim::kSidSystem}, {winsim::kSidAdministrators}}});
    machine.setCurrentDirectory(kRuntimeDir);
    session.setProperty("pFA9RuntimeDirectory", kRuntimeDir);
}

void putProgramFiles(winsim::Session& session, const std::string& folder) {
    for (const char* file : kProgramFiles) {
        const std::string path = folder + "\\" + file;
        // Compared as text: every file that includes the list may hold its own copy of the literals.
        if (std::string(file) == kProgramFiles[0])
            session.machine().copyFileIn(FA9_STANDINS_DIR "/commontoolreg", path);
        else
            session.machine().writeFile(path, "assembly file " + rowOf(file));
        session.database().addBinary(rowOf(file), session.machine().readFile(path));
    }
}

void writeScriptPackage(winsim::Session& session, const char* productCode) {
    session.setProperty("ProductCode", productCode);
    session.writePackageCopy(kScriptPackage);
}

void RegistrationTest::SetUp() {
    installRuntime(stringLibrary("en_US"));
    machine.makeDirs(kInstallDir);  // installed by then: the program is handed it held
    putProgramFiles(session, kRuntimeDir);
    session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntimeDir);
    session.setProperty("ProductName", "Add-ins for Visual Studio");
    session.setProperty("INSTALLDIR", kInstallDir);
    session.setProperty("UILevel", "5");
}

void ToolsPath::install(winsim::Machine& machine, winsim::Session& session) {
    session.setProperty("ProductCode", kProduct);
    session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntimeDir);
    machine.environment["Path"] = kOld;
    machine.setComponent(kProduct, kComponent, INSTALLSTATE_LOCAL, kDir);
}

std::vector<std::string> runtimeRows() {
    std::vector<std::string> rows;
    for (const char* file : kProgramFiles) rows.push_back(rowOf(file));
    rows.insert(rows.end(), {"fa9genreg_install3.dll", "fa9osse_install3.dll", "fa9install_install3.dll"});
    std::rotate(rows.begin(), rows.begin() + 1, rows.end());  // the registration program last
    return rows;
}

void addRuntimeRows(winsim::Session& session, const std::function<std::string(const std::string& row)>& bytes) {
    for (const std::string& row : runtimeRows()) session.database().addBinary(row, bytes(row));
    for (const char* locale : {"en_US", "de_DE"}) {
        std::ifstream in(stringLibrary(locale), std::ios::binary);
        std::string row = std::string("FA9ISTRING_") + locale;
        std::transform(row.begin(), row.end(), row.begin(), ::toupper);
        session.database().addBinary(row, std::string(std::istreambuf_iterator<char>(in), {}));
    }
}

void StoreTest::SetUp() {
    installRuntime(stringLibrary("en_US"));
    machine.registry().createKey(winsim::Hive::Users, sid);
    session.setProperty("UserSID", sid);
    session.database().createTable("Property", {"Property", "Value"});
    for (const char* name : {"ProductName", "INSTALLDIR", "ZZ_PACKAGE_ONLY"})
        session.database().insertRow("Property", {winsim::Cell::str(name), winsim::Cell::str("x")});
    session.setProperty("ProductName", "Add-ins for Visual Studio");
    session.setProperty("INSTALLDIR", "C:\\Tools\\WOLT\\");
    session.setProperty("ZZ_PACKAGE_ONLY", "only in the Property table");
    session.setProperty("SILENT_MODE", "1");
}

void FrameTest::SetUp() {
    installRuntime(frameStrings("en_US"));
    session.setProperty("GENERIC_DLG_TITLE", "Add-ins Setup");
}

int FrameTest::report(uint32_t flags, uint32_t message, const char* token, bool silent) {
    CustomActionContext context(session.handle());
    if (silent) URE::instance()->setSilent(true);
    MsgTokenHolder holder;
    holder.addString(token ? token : "");
    return ureReport(flags, "test", 5, 9, message, token ? &holder : nullptr, 0, true);
}

void FrameTest::forgetOutput() {
    session.clearLog();
    machine.messageBoxes.clear();
    session.installerBoxes.clear();
}

}  // namespace fa9test
