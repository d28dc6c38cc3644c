#include "fixture.h"

#include "frame/message_strings.h"
#include "frame/ure.h"
#include "oss_mem.h"

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
    machine.setCurrentDirectory(kRuntimeDir);
    session.setProperty("pFA9RuntimeDirectory", kRuntimeDir);
}

}  // namespace fa9test

#include "frame/custom_action_context.h"

namespace fa9test {

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
