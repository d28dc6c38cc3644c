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

void putProgramFiles(winsim::Session& session, const std::string& folder) {
    for (const char* file : kProgramFiles) {
        const std::string path = folder + "\\" + file;
        if (file == kProgramFiles[0])
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

}  // namespace fa9test
