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
