// On Windows the string libraries lie beside the program: <folder>\locale\<locale>\.
#include "frame/ure.h"
#include "platform/win32.h"
#include "rspcheck/platform.h"

std::string rspcheckPrepare(const char* file) {
    char module[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::string folder(module, n);
        size_t slash = folder.find_last_of("\\/");
        if (slash != std::string::npos) URE::instance()->setRuntimeDirectory(folder.substr(0, slash).c_str());
    }
    return file;
}
