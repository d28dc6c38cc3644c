// On the host the engine runs on the simulated Windows: the file to check and the built
// string libraries are copied into a machine of their own. A file that P() rules name
// must lie in the same folder in that machine, so rules that look for other files fail
// here; run the Windows build for those.
#include "frame/ure.h"
#include "rspcheck/platform.h"
#include "winsim/control.h"

#include <cstdlib>
#include <filesystem>

namespace {
const char kFolder[] = "C:\\rspcheck";
}

std::string rspcheckPrepare(const char* file) {
    static winsim::Machine machine;
    namespace fs = std::filesystem;
    for (const char* locale : {"en_US", "de_DE", "ja_JP"}) {
        std::string built = std::string(FA9_STRINGS_DIR) + "/" + locale + "/fa9istring_v97.dll";
        std::error_code ec;
        if (fs::is_regular_file(built, ec))
            machine.copyFileIn(built, std::string(kFolder) + "\\locale\\" + locale + "\\fa9istring_v97.dll");
    }
    if (const char* prog = std::getenv("PROGNAME")) machine.environment["PROGNAME"] = prog;
    URE::instance()->setRuntimeDirectory(kFolder);
    std::string name = fs::path(file).filename().string();
    if (name.empty()) name = "response.rsp";
    std::string inside = std::string(kFolder) + "\\files\\" + name;
    std::error_code ec;
    if (fs::is_directory(file, ec))
        machine.makeDirs(inside);
    else if (fs::is_regular_file(file, ec))
        machine.copyFileIn(file, inside);
    else
        machine.makeDirs(std::string(kFolder) + "\\files");
    return inside;
}
